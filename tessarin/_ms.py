"""EI-MS prediction: soft bonds and the fragments that cutting them gives."""

import numbers

from . import _native
from ._pending import not_built


def _real(value, name):
    if not isinstance(value, numbers.Real):
        raise TypeError(f"{name} must be a real number, not {type(value).__name__}")
    return float(value)


def detect_soft_bonds(graph, chem_bonds, baseline_lpi, tol=1e-09):
    """Bond records whose edge can be deleted without changing the LPI.

    ``graph`` is an undirected networkx ``Graph`` (edges without ``weight``
    count 1.0); ``chem_bonds`` any iterable of mappings with ``u_node`` and
    ``v_node``; ``baseline_lpi`` the LPI of the intact graph computed with the
    same ``tol``. A record is soft when deleting its edge leaves "n+", "n0"
    and "n-" all unchanged; a record whose nodes share no edge is never soft.
    Returns a new list of the very record objects that pass, in their order.
    The graph is only read, never modified.
    """
    records = list(chem_bonds)
    positions = _native.soft_bond_positions(graph, records, baseline_lpi, _real(tol, "tol"))
    return [records[i] for i in positions]


def predict_fragments(mol, soft_bonds, ring_fragmentation=False, min_ring_fragment_mz=30):
    """Fragments of single cuts (and, on request, ring double cuts) of the soft bonds.

    Returns a list of entries ``{"bond", "split", "mode", "fragments"}``, where
    ``fragments`` lists ``(formula, average mass, m/z)`` tuples, largest m/z
    first, or is None for a ring bond whose single cut does not split. A cut
    is judged within the connected part of the molecule that holds the bond.
    """
    return _native.predict_fragments(mol, list(soft_bonds), bool(ring_fragmentation),
                                     _real(min_ring_fragment_mz, "min_ring_fragment_mz"))


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
