"""VIF_panel and VIF_ms_panel: grids, cell titles, failed cells, lookups, saving and showing."""

import matplotlib
import matplotlib.pyplot as plt
import pytest
from matplotlib.collections import LineCollection, PathCollection
from PIL import Image

import tessarin
from local_pubchem import COMPOUNDS, pubchem_server  # noqa: F401  (pytest fixture)

GREY = matplotlib.colors.to_hex("gray")
PANEL_TITLE = "VIF analysis \u2014 key molecules in human biochemistry"
MS_PANEL_TITLE = "VIF-predicted mass spectra \u2014 biomolecules"
PATH = "/rest/pug/compound/{}/{}/property/SMILES/JSON"


@pytest.fixture(autouse=True)
def close_figures():
    yield
    plt.close("all")


@pytest.fixture
def shown(monkeypatch):
    """Figures handed to plt.show, with whether the file to be saved existed at that moment."""
    calls = []
    monkeypatch.setattr(plt, "show", lambda *a, **k: calls.append(plt.get_fignums()))
    return calls


def lpi_title(label, smiles):
    lpi = tessarin.VIF(smiles, draw=False, verbose=False)["lpi"]
    return f"{label}\nLPI={{{lpi['n+']},{lpi['n0']},{lpi['n-']}}}"


def cell(ax):
    """(row, column) of an axes in its grid."""
    spec = ax.get_subplotspec()
    return spec.rowspan.start, spec.colspan.start


def title_of(ax):
    t = ax.title
    return t.get_text(), t.get_fontsize(), matplotlib.colors.to_hex(t.get_color())


def graph_artists(ax):
    nodes = [c for c in ax.collections if isinstance(c, PathCollection)]
    edges = [c for c in ax.collections if isinstance(c, LineCollection)]
    return nodes, edges


def png_dpi(path):
    with Image.open(path) as im:
        return im.info["dpi"]


@pytest.mark.parametrize("by", ["smiles", "SMILES", "Name", None])
def test_vif_panel_by_smiles(monkeypatch, shown, by):
    def no_lookup(*a, **k):
        raise AssertionError("no lookup expected")
    monkeypatch.setattr(tessarin, "fetch_smiles_from_pubchem", no_lookup)
    items = ["O", "CC(=O)Cl", "C1CC", "[*]C", "[Si](C)(C)(C)C", "C"]
    fig = tessarin.VIF_panel(items, by=by, cols=4)

    assert fig.get_size_inches().tolist() == pytest.approx([12.8, 6.8])
    axes = fig.axes
    assert len(axes) == 8 and [cell(ax) for ax in axes] == [(i // 4, i % 4) for i in range(8)]
    assert not any(ax.axison for ax in axes)  # every cell, drawn, failed or blank, is frameless
    assert title_of(axes[0]) == (lpi_title("O", "O"), 9, "#000000")
    # An unreadable SMILES and one VIF rejects both give an error cell; the rest is drawn.
    assert title_of(axes[2]) == ("C1CC\n(error)", 9, GREY)
    assert title_of(axes[3]) == ("[*]C\n(error)", 9, GREY)
    assert len(axes[2].collections) == 0 and len(axes[3].collections) == 0
    assert title_of(axes[5]) == (lpi_title("C", "C"), 9, "#000000")
    assert [ax.get_title() for ax in axes[6:]] == ["", ""]
    assert fig._suptitle.get_text() == PANEL_TITLE
    assert fig._suptitle.get_fontsize() == 13 and fig._suptitle.get_position()[1] == 0.99
    assert len(shown) == 1


def test_vif_panel_cells_draw_soft_edges_and_colour_nodes(shown):
    fig = tessarin.VIF_panel(["CC(=O)Cl", "[Si](C)(C)(C)C", "C"], by="smiles", cols=3, node_size=25,
                             bond_kappa=0.8)
    for ax, smiles in zip(fig.axes, ["CC(=O)Cl", "[Si](C)(C)(C)C", "C"]):
        result = tessarin.VIF(smiles, draw=False, verbose=False, bond_kappa=0.8)
        graph, n_soft = result["graph"], len(result["soft_bonds"])
        (nodes,), edges = graph_artists(ax)
        assert len(nodes.get_offsets()) == graph.number_of_nodes()
        assert set(nodes.get_sizes()) == {25}
        colours = [matplotlib.colors.to_hex(c) for c in nodes.get_facecolors()]
        expected = [matplotlib.colors.to_hex({"C": "red", "H": "skyblue", "Cl": "lightgreen", "O": "red"}
                                             .get(graph.nodes[n]["symbol"], "gray")) for n in graph.nodes]
        assert colours == expected  # silicon is not in the map: gray
        normal = edges[0]
        assert len(normal.get_segments()) == graph.number_of_edges() - n_soft
        assert matplotlib.colors.to_hex(normal.get_colors()[0]) == "#000000"
        assert normal.get_linewidths()[0] == 0.8
        if n_soft:
            soft = edges[1]
            assert len(soft.get_segments()) == n_soft
            assert matplotlib.colors.to_hex(soft.get_colors()[0]) == matplotlib.colors.to_hex("red")
            assert soft.get_linewidths()[0] == 1.3 and soft.get_linestyle()[0][1] is not None
        else:
            assert len(edges) == 1  # no soft bonds: everything solid black
        assert ax.get_aspect() == 1.0
    assert len(tessarin.VIF("CC(=O)Cl", draw=False, verbose=False)["soft_bonds"]) > 0


def test_vif_panel_by_name_against_local_pubchem(pubchem_server, shown):
    fig = tessarin.VIF_panel()  # the ten BIOMOLECULES, looked up by name
    assert fig.get_size_inches().tolist() == pytest.approx([16, 6.8])
    assert len(fig.axes) == 10
    assert pubchem_server.paths == [PATH.format("name", name.replace(" ", "%20"))
                                    for name in tessarin.BIOMOLECULES]
    smiles_of = {name: smiles for name, _cid, smiles in COMPOUNDS}
    assert [ax.get_title() for ax in fig.axes] == [lpi_title(name, smiles_of[name])
                                                   for name in tessarin.BIOMOLECULES]

    plt.close("all")
    pubchem_server.add("name", "broken", {"nothing": 1}, status=503)
    fig = tessarin.VIF_panel(["water", "unobtainium", "glycine", "broken"], cols=2)
    axes = fig.axes
    assert title_of(axes[0]) == (lpi_title("water", "O"), 9, "#000000")
    assert title_of(axes[1]) == ("unobtainium\n(not found)", 9, GREY)
    assert len(axes[1].collections) == 0
    assert len(graph_artists(axes[2])[0]) == 1  # the neighbour is drawn
    assert title_of(axes[3]) == ("broken\n(not found)", 9, GREY)


def test_panels_by_cid_look_up_identifiers(pubchem_server, shown):
    fig = tessarin.VIF_panel([962, "750", 4242], by="cid", cols=3)
    assert [ax.get_title() for ax in fig.axes] == [lpi_title(962, "O"), lpi_title("750", "C(C(=O)O)N"),
                                                   "4242\n(not found)"]
    assert pubchem_server.paths == [PATH.format("cid", q) for q in ("962", "750", "4242")]

    fig = tessarin.VIF_ms_panel([176, 4242], by="cid")
    assert [ax.get_title() for ax in fig.axes] == ["Tessarin predicted EI-MS fragments: 176", "4242 (not found)"]


def test_unreachable_pubchem_marks_every_cell_not_found(monkeypatch, shown):
    monkeypatch.setattr(tessarin, "PUBCHEM_REST", "http://127.0.0.1:9/rest/pug/compound")
    monkeypatch.setenv("no_proxy", "127.0.0.1")
    fig = tessarin.VIF_panel(["water", "urea"])
    assert [ax.get_title() for ax in fig.axes[:2]] == ["water\n(not found)", "urea\n(not found)"]


def test_ms_panel_by_smiles(shown):
    items = ["CCl", "C1CC", "[*]C", "CC(=O)O", "O"]
    fig = tessarin.VIF_ms_panel(items, by="smiles")
    assert fig.get_size_inches().tolist() == pytest.approx([11, 8.4])
    axes = fig.axes
    assert len(axes) == 6 and [cell(ax) for ax in axes] == [(i // 2, i % 2) for i in range(6)]
    assert title_of(axes[0]) == ("Tessarin predicted EI-MS fragments: CCl", 9, "#000000")
    assert title_of(axes[1]) == ("C1CC (error)", 9, GREY)
    assert title_of(axes[2]) == ("[*]C (error)", 9, GREY)
    assert axes[1].axison and axes[2].axison and len(axes[1].collections) == 0  # framed and empty
    assert not axes[5].axison and axes[5].get_title() == ""
    # The spectrum of each cell is that of its molecule, its label written on two lines to fit.
    result = tessarin.VIF("CC(=O)O", draw=False, verbose=False)
    peaks = {result["mol_mass"]} | {mz for e in result["fragments"] if e["split"] for _f, _m, mz in e["fragments"]}
    assert {t.xy[0] for t in axes[3].texts} == peaks
    assert axes[3].get_ylabel() == "(schematic \u2014\nintensities are not predicted)"
    assert fig._suptitle.get_text() == MS_PANEL_TITLE
    assert fig._suptitle.get_fontsize() == 13 and fig._suptitle.get_position()[1] == 1.0


def test_ms_panel_by_name_against_local_pubchem(pubchem_server, shown):
    fig = tessarin.VIF_ms_panel()
    assert fig.get_size_inches().tolist() == pytest.approx([11, 14])
    assert len(fig.axes) == 10 and all(ax.axison for ax in fig.axes)
    assert [ax.get_title() for ax in fig.axes] == [f"Tessarin predicted EI-MS fragments: {name}"
                                                   for name in tessarin.BIOMOLECULES]
    plt.close("all")
    fig = tessarin.VIF_ms_panel(["water", "unobtainium", "urea"])
    assert title_of(fig.axes[1]) == ("unobtainium (not found)", 9, GREY)
    assert fig.axes[1].axison and not fig.axes[3].axison


def test_ms_panel_hands_fragmentation_options_to_vif(monkeypatch, shown):
    calls = []
    real_vif = tessarin.VIF

    def recording_vif(smiles, **kwargs):
        calls.append((smiles, kwargs))
        result = real_vif(smiles, **dict(kwargs, recursive_ms=False))
        result["recursive_peaks"] = {99: {"formula": "X", "generation": 1}}
        return result

    monkeypatch.setattr(tessarin, "VIF", recording_vif)
    tessarin.VIF_ms_panel(["CCO"], by="smiles", ring_fragmentation=True, recursive_ms=True)
    tessarin.VIF_panel(["CCO"], by="smiles", bond_kappa=0.7)
    assert calls == [
        ("CCO", {"draw": False, "verbose": False, "ring_fragmentation": True, "recursive_ms": True}),
        ("CCO", {"draw": False, "verbose": False, "bond_kappa": 0.7})]


def _recursive_vif_available():
    try:
        tessarin.VIF("CCO", draw=False, verbose=False, recursive_ms=True)
    except NotImplementedError:
        return False
    return True


def test_ms_panel_with_recursive_fragmentation(shown):
    if not _recursive_vif_available():
        with pytest.raises(NotImplementedError):  # said plainly, not as a panel of error cells
            tessarin.VIF_ms_panel(["CCO"], by="smiles", recursive_ms=True)
        pytest.skip("VIF(recursive_ms=True) is not in this build yet")
    fig = tessarin.VIF_ms_panel(["CCO", "c1ccccc1O"], by="smiles", recursive_ms=True)
    assert [ax.get_title() for ax in fig.axes] == ["Tessarin predicted EI-MS fragments: CCO",
                                                   "Tessarin predicted EI-MS fragments: c1ccccc1O"]


@pytest.mark.parametrize("panel", [tessarin.VIF_panel, tessarin.VIF_ms_panel])
def test_panels_save_png_before_showing(panel, tmp_path, monkeypatch):
    path = tmp_path / "panel.png"
    seen = []
    monkeypatch.setattr(plt, "show", lambda *a, **k: seen.append(path.exists()))
    fig = panel(["O", "CC"], by="smiles", save=str(path))
    assert seen == [True] and png_dpi(path) == pytest.approx((110, 110), abs=0.1)
    assert fig is plt.gcf()

    path.unlink()
    seen.clear()
    for false_value in (None, "", 0):
        assert panel(["O"], by="smiles", save=false_value) is not None
    assert seen == [False] * 3 and list(tmp_path.iterdir()) == []  # shown all the same, nothing written

    seen.clear()
    with pytest.raises(OSError):
        panel(["O"], by="smiles", save=str(tmp_path / "missing" / "x.png"))
    assert seen == []


def test_one_molecule_one_column(shown):
    fig = tessarin.VIF_panel(["O"], by="smiles", cols=1)
    assert fig.get_size_inches().tolist() == pytest.approx([3.2, 3.4]) and len(fig.axes) == 1
    fig = tessarin.VIF_ms_panel(["O"], by="smiles", cols=1)
    assert fig.get_size_inches().tolist() == pytest.approx([5.5, 2.8]) and len(fig.axes) == 1


@pytest.mark.parametrize("panel", [tessarin.VIF_panel, tessarin.VIF_ms_panel])
@pytest.mark.parametrize("kwargs, error, words", [
    ({"molecules": []}, ValueError, "no molecules"),
    ({"molecules": "water"}, TypeError, "single string"),
    ({"molecules": ["O"], "cols": 0}, ValueError, "cols must be at least 1"),
    ({"molecules": ["O"], "cols": -2}, ValueError, "cols must be at least 1"),
    ({"molecules": ["O"], "cols": 2.5}, TypeError, "cols must be a whole number"),
])
def test_bad_arguments_are_refused_before_drawing(panel, kwargs, error, words, shown):
    with pytest.raises(error, match=words):
        panel(by="smiles", **kwargs)
    assert plt.get_fignums() == [] and shown == []
