"""The VIF orbital graph of a molecule and the analysis driver."""

from typing import Any

import matplotlib.pyplot as plt

from . import _native
from .figures.spectrum import plot_mass_spectrum
from .figures.vif_figure import draw_vif_graph

# Keys of the result when the graph is drawn, in order.
_DRAWN_KEYS = (
    "lpi",
    "soft_bonds",
    "fragments",
    "graph",
    "chem_bonds",
    "atom_subgraphs",
    "pos",
    "mol_mass",
    "mol_mass_avg",
)


def _build_bond_orders(mol):
    """Integer order of every bond of ``mol``, keyed by (i, j) and by (j, i).

    Aromatic bonds left unkekulized (1.5) count 2; a bond type of 0 counts 1.
    """
    return _native.bond_orders(mol)


def VIF(
    smiles: str,
    n_iter: int = 600,
    target_bond_len: float = 1.5,
    radius_ratio: float = 0.23,
    show_spectrum: bool = True,
    bond_kappa: float = 0.9,
    draw: bool = True,
    verbose: bool = True,
    ring_fragmentation: bool = False,
    recursive_ms: bool = False,
    max_generations: int = 2,
) -> dict[str, Any] | str:
    """Build the VIF orbital graph of ``smiles``, compute its LPI and predict its EI-MS fragments.

    Prints the report when ``verbose``. Returns the string "SMILES okunamadı!"
    when the SMILES cannot be read, otherwise the result mapping:

    - with ``draw`` false, 14 keys: lpi, soft_bonds, fragments, real_fragments,
      single_fragments, ringcut_fragments, ring_soft_bonds, recursive_peaks,
      graph, chem_bonds, atom_subgraphs, pos, mol_mass, mol_mass_avg;
    - with ``draw`` true, after drawing the graph (and the spectrum when
      ``show_spectrum``) and calling ``plt.show()``, 9 keys: lpi, soft_bonds,
      fragments, graph, chem_bonds, atom_subgraphs, pos, mol_mass, mol_mass_avg.
    """
    result = _native.analyse(
        smiles,
        n_iter,
        target_bond_len,
        radius_ratio,
        bond_kappa,
        bool(verbose),
        bool(ring_fragmentation),
        bool(recursive_ms),
        max_generations,
    )
    if isinstance(result, str) or not draw:
        return result
    draw_vif_graph(smiles, result["graph"], result["pos"], result["lpi"], result["soft_bonds"])
    if show_spectrum:
        plot_mass_spectrum(smiles, result["mol_mass"], result["fragments"])
    plt.show()
    return {key: result[key] for key in _DRAWN_KEYS}
