"""Built-in runs: the validation suite, the substituted-halogen test and the demonstration."""


import os
from collections.abc import Iterable
from typing import Any

import matplotlib.pyplot as plt

from . import _native
from ._package import analysed, package
from .figures.panels import draw_graph_cell
from .figures.vif_figure import draw_vif_graph

RULE = "=" * 78
HALOGENS = ("Cl", "F", "Br")
# Node colours of the halogen figure: bromine gets its own colour, anything else is gray.
HALOGEN_COLORS = {
    "C": "red",
    "H": "skyblue",
    "Cl": "lightgreen",
    "O": "red",
    "N": "violet",
    "F": "yellow",
    "Br": "brown",
}


def _fragment_list(fragments, sep):
    """formula(m/z) of every fragment tuple, joined by ``sep``."""
    return sep.join(f"{formula}({mz})" for formula, _mass, mz in fragments)


def _lpi_triple(lpi):
    return lpi["n+"], lpi["n0"], lpi["n-"]


def halogen_cleavages(fragments):
    """The split cuts whose bond label names a halogen, in fragment order."""
    return [entry for entry in fragments if entry["split"] and any(x in entry["bond"] for x in HALOGENS)]


def cleavage_text(fragments):
    entries = halogen_cleavages(fragments)
    if not entries:
        return "C-X does NOT cleave"
    return "; ".join(f"{entry['bond']}->{_fragment_list(entry['fragments'], ',')}" for entry in entries)


def _rows(molekuller):
    rows = []
    for row in molekuller:
        try:
            label, smiles, note = row
        except (TypeError, ValueError):
            raise ValueError(f"halogen_test: each row must be (label, SMILES, note), not {row!r}") from None
        rows.append((label, smiles, note))
    return rows


def halogen_test(
    molekuller: Iterable[tuple[str, str, str]] | None = None,
    panel_n: int | None = 4,
    save: str | os.PathLike[str] | None = "/tmp/vif_halojen.png",
) -> list[tuple[str, str, dict[str, Any]]]:
    """Soft-bond analysis of halogen-substituted molecules, printed and drawn.

    For every (label, SMILES, note) row of ``molekuller`` (default
    ``HALOGEN_TESTS``) prints the LPI and the carbon-halogen cuts the spectrum
    prediction makes, with the note beneath. Draws the first ``panel_n`` rows
    (a slice bound: None draws all) in a figure of two rows, orbital graph
    above and stick spectrum below, saved as a PNG at 120 dpi to ``save``
    unless it is None. Returns [(label, SMILES, VIF result)] for every row.
    Raises ValueError for an unreadable SMILES or when no row is left to draw.
    """
    if molekuller is None:
        molekuller = package().HALOGEN_TESTS
    if isinstance(molekuller, (str, bytes)):
        raise TypeError("halogen_test: molekuller must be a list of (label, SMILES, note) rows, not a string")
    rows = _rows(molekuller)

    print(RULE)
    print("SUBSTITUTED-HALOGEN TEST \u2014 K4 (square) representation")
    print(RULE)
    results = []
    for label, smiles, note in rows:
        result = analysed(smiles, label, show_spectrum=False)
        triple = "({}, {}, {})".format(*_lpi_triple(result["lpi"]))
        print(f"{label!s:<24} LPI={triple:<12} | C-X: {cleavage_text(result['fragments'])}")
        print(f"{'':24} [{note}]")
        results.append((label, smiles, result))

    drawn = results[:panel_n]
    if not drawn:
        raise ValueError(f"halogen_test: no rows to draw ({len(results)} rows, panel_n={panel_n!r})")
    n = len(drawn)
    fig, axes = plt.subplots(2, n, figsize=(5 * n, 8.8), squeeze=False)
    for c, (label, _smiles, result) in enumerate(drawn):
        top, bottom = axes[0][c], axes[1][c]
        top.axis("off")
        draw_graph_cell(top, result, HALOGEN_COLORS, 90)
        top.set_title("{}\nLPI = {{{}, {}, {}}}".format(label, *_lpi_triple(result["lpi"])), fontsize=11)
        top.set_aspect("equal")
        package().plot_mass_spectrum(label, result["mol_mass"], result["fragments"], ax=bottom)
        bottom.title.set_fontsize(9)
    fig.suptitle("Substituted-halogen test (K4/square): structure (top) + MS (bottom)", fontsize=14)
    fig.tight_layout()
    if save:
        fig.savefig(save, dpi=120, bbox_inches="tight")
        print(RULE)
        print(f"Panel saved: {save}")
    plt.show()
    return results


def _graph_figure(open_before, smiles, result):
    """The graph figure VIF drew, or the same drawing again when its show() already closed it
    (as notebook back ends do), so that a blank figure is never saved in its place."""
    drawn = [n for n in plt.get_fignums() if n not in open_before]
    if drawn:
        return plt.figure(drawn[-1])
    return draw_vif_graph(smiles, result["graph"], result["pos"], result["lpi"], result["soft_bonds"])


def triple_group_demo(
    smiles: str = "N#Cc1ccc(cc1)N=Nc1ccc(cc1)Cl", save_prefix: str | os.PathLike[str] | None = "/tmp/vif_kombine"
) -> dict[str, Any]:
    """Graph and spectrum figures of a molecule with three functional groups.

    Runs ``VIF`` drawing the orbital graph, prints the molecular ion, the LPI
    and every single-cut fragment pair, draws the stick spectrum and, unless
    ``save_prefix`` is None, saves the two figures as PNGs at 140 dpi to
    ``save_prefix + "_graph.png"`` and ``save_prefix + "_ms.png"``. Returns the
    result of ``VIF`` itself. Raises ValueError, before writing anything, when
    the SMILES cannot be read.
    """
    vif = package().VIF
    open_before = set(plt.get_fignums())
    result = vif(smiles, draw=True, verbose=False, show_spectrum=False)
    if isinstance(result, str):
        raise ValueError(f"{result} ({smiles!r})")
    if save_prefix:
        _graph_figure(open_before, smiles, result).savefig(f"{save_prefix}_graph.png", dpi=140, bbox_inches="tight")

    lpi = result["lpi"]
    print(f"Molecule : {smiles}")
    print("M+ = {}   LPI = {{{}, {}, {}}}".format(round(result["mol_mass"]), *_lpi_triple(lpi)))
    print("Fragments (single-cut):")
    for entry in result["fragments"]:
        if entry["split"]:
            print(f"   {entry['bond']:>10}  ->  {_fragment_list(entry['fragments'], ', ')}")

    ax = package().plot_mass_spectrum(smiles, result["mol_mass"], result["fragments"])
    if save_prefix:
        ax.figure.savefig(f"{save_prefix}_ms.png", dpi=140, bbox_inches="tight")
        print(f"Saved: {save_prefix}_graph.png , {save_prefix}_ms.png")
    plt.show()
    return result


def validate(verbose: bool = True) -> bool:
    """Compare computed LPI triples and fragment peaks with the reference tables.

    For every row of ``LPI_REFERENCES`` the LPI of ``VIF(smiles)`` must equal
    the stored triple; for every row of ``MS_REFERENCES`` the stored m/z must
    be among the split-cut fragment peaks. Prints a PASS/FAIL line per row and
    the verdict when ``verbose``; returns True only when every row passed.
    """
    return _native.validate(package().LPI_REFERENCES, package().MS_REFERENCES, bool(verbose))
