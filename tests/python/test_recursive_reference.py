"""The multi-generation fragmentation written out with networkx and NumPy, and
the native engine held against it.

The reference copies the subgraph of each atom set, deletes each candidate
edge and takes every eigenvalue with NumPy's eigvalsh; it cuts with networkx
connected components, judging each cut within the connected part of the
atom set that holds it. It is slow, and it is the yardstick for both native
paths (and for bench/bench_recursive.py).
"""

import networkx as nx
import numpy as np
import pytest

import tessarin
from tessarin import _native
from support import nci_molecules, prepared, reference_lpi


def reference_counts(graph, tol=1e-09):
    return reference_lpi(graph, tol)[0]


def reference_atom_set_softs(H, atom_subgraphs, chem_bonds, atom_set, tol=1e-09):
    nodes = set()
    for a in atom_set:
        nodes.update(atom_subgraphs[a])
    sub = H.subgraph(nodes).copy()
    baseline = reference_counts(sub, tol)
    softs = []
    for record in chem_bonds:
        if record["atom_u"] not in atom_set or record["atom_v"] not in atom_set:
            continue
        u, v = record["u_node"], record["v_node"]
        if not sub.has_edge(u, v):
            continue
        w = sub[u][v].get("weight", 1.0)
        sub.remove_edge(u, v)
        counts = reference_counts(sub, tol)
        sub.add_edge(u, v, weight=w)
        if counts == baseline:
            softs.append(record)
    return softs


def reference_cut_atom_set(mol, atom_set, softs, ring_fragmentation, min_mz):
    g = nx.Graph()
    g.add_nodes_from(atom_set)
    for bond in mol.GetBonds():
        i, j = bond.GetBeginAtomIdx(), bond.GetEndAtomIdx()
        if i in atom_set and j in atom_set:
            g.add_edge(i, j)

    def pieces(pairs):
        """Components of the connected part holding the pairs, or None when they lie in different parts."""
        part = nx.node_connected_component(g, pairs[0][0])
        if any(p[0] not in part for p in pairs):
            return None
        h = g.subgraph(part).copy()
        h.remove_edges_from(pairs)
        return [frozenset(c) for c in nx.connected_components(h)]

    def heavy(comp):
        return sum(1 for i in comp if mol.GetAtomWithIdx(i).GetAtomicNum() > 1)

    pair_order = {}
    for s in softs:
        if s["atom_u"] in atom_set and s["atom_v"] in atom_set:
            pair = tuple(sorted((s["atom_u"], s["atom_v"])))
            pair_order[pair] = max(pair_order.get(pair, 1), s.get("order", 1))
    result, ring_pairs = set(), []
    for pair, order in pair_order.items():
        if not g.has_edge(*pair):
            continue
        comps = pieces([pair])
        if len(comps) == 2:
            if order >= 2 and min(heavy(c) for c in comps) == 1:
                continue
            result.update(comps)
        else:
            ring_pairs.append(pair)
    if ring_fragmentation:
        for i in range(len(ring_pairs)):
            for j in range(i + 1, len(ring_pairs)):
                comps = pieces([ring_pairs[i], ring_pairs[j]])
                if comps is None or len(comps) != 2:
                    continue
                masses = [sum(mol.GetAtomWithIdx(a).GetMass() for a in sorted(c)) for c in comps]
                if min(masses) >= min_mz:
                    result.update(comps)
    return result


def reference_recursive(mol, H, atom_subgraphs, chem_bonds, max_generations=3, min_mz=25, ring_fragmentation=True):
    all_atoms = frozenset(range(mol.GetNumAtoms()))
    peaks = {
        tessarin._nominal_mass(mol, sorted(all_atoms)): {
            "formula": tessarin._fragment_formula(mol, sorted(all_atoms)),
            "generation": 0,
        }
    }
    seen, queue = {all_atoms}, [(all_atoms, 0)]
    while queue:
        atom_set, gen = queue.pop(0)
        if gen >= max_generations:
            continue
        softs = reference_atom_set_softs(H, atom_subgraphs, chem_bonds, atom_set)
        children = reference_cut_atom_set(mol, set(atom_set), softs, ring_fragmentation, min_mz)
        for child in sorted(children, key=sorted):
            if not child or child == atom_set:
                continue
            mz = tessarin._nominal_mass(mol, sorted(child))
            if child in seen:
                continue
            seen.add(child)
            if mz not in peaks:
                peaks[mz] = {"formula": tessarin._fragment_formula(mol, sorted(child)), "generation": gen + 1}
            queue.append((child, gen + 1))
    return peaks


SMALL = ["CCO", "c1ccccc1CCO", "CC(=O)Nc1ccc(O)cc1", "C1CCC2CCCCC2C1", "[Na+].CC(=O)[O-]", "C1CCCCC1.OCCN"]


@pytest.fixture(scope="module")
def analysed():
    return [(prepared(s), tessarin.VIF(s, draw=False, verbose=False, n_iter=100)) for s in SMALL]


def test_helpers_match_the_reference_on_every_atom_set_of_a_run(analysed):
    for mol, r in analysed:
        H, subgraphs, bonds = r["graph"], r["atom_subgraphs"], r["chem_bonds"]
        # The atom sets a two-generation run expands: the molecule and its first pieces.
        whole = frozenset(range(mol.GetNumAtoms()))
        softs = reference_atom_set_softs(H, subgraphs, bonds, whole)
        sets = [whole] + sorted(reference_cut_atom_set(mol, set(whole), softs, True, 25), key=sorted)
        for atom_set in sets:
            softs = reference_atom_set_softs(H, subgraphs, bonds, atom_set)
            assert [id(s) for s in tessarin._fragment_atom_softs(H, subgraphs, bonds, atom_set)] == [
                id(s) for s in softs
            ]
            for ring, floor in ((True, 25), (False, 25), (True, 40.0)):
                assert tessarin._cut_atom_set(mol, set(atom_set), softs, ring, floor) == reference_cut_atom_set(
                    mol, set(atom_set), softs, ring, floor
                )


def test_both_native_paths_match_the_reference_peak_maps(analysed):
    for (mol, r), smiles in zip(analysed, SMALL):
        args = (mol, r["graph"], r["atom_subgraphs"], r["chem_bonds"])
        expected = list(reference_recursive(*args, max_generations=2).items())
        for path in ("fast", "plain"):
            got = _native._testing.predict_fragments_recursive(*args, 2, 25, True, path)
            assert list(got.items()) == expected, (smiles, path)
