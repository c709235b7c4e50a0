"""Grids of several molecules: VIF graphs and spectra."""

import math
import operator
import os
from collections.abc import Iterable

import matplotlib.pyplot as plt
import networkx as nx
from matplotlib.figure import Figure

from .._package import analysed, package
from .vif_figure import ELEMENT_COLORS, split_edges

FAILED_TITLE_COLOR = "gray"


def molecule_list(molecules, default, caller):
    """The molecules of a grid as a list; a bare string is a mistake, not a list of one-letter names."""
    if molecules is None:
        molecules = default
    if isinstance(molecules, (str, bytes)):
        raise TypeError(
            f"{caller}: molecules must be a list of names or SMILES, not a single string "
            f"({molecules!r}); write [{molecules!r}] for one molecule"
        )
    molecules = list(molecules)
    if not molecules:
        raise ValueError(f"{caller}: no molecules to draw")
    return molecules


def grid_columns(cols, caller):
    try:
        cols = operator.index(cols)
    except TypeError:
        raise TypeError(f"{caller}: cols must be a whole number, not {type(cols).__name__}") from None
    if cols < 1:
        raise ValueError(f"{caller}: cols must be at least 1, not {cols}")
    return cols


def _grid(n, cols, cell_w, cell_h):
    rows = math.ceil(n / cols)
    fig, axes = plt.subplots(rows, cols, figsize=(cols * cell_w, rows * cell_h), squeeze=False)
    return fig, list(axes.flat)


def _smiles_of(item, by):
    """The SMILES of a grid item: looked up on PubChem by name or CID, otherwise the item itself."""
    if by in ("name", "cid"):
        return package().fetch_smiles_from_pubchem(item, by=by)[0]
    return item


def _cell_result(ax, label, by, separator, **vif_kwargs):
    """The VIF result of one grid item, or None after greying the cell's title with the reason."""
    try:
        smiles = _smiles_of(label, by)
    except Exception:
        ax.set_title(f"{label}{separator}(not found)", fontsize=9, color=FAILED_TITLE_COLOR)
        return None
    try:
        return analysed(smiles, **vif_kwargs)
    except Exception:
        ax.set_title(f"{label}{separator}(error)", fontsize=9, color=FAILED_TITLE_COLOR)
        return None


def draw_graph_cell(ax, result, colors, node_size):
    """Orbital nodes, normal edges in black and soft bond edges dashed red, on one cell."""
    graph, pos = result["graph"], result["pos"]
    normal, soft = split_edges(graph, result["soft_bonds"])
    node_colors = [colors.get(graph.nodes[n].get("symbol"), "gray") for n in graph.nodes]
    nx.draw_networkx_nodes(graph, pos, ax=ax, node_color=node_colors, node_size=node_size, alpha=0.9)
    nx.draw_networkx_edges(graph, pos, ax=ax, edgelist=normal, edge_color="black", width=0.8, alpha=0.7)
    nx.draw_networkx_edges(graph, pos, ax=ax, edgelist=soft, edge_color="red", width=1.3, style="dashed", alpha=0.9)


def fold_y_label(ax, fontsize=8):
    """Break the spectrum's y label after its dash, so it fits the height of a small cell."""
    ax.set_ylabel(ax.get_ylabel().replace(" \u2014 ", " \u2014\n", 1), fontsize=fontsize)


def _finish(fig, axes, n, title, title_y, save):
    for ax in axes[n:]:
        ax.axis("off")
    fig.suptitle(title, fontsize=13, y=title_y)
    fig.tight_layout()
    if save:
        fig.savefig(save, dpi=110, bbox_inches="tight")
    plt.show()
    return fig


def VIF_panel(
    molecules: Iterable[str | int] | None = None,
    by: str = "name",
    cols: int = 5,
    save: str | os.PathLike[str] | None = None,
    node_size: float = 60,
    bond_kappa: float = 0.9,
) -> Figure:
    """VIF graphs of several molecules in one figure; returns the figure.

    ``molecules`` (default ``BIOMOLECULES``) are compound names looked up on
    PubChem when ``by`` is ``"name"``, CIDs looked up on PubChem when ``by`` is
    ``"cid"``, and SMILES strings for any other ``by``. Each cell shows the
    orbital graph (soft bond edges dashed red) titled with the item and its
    LPI. An item that cannot be looked up gets a grey "(not found)" cell, one
    that cannot be analysed (including an unreadable SMILES) a grey "(error)"
    cell; the rest of the panel is drawn all the same. ``save`` writes a PNG
    at 110 dpi before the figure is shown.
    """
    molecules = molecule_list(molecules, package().BIOMOLECULES, "VIF_panel")
    cols = grid_columns(cols, "VIF_panel")
    fig, axes = _grid(len(molecules), cols, 3.2, 3.4)
    for ax, label in zip(axes, molecules):
        ax.axis("off")
        result = _cell_result(ax, label, by, "\n", bond_kappa=bond_kappa)
        if result is None:
            continue
        draw_graph_cell(ax, result, ELEMENT_COLORS, node_size)
        lpi = result["lpi"]
        ax.set_title(f"{label}\nLPI={{{lpi['n+']},{lpi['n0']},{lpi['n-']}}}", fontsize=9)
        ax.set_aspect("equal")
    return _finish(fig, axes, len(molecules), "VIF analysis \u2014 key molecules in human biochemistry", 0.99, save)


def VIF_ms_panel(
    molecules: Iterable[str | int] | None = None,
    by: str = "name",
    cols: int = 2,
    save: str | os.PathLike[str] | None = None,
    ring_fragmentation: bool = False,
    recursive_ms: bool = False,
) -> Figure:
    """Predicted EI-MS stick spectra of several molecules in one figure; returns the figure.

    ``molecules`` and ``by`` as for ``VIF_panel``. ``ring_fragmentation`` and
    ``recursive_ms`` are handed to ``VIF``. Each cell is the spectrum plot
    titled with the item as given; failed items keep a framed, empty cell with
    a grey " (not found)" or " (error)" title. ``save`` writes a PNG at 110 dpi
    before the figure is shown.
    """
    molecules = molecule_list(molecules, package().BIOMOLECULES, "VIF_ms_panel")
    cols = grid_columns(cols, "VIF_ms_panel")
    fig, axes = _grid(len(molecules), cols, 5.5, 2.8)
    for ax, label in zip(axes, molecules):
        result = _cell_result(ax, label, by, " ", ring_fragmentation=ring_fragmentation, recursive_ms=recursive_ms)
        if result is None:
            continue
        package().plot_mass_spectrum(label, result["mol_mass"], result["fragments"], ax=ax)
        ax.title.set_fontsize(9)
        fold_y_label(ax)
    return _finish(fig, axes, len(molecules), "VIF-predicted mass spectra \u2014 biomolecules", 1.0, save)
