"""EI-MS prediction: soft bonds and the fragments that cutting them gives."""

from ._pending import not_built


def detect_soft_bonds(graph, chem_bonds, baseline_lpi, tol=1e-09):
    """Bond records whose edge can be deleted without changing the LPI."""
    not_built("detect_soft_bonds")


def predict_fragments(mol, soft_bonds, ring_fragmentation=False, min_ring_fragment_mz=30):
    """Fragments of single cuts (and, on request, ring double cuts) of the soft bonds."""
    not_built("predict_fragments")


def _fragment_atom_softs(H, atom_subgraphs, chem_bonds, atom_set, tol=1e-09):
    """Bond records that are soft inside the fragment made of ``atom_set``."""
    not_built("_fragment_atom_softs")


def _cut_atom_set(mol, atom_set, softs, ring_fragmentation, min_mz):
    """Pieces of ``atom_set`` left by cutting its soft bonds."""
    not_built("_cut_atom_set")


def predict_fragments_recursive(mol, H, atom_subgraphs, chem_bonds, max_generations=3, min_mz=25,
                                ring_fragmentation=True):
    """Peak map of several generations of cuts: m/z -> {"formula", "generation"}."""
    not_built("predict_fragments_recursive")
