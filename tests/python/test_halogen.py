"""halogen_test: the printed table, the two-row figure, saving and the result list."""

import matplotlib
import matplotlib.pyplot as plt
import pytest
from matplotlib.collections import PathCollection
from PIL import Image

import tessarin

RULE = "=" * 78
HEADING = "SUBSTITUTED-HALOGEN TEST \u2014 K4 (square) representation"
SUPTITLE = "Substituted-halogen test (K4/square): structure (top) + MS (bottom)"


@pytest.fixture(autouse=True)
def close_figures():
    yield
    plt.close("all")


FULL_KEYS = (
    "lpi",
    "soft_bonds",
    "fragments",
    "real_fragments",
    "single_fragments",
    "ringcut_fragments",
    "ring_soft_bonds",
    "recursive_peaks",
    "graph",
    "chem_bonds",
    "atom_subgraphs",
    "pos",
    "mol_mass",
    "mol_mass_avg",
)


def vif(smiles):
    return tessarin.VIF(smiles, draw=False, verbose=False)


def triple(result):
    lpi = result["lpi"]
    return lpi["n+"], lpi["n0"], lpi["n-"]


def entry(bond, frags, split=True):
    return {"bond": bond, "split": split, "mode": "single", "fragments": frags if split else None}


def test_default_run_prints_27_lines_and_draws_four_molecules(tmp_path, capsys):
    path = tmp_path / "halogen.png"
    results = tessarin.halogen_test(save=str(path))
    lines = capsys.readouterr().out.splitlines()
    assert len(lines) == 27 + 2
    assert lines[:3] == [RULE, HEADING, RULE]
    assert lines[-2:] == [RULE, f"Panel saved: {path}"]

    assert [(label, smiles) for label, smiles, _ in results] == [row[:2] for row in tessarin.HALOGEN_TESTS]
    for (label, smiles, note), (_, _, result), first, second in zip(
        tessarin.HALOGEN_TESTS, results, lines[3:27:2], lines[4:27:2]
    ):
        # The full, undrawn result map of that molecule, analysed with the defaults.
        fresh = vif(smiles)
        assert list(result) == list(FULL_KEYS)
        assert triple(result) == triple(fresh) and result["fragments"] == fresh["fragments"]
        assert result["mol_mass"] == fresh["mol_mass"] and result["recursive_peaks"] is None
        assert first.startswith(
            label.ljust(24) + " LPI=" + f"({', '.join(map(str, triple(result)))})".ljust(12) + " | C-X: "
        )
        assert second == " " * 24 + f" [{note}]"
    by_label = dict(zip((row[0] for row in tessarin.HALOGEN_TESTS), lines[3:27:2]))
    # Chlorobenzene loses its chlorine; the two-space label keeps its padding.
    assert by_label["chlorobenzene  (C-Cl)"] == (
        "chlorobenzene  (C-Cl)    LPI=(15, 0, 18)  | C-X: " "Cl0-C1->C6H5(77),Cl(35)"
    )
    assert by_label["methyl chloride"].endswith(" | C-X: C-X does NOT cleave")
    assert "; C0-Cl2->" in by_label["CCl4"]  # several cuts joined by "; "

    fig = plt.gcf()
    assert fig.get_size_inches().tolist() == pytest.approx([20, 8.8])
    assert fig._suptitle.get_text() == SUPTITLE and fig._suptitle.get_fontsize() == 14
    with Image.open(path) as im:
        assert im.info["dpi"] == pytest.approx((120, 120), abs=0.1)
    axes = fig.axes
    assert len(axes) == 8
    tops = [ax for ax in axes if ax.get_subplotspec().rowspan.start == 0]
    bottoms = [ax for ax in axes if ax.get_subplotspec().rowspan.start == 1]
    for c, (label, _smiles, result) in enumerate(results[:4]):
        top, bottom = tops[c], bottoms[c]
        assert top.get_subplotspec().colspan.start == c and not top.axison
        assert top.get_title() == "{}\nLPI = {{{}, {}, {}}}".format(label, *triple(result))
        assert top.title.get_fontsize() == 11
        (nodes,) = [coll for coll in top.collections if isinstance(coll, PathCollection)]
        assert set(nodes.get_sizes()) == {90}
        assert bottom.get_title() == f"Tessarin predicted EI-MS fragments: {label}"
        assert bottom.title.get_fontsize() == 9


def test_cleavage_text_follows_split_cuts_whose_label_names_a_halogen(monkeypatch, capsys):
    real = vif("C")

    def fake_vif(smiles, **kwargs):
        assert kwargs == {"draw": False, "verbose": False, "show_spectrum": False}
        fragments = {
            "mixed": [
                entry("Cl0-C1", [("C6H5", 77.1, 77), ("Cl", 35.45, 35)]),
                entry("C1-Br2", None, split=False),  # not cut: never listed
                entry("C1-C2", [("CH3", 15.0, 15), ("CH3", 15.0, 15)]),
                entry("Fe0-C1", [("CH3", 15.0, 15), ("Fe", 55.8, 56)]),  # plain substring test
                entry("C3-Br4", [("C3H7", 43.1, 43), ("Br", 79.9, 79)]),
            ],
            "none": [entry("C0-Cl1", None, split=False), entry("C0-C1", [("CH3", 15.0, 15)])],
        }[smiles]
        return dict(real, fragments=fragments)

    monkeypatch.setattr(tessarin, "VIF", fake_vif)
    rows = [("a label well over twenty-four characters", "mixed", "n1"), ("short", "none", "n2")]
    results = tessarin.halogen_test(rows, save=None)
    lines = capsys.readouterr().out.splitlines()
    lpi = "({}, {}, {})".format(*triple(real))
    assert lines[3:] == [
        f"a label well over twenty-four characters LPI={lpi:<12} | C-X: "
        "Cl0-C1->C6H5(77),Cl(35); Fe0-C1->CH3(15),Fe(56); C3-Br4->C3H7(43),Br(79)",
        " " * 24 + " [n1]",
        f"short                    LPI={lpi:<12} | C-X: C-X does NOT cleave",
        " " * 24 + " [n2]",
    ]
    assert [r[:2] for r in results] == [("a label well over twenty-four characters", "mixed"), ("short", "none")]


@pytest.mark.parametrize("panel_n, columns", [(1, 1), (None, 12), (-10, 2)])
def test_panel_n_is_a_slice_bound(panel_n, columns, capsys):
    results = tessarin.halogen_test(panel_n=panel_n, save=None)
    assert len(results) == 12
    fig = plt.gcf()
    assert fig.get_size_inches().tolist() == pytest.approx([5 * columns, 8.8])
    assert len(fig.axes) == 2 * columns
    assert "Panel saved" not in capsys.readouterr().out


def test_bromine_nodes_are_brown_and_lithium_grey():
    results = tessarin.halogen_test([("bromomethane", "CBr", ""), ("methyllithium", "C[Li]", "")], save=None)
    tops = [ax for ax in plt.gcf().axes if ax.get_subplotspec().rowspan.start == 0]
    for ax, (_, _, result), colours in zip(tops, results, ({"Br": "brown"}, {"Li": "gray"})):
        (nodes,) = [coll for coll in ax.collections if isinstance(coll, PathCollection)]
        colours.update(C="red", H="skyblue")
        graph = result["graph"]
        assert [matplotlib.colors.to_hex(c) for c in nodes.get_facecolors()] == [
            matplotlib.colors.to_hex(colours[graph.nodes[n]["symbol"]]) for n in graph.nodes
        ]


def test_bad_rows_nothing_to_draw_and_unwritable_path(tmp_path, capsys, monkeypatch):
    shown = []
    monkeypatch.setattr(plt, "show", lambda *a, **k: shown.append(1))
    with pytest.raises(ValueError, match="SMILES okunamad\u0131!") as err:
        tessarin.halogen_test([("ok", "CCl", ""), ("broken", "C1CC", ""), ("later", "CF", "")], save=None)
    assert "broken" in str(err.value)
    out = capsys.readouterr().out.splitlines()
    assert len(out) == 3 + 2 and out[3].startswith("ok ")  # earlier rows stay printed
    assert plt.get_fignums() == []

    with pytest.raises(ValueError, match="no rows to draw"):
        tessarin.halogen_test(panel_n=0, save=None)
    assert len(capsys.readouterr().out.splitlines()) == 27  # every row analysed and printed first
    with pytest.raises(ValueError, match="no rows to draw"):
        tessarin.halogen_test([], save=None)
    with pytest.raises(ValueError, match=r"\(label, SMILES, note\)"):
        tessarin.halogen_test([("only two", "CCl")], save=None)
    with pytest.raises(TypeError, match="not a string"):
        tessarin.halogen_test("CCl", save=None)
    assert plt.get_fignums() == []
    with pytest.raises(OSError):
        tessarin.halogen_test(panel_n=1, save=str(tmp_path / "no" / "dir.png"))
    assert shown == []
