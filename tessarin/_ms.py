"""EI-MS prediction: soft bonds and the fragments that cutting them gives."""

from collections.abc import Iterable, Mapping
from typing import Any, TypeVar

import networkx as nx
from rdkit import Chem

from . import _native

_Record = TypeVar("_Record", bound=Mapping[str, Any])


def detect_soft_bonds(
    graph: nx.Graph, chem_bonds: Iterable[_Record], baseline_lpi: Mapping[str, Any], tol: float = 1e-09
) -> list[_Record]:
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
    positions = _native.soft_bond_positions(graph, records, baseline_lpi, tol)
    return [records[i] for i in positions]


def predict_fragments(
    mol: Chem.Mol,
    soft_bonds: Iterable[Mapping[str, Any]],
    ring_fragmentation: bool = False,
    min_ring_fragment_mz: float = 30,
) -> list[dict[str, Any]]:
    """Fragments of single cuts (and, on request, ring double cuts) of the soft bonds.

    Returns a list of entries ``{"bond", "split", "mode", "fragments"}``, where
    ``fragments`` lists ``(formula, average mass, m/z)`` tuples, largest m/z
    first, or is None for a ring bond whose single cut does not split. A cut
    is judged within the connected part of the molecule that holds the bond.
    """
    return _native.predict_fragments(mol, list(soft_bonds), bool(ring_fragmentation), min_ring_fragment_mz)


def _fragment_atom_softs(H, atom_subgraphs, chem_bonds, atom_set, tol=1e-09):
    """Bond records that are soft inside the fragment made of ``atom_set``.

    The soft-bond test of ``detect_soft_bonds`` on the subgraph of ``H``
    induced by the orbital nodes of the atom set (``atom_subgraphs[a]`` for
    every atom ``a``; nodes that ``H`` lacks are left out), measured against
    that subgraph's own LPI. A record is tested when both its atoms are in the
    set and its two nodes are joined inside the subgraph. Returns a new list
    of the very record objects that pass, in ``chem_bonds`` order. Nothing is
    modified; an atom without entry in ``atom_subgraphs`` raises KeyError.
    """
    records = list(chem_bonds)
    positions = _native.atom_set_soft_positions(H, atom_subgraphs, records, atom_set, tol)
    return [records[i] for i in positions]


def _cut_atom_set(mol, atom_set, softs, ring_fragmentation, min_mz):
    """Pieces of ``atom_set`` left by cutting its soft bonds.

    Each soft atom pair inside the set is cut on its own (several records of
    one pair make one cut, the highest ``order`` deciding that a multiple bond
    is not cut off a lone heavy atom); with ``ring_fragmentation``, every two
    ring bonds are also cut together, kept when both pieces weigh at least
    ``min_mz`` (average mass). A cut is judged within the connected part of
    the atom set that holds it. Returns a set of frozensets of atom indices;
    the inputs are not modified.
    """
    pieces = _native.cut_atom_set(mol, atom_set, list(softs), bool(ring_fragmentation), min_mz)
    return {frozenset(p) for p in pieces}


def predict_fragments_recursive(
    mol: Chem.Mol,
    H: nx.Graph,
    atom_subgraphs: Mapping[int, Iterable[Any]],
    chem_bonds: Iterable[Mapping[str, Any]],
    max_generations: int = 3,
    min_mz: float = 25,
    ring_fragmentation: bool = True,
) -> dict[int, dict[str, Any]]:
    """Peak map of several generations of cuts: m/z -> {"formula", "generation"}.

    Breadth first from the molecular ion (generation 0): each distinct atom
    set is searched for its own soft bonds and cut once; pieces of generation
    ``max_generations`` are recorded but not cut. An m/z keeps the formula and
    generation of the first piece that reached it; keys are in discovery
    order. The children of one cut are visited in ascending order of their
    sorted atom indices, so the result is reproducible.
    """
    return _native.predict_fragments_recursive(
        mol, H, atom_subgraphs, list(chem_bonds), max_generations, min_mz, bool(ring_fragmentation)
    )
