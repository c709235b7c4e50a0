"""The stick spectrum and the VIF graph figure, checked through their Matplotlib artists."""

import matplotlib
import matplotlib.pyplot as plt
import pytest
from matplotlib.collections import LineCollection

import tessarin


@pytest.fixture(autouse=True)
def close_figures():
    yield
    plt.close("all")


def sticks(ax):
    """(x, height, colour name, width) of every stick, in drawing order."""
    out = []
    for coll in ax.collections:
        if isinstance(coll, LineCollection):
            (x0, y0), (x1, y1) = coll.get_segments()[0]
            out.append((x0, y1, matplotlib.colors.to_hex(coll.get_colors()[0]), coll.get_linewidths()[0]))
    return out


def split(frags):
    return {"bond": "C0-O1", "split": True, "mode": "single", "fragments": frags}


def test_spectrum_of_fragments_with_lifted_close_labels():
    fragments = [
        split([("CH3O", 31.03, 31), ("H", 1.01, 1)]),
        {"bond": "C1-C2", "split": False, "mode": "single", "fragments": None},
        split([("CH3", 15.03, 15), ("HO", 17.01, 17)]),
        split([("C2H5", 29.06, 29), ("X", 17.0, 17)]),
    ]
    ax = tessarin.plot_mass_spectrum("CCO", 46, fragments)
    assert ax.figure.get_size_inches().tolist() == [11, 5.5]
    got = sticks(ax)
    crimson, steel = matplotlib.colors.to_hex("crimson"), matplotlib.colors.to_hex("steelblue")
    assert [(x, h, c) for x, h, c, _ in got] == [
        (1, 60, steel),
        (15, 60, steel),
        (17, 60, steel),
        (29, 60, steel),
        (31, 60, steel),
        (46, 100, crimson),
    ]
    assert [w for *_, w in got] == [1.6] * 5 + [2.2]
    texts = [(t.get_text(), t.xyann[1]) for t in ax.texts]
    # x_max 66, close_thresh 3.96: 17 climbs above 15, 29 starts again, 31 climbs.
    assert texts == [("H\n1", 63), ("CH3\n15", 63), ("HO\n17", 74), ("C2H5\n29", 63), ("CH3O\n31", 74), ("M+\n46", 103)]
    assert ax.get_xlim() == (0, 66) and ax.get_ylim() == (0, 150)
    assert ax.get_xlabel() == "m/z"
    assert ax.get_ylabel() == "(schematic \u2014 intensities are not predicted)"
    assert ax.get_title() == "Tessarin predicted EI-MS fragments: CCO"
    assert not ax.spines["top"].get_visible() and not ax.spines["right"].get_visible()


def test_spectrum_edge_cases():
    fig, ax = plt.subplots()
    n_figs = len(plt.get_fignums())
    assert tessarin.plot_mass_spectrum(None, 78.5, [], ax=ax) is ax
    assert len(plt.get_fignums()) == n_figs
    assert [(x, h) for x, h, *_ in sticks(ax)] == [(78, 100)]
    assert ax.get_title() == "Tessarin predicted EI-MS fragments: None"

    ax = tessarin.plot_mass_spectrum("x", 79.5, [split([("Y", 80.0, 80), ("Z", 1.0, 1)])])
    assert [t.get_text() for t in ax.texts] == ["Z\n1", "M+\n80"]  # a fragment at M keeps the M+ stick
    ax = tessarin.plot_mass_spectrum("x", 200, [])
    assert ax.get_xlim() == (0, 230)
    with pytest.raises(TypeError):
        tessarin.plot_mass_spectrum("x", "heavy", [])
    with pytest.raises(KeyError):
        tessarin.plot_mass_spectrum("x", 10, [{"fragments": []}])


def test_vif_draws_graph_and_spectrum_and_returns_nine_keys(capsys):
    result = tessarin.VIF("CCl", verbose=False)
    assert list(result) == [
        "lpi",
        "soft_bonds",
        "fragments",
        "graph",
        "chem_bonds",
        "atom_subgraphs",
        "pos",
        "mol_mass",
        "mol_mass_avg",
    ]
    graph_fig, spectrum_fig = [plt.figure(n) for n in plt.get_fignums()[-2:]]
    assert graph_fig.get_size_inches().tolist() == [12, 10]
    ax = graph_fig.axes[0]
    lpi = result["lpi"]
    n_soft = len(result["soft_bonds"])
    soft_text = f"soft: {n_soft} bond" if n_soft else "soft: yok"
    assert ax.get_title() == (
        f"VIF: CCl   |   LPI = {{n+={lpi['n+']}, n0={lpi['n0']}, n-={lpi['n-']}}}   |   " + soft_text
    )
    labels = sorted(t.get_text() for t in ax.texts)
    assert "C0" in labels and "Cl4" in labels and "H8" in labels
    assert spectrum_fig.axes[0].get_title() == "Tessarin predicted EI-MS fragments: CCl"
    assert capsys.readouterr().out == ""


def test_vif_graph_edge_styles_and_colours():
    result = tessarin.VIF("CBr", show_spectrum=False, verbose=False)
    fig = plt.gcf()
    ax = fig.axes[0]
    node_colls = [c for c in ax.collections if c.__class__.__name__ == "PathCollection"]
    colours = [matplotlib.colors.to_hex(c) for c in node_colls[0].get_facecolors()]
    n_c, n_br = 4, 9
    assert colours[:n_c] == [matplotlib.colors.to_hex("red")] * n_c
    assert colours[n_c : n_c + n_br] == [matplotlib.colors.to_hex("gray")] * n_br  # bromine is not in the table
    edge_colls = [c for c in ax.collections if isinstance(c, LineCollection)]
    n_soft = len(result["soft_bonds"])
    essential = edge_colls[0]
    assert len(essential.get_segments()) == result["graph"].number_of_edges() - n_soft
    assert matplotlib.colors.to_hex(essential.get_colors()[0]) == "#000000"
    assert essential.get_linewidths()[0] == 1.5
    if n_soft:  # networkx adds no collection for an empty edge list
        soft = edge_colls[1]
        assert len(soft.get_segments()) == n_soft
        assert matplotlib.colors.to_hex(soft.get_colors()[0]) == matplotlib.colors.to_hex("red")
        assert soft.get_linewidths()[0] == 2.0
        assert soft.get_linestyle()[0][1] is not None  # dashed
    assert len(plt.get_fignums()) == 1  # no spectrum figure


def test_unparsable_smiles_draws_nothing():
    assert tessarin.VIF("C1CC") == "SMILES okunamad\u0131!"
    assert plt.get_fignums() == []
