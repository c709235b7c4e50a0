"""VIF_panel and VIF_ms_panel: grids, cell titles, failed cells, lookups, saving and showing."""

import matplotlib
import matplotlib.pyplot as plt
import pytest
from matplotlib.collections import LineCollection, PathCollection
from PIL import Image

import tessarin
from support.pubchem import COMPOUNDS, pubchem_server  # noqa: F401  (pytest fixture)

GREY = matplotlib.colors.to_hex("gray")
PATH = "/rest/pug/compound/{}/{}/property/SMILES/JSON"
SMILES_OF = {name: smiles for name, _cid, smiles in COMPOUNDS}


@pytest.fixture(autouse=True)
def shown(monkeypatch):
    calls = []
    monkeypatch.setattr(plt, "show", lambda *a, **k: calls.append(1))
    yield calls
    plt.close("all")


def lpi_title(label, smiles):
    lpi = tessarin.VIF(smiles, draw=False, verbose=False)["lpi"]
    return f"{label}\nLPI={{{lpi['n+']},{lpi['n0']},{lpi['n-']}}}"


def title_of(ax):
    return ax.get_title(), ax.title.get_fontsize(), matplotlib.colors.to_hex(ax.title.get_color())


def spectrum_title(label):
    return f"Tessarin predicted EI-MS fragments: {label}"


@pytest.mark.parametrize("by", ["smiles", "Name"])
def test_vif_panel_by_smiles(monkeypatch, by):
    monkeypatch.setattr(tessarin, "PUBCHEM_REST", "http://127.0.0.1:9/nowhere")  # a lookup would fail
    items = ["CC(=O)Cl", "C1CC", "[*]C", "[Si](C)(C)(C)C", "C"]
    fig = tessarin.VIF_panel(items, by=by, cols=4, node_size=25)

    assert fig.get_size_inches().tolist() == pytest.approx([12.8, 6.8])
    axes = fig.axes
    assert len(axes) == 8 and not any(ax.axison for ax in axes)
    assert [(ax.get_subplotspec().rowspan.start, ax.get_subplotspec().colspan.start) for ax in axes] == [
        (i // 4, i % 4) for i in range(8)
    ]
    # An unreadable SMILES and one VIF rejects both give an empty grey error cell; the rest is drawn.
    assert title_of(axes[1]) == ("C1CC\n(error)", 9, GREY) and len(axes[1].collections) == 0
    assert title_of(axes[2]) == ("[*]C\n(error)", 9, GREY)
    assert [ax.get_title() for ax in axes[5:]] == ["", "", ""]
    assert fig._suptitle.get_text() == "VIF analysis \u2014 key molecules in human biochemistry"
    assert fig._suptitle.get_fontsize() == 13 and fig._suptitle.get_position()[1] == 0.99

    for ax, smiles in zip(axes[::3], ["CC(=O)Cl", "[Si](C)(C)(C)C"]):
        assert title_of(ax) == (lpi_title(smiles, smiles), 9, "#000000") and ax.get_aspect() == 1.0
        result = tessarin.VIF(smiles, draw=False, verbose=False)
        graph, n_soft = result["graph"], len(result["soft_bonds"])
        (nodes,) = [c for c in ax.collections if isinstance(c, PathCollection)]
        assert set(nodes.get_sizes()) == {25}
        assert [matplotlib.colors.to_hex(c) for c in nodes.get_facecolors()] == [
            matplotlib.colors.to_hex(
                {"C": "red", "H": "skyblue", "Cl": "lightgreen", "O": "red"}.get(graph.nodes[n]["symbol"], "gray")
            )
            for n in graph.nodes
        ]  # silicon: gray
        edges = [c for c in ax.collections if isinstance(c, LineCollection)]
        assert [len(e.get_segments()) for e in edges] == [graph.number_of_edges() - n_soft] + [n_soft] * bool(n_soft)
        assert [(matplotlib.colors.to_hex(e.get_colors()[0]), e.get_linewidths()[0]) for e in edges] == [
            ("#000000", 0.8),
            (matplotlib.colors.to_hex("red"), 1.3),
        ][: len(edges)]
    assert len(tessarin.VIF("CC(=O)Cl", draw=False, verbose=False)["soft_bonds"]) > 0


def test_panels_by_name_against_local_pubchem(pubchem_server):
    fig = tessarin.VIF_panel()  # the ten BIOMOLECULES
    assert fig.get_size_inches().tolist() == pytest.approx([16, 6.8])
    assert [ax.get_title() for ax in fig.axes] == [lpi_title(n, SMILES_OF[n]) for n in tessarin.BIOMOLECULES]
    assert pubchem_server.paths == [PATH.format("name", n.replace(" ", "%20")) for n in tessarin.BIOMOLECULES]

    fig = tessarin.VIF_ms_panel()
    assert fig.get_size_inches().tolist() == pytest.approx([11, 14])
    assert [ax.get_title() for ax in fig.axes] == [spectrum_title(n) for n in tessarin.BIOMOLECULES]

    pubchem_server.add("name", "broken", {"oops": 1}, status=503)
    fig = tessarin.VIF_panel(["water", "unobtainium", "broken"], cols=2)
    assert title_of(fig.axes[1]) == ("unobtainium\n(not found)", 9, GREY) and len(fig.axes[1].collections) == 0
    assert title_of(fig.axes[2]) == ("broken\n(not found)", 9, GREY)
    assert fig.axes[0].get_title() == lpi_title("water", "O")  # neighbours are drawn
    fig = tessarin.VIF_ms_panel(["water", "unobtainium", "urea"])
    assert title_of(fig.axes[1]) == ("unobtainium (not found)", 9, GREY)
    assert fig.axes[1].axison and not fig.axes[3].axison  # failed cells keep their frame, blank ones not


def test_panels_by_cid_look_up_identifiers(pubchem_server):
    fig = tessarin.VIF_panel([962, "750", 4242], by="cid", cols=3)
    assert [ax.get_title() for ax in fig.axes] == [
        lpi_title(962, "O"),
        lpi_title("750", "C(C(=O)O)N"),
        "4242\n(not found)",
    ]
    assert pubchem_server.paths == [PATH.format("cid", q) for q in ("962", "750", "4242")]
    fig = tessarin.VIF_ms_panel([176, 4242], by="cid")
    assert [ax.get_title() for ax in fig.axes] == [spectrum_title(176), "4242 (not found)"]


def test_ms_panel_by_smiles():
    fig = tessarin.VIF_ms_panel(["CCl", "C1CC", "[*]C", "CC(=O)O", "O"], by="smiles")
    assert fig.get_size_inches().tolist() == pytest.approx([11, 8.4])
    axes = fig.axes
    assert len(axes) == 6
    assert title_of(axes[0]) == (spectrum_title("CCl"), 9, "#000000")
    assert title_of(axes[1]) == ("C1CC (error)", 9, GREY) and title_of(axes[2]) == ("[*]C (error)", 9, GREY)
    assert axes[1].axison and len(axes[1].collections) == 0 and not axes[5].axison
    result = tessarin.VIF("CC(=O)O", draw=False, verbose=False)
    peaks = {result["mol_mass"]} | {mz for e in result["fragments"] if e["split"] for _f, _m, mz in e["fragments"]}
    assert {t.xy[0] for t in axes[3].texts} == peaks
    assert axes[3].get_ylabel() == "(schematic \u2014\nintensities are not predicted)"  # folded to fit
    assert fig._suptitle.get_text() == "VIF-predicted mass spectra \u2014 biomolecules"
    assert fig._suptitle.get_fontsize() == 13 and fig._suptitle.get_position()[1] == 1.0


def test_options_are_handed_to_vif(monkeypatch):
    calls = []
    real = tessarin.VIF

    def recording(smiles, **kwargs):
        calls.append((smiles, kwargs))
        return dict(real(smiles, **dict(kwargs, recursive_ms=False)), recursive_peaks={46: {}})

    monkeypatch.setattr(tessarin, "VIF", recording)
    tessarin.VIF_ms_panel(["CCO"], by="smiles", ring_fragmentation=True, recursive_ms=True)
    tessarin.VIF_panel(["CCO"], by="smiles", bond_kappa=0.7)
    assert calls == [
        ("CCO", {"draw": False, "verbose": False, "ring_fragmentation": True, "recursive_ms": True}),
        ("CCO", {"draw": False, "verbose": False, "bond_kappa": 0.7}),
    ]


def test_ms_panel_with_recursive_fragmentation():
    fig = tessarin.VIF_ms_panel(["CCO", "c1ccccc1O"], by="smiles", recursive_ms=True)
    assert [ax.get_title() for ax in fig.axes] == [spectrum_title("CCO"), spectrum_title("c1ccccc1O")]


@pytest.mark.parametrize("panel", [tessarin.VIF_panel, tessarin.VIF_ms_panel])
def test_panels_save_png_before_showing(panel, tmp_path, monkeypatch):
    path = tmp_path / "panel.png"
    seen = []
    monkeypatch.setattr(plt, "show", lambda *a, **k: seen.append(path.exists()))
    assert panel(["O", "CC"], by="smiles", save=str(path)) is plt.gcf()
    assert seen == [True]
    with Image.open(path) as im:
        assert im.info["dpi"] == pytest.approx((110, 110), abs=0.1)

    path.unlink()
    for false_value in (None, "", 0):
        panel(["O"], by="smiles", save=false_value)
    assert seen == [True, False, False, False] and list(tmp_path.iterdir()) == []
    with pytest.raises(OSError):
        panel(["O"], by="smiles", save=str(tmp_path / "missing" / "x.png"))
    assert len(seen) == 4


@pytest.mark.parametrize("panel", [tessarin.VIF_panel, tessarin.VIF_ms_panel])
@pytest.mark.parametrize(
    "kwargs, error, words",
    [
        ({"molecules": []}, ValueError, "no molecules"),
        ({"molecules": "water"}, TypeError, "single string"),
        ({"cols": 0}, ValueError, "cols must be at least 1"),
        ({"cols": 2.5}, TypeError, "cols must be a whole number"),
    ],
)
def test_bad_arguments_are_refused_before_drawing(panel, kwargs, error, words, shown):
    with pytest.raises(error, match=words):
        panel(**dict({"molecules": ["O"], "by": "smiles"}, **kwargs))
    assert plt.get_fignums() == [] and shown == []
