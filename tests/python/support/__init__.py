"""What the tests and benchmarks share: the NCI sample, the analysis's own
preparation of a molecule, orbital graphs shaped like the analysis builds
them, and the plain reference implementations the engine is held against.

Submodules: support.layout (the layout written with NumPy) and
support.pubchem (a PubChem look-alike server on 127.0.0.1).
"""

import importlib
import itertools
import pathlib
import sys

import networkx as nx
import numpy as np
from rdkit import Chem

NCI_SMILES = "/usr/share/RDKit/Data/NCI/first_5K.smi"
NCI_SDF = "/usr/share/RDKit/Data/NCI/first_200.props.sdf"
SCRIPTS = pathlib.Path(__file__).resolve().parents[3] / "scripts"


def fitting_script(name):
    """A fitting script of scripts/ as a module (fit_ei_model, fit_fingerprint_model), whose computation of
    the model the engine must equal."""
    sys.path.insert(0, str(SCRIPTS))
    try:
        return importlib.import_module(name)
    finally:
        sys.path.remove(str(SCRIPTS))


def prepared(smiles):
    """The molecule as the analysis prepares it: unsanitised, kekulized where possible, explicit H."""
    mol = Chem.MolFromSmiles(smiles, sanitize=False)
    if mol is None:
        return None
    mol.UpdatePropertyCache(strict=False)
    try:
        Chem.SetAromaticity(mol)
        Chem.Kekulize(mol, clearAromaticFlags=True)
    except Exception:
        pass
    return Chem.AddHs(mol)


def _period(atomic_num):
    for period, last in enumerate((2, 10, 18, 36, 54, 86), start=1):
        if atomic_num <= last:
            return period
    return 7


def _order(bond):
    t = bond.GetBondTypeAsDouble()
    return max(round(t), 1) if t else 1


def vif_like_graph(mol, bond_kappa=0.9):
    """(graph, chem_bonds) for a prepared molecule.

    Per atom: one node for hydrogen, four for periods 2 and 3, nine beyond;
    the atom's pi nodes carry the extra bonds of its multiple bonds, its sigma
    nodes form a clique of weight 1.0. Every bond slot becomes an edge of
    weight ``bond_kappa`` between one node of each atom, taken in turn from
    the atom's sigma or pi nodes (the real builder chooses them by angle; any
    fixed choice serves here).
    """
    g = nx.Graph()
    sigma, pi, first = {}, {}, {}
    for atom in mol.GetAtoms():
        idx = atom.GetIdx()
        period = _period(atom.GetAtomicNum())
        n_nodes = 1 if period == 1 else 4 if period <= 3 else 9
        pi_count = sum(max(_order(b) - 1, 0) for b in atom.GetBonds())
        n_pi = min(pi_count, n_nodes - 1) if n_nodes > 1 else 0
        nodes = list(range(g.number_of_nodes(), g.number_of_nodes() + n_nodes))
        g.add_nodes_from(nodes, symbol=atom.GetSymbol())
        sigma[idx] = itertools.cycle(nodes[: n_nodes - n_pi])
        pi[idx] = itertools.cycle(nodes[n_nodes - n_pi :]) if n_pi else None
        first[idx] = nodes[0]
        for u, v in itertools.combinations(nodes[: n_nodes - n_pi], 2):
            g.add_edge(u, v, weight=1.0)
    chem_bonds = []
    for bond in mol.GetBonds():
        a, b = bond.GetBeginAtomIdx(), bond.GetEndAtomIdx()
        order = _order(bond)
        for k in range(order):
            if k == 0:
                u, v = next(sigma[a]), next(sigma[b])
            elif pi[a] is not None and pi[b] is not None:
                u, v = next(pi[a]), next(pi[b])
            else:
                u, v = first[a], first[b]
            if g.has_edge(u, v):
                continue
            g.add_edge(u, v, weight=bond_kappa)
            chem_bonds.append(
                {
                    "u_node": u,
                    "v_node": v,
                    "atom_u": a,
                    "atom_v": b,
                    "sym_u": mol.GetAtomWithIdx(a).GetSymbol(),
                    "sym_v": mol.GetAtomWithIdx(b).GetSymbol(),
                    "order": order,
                    "k": k,
                }
            )
    return g, chem_bonds


def nci_smiles(count=None, step=1):
    """SMILES of the NCI sample: every ``step``-th line, at most ``count`` of them."""
    out = []
    with open(NCI_SMILES) as f:
        for line in itertools.islice(f, 0, None, step):
            out.append(line.split()[0])
            if count is not None and len(out) == count:
                break
    return out


def nci_molecules(count, step=1, max_atoms=None, min_atoms=1):
    """The first ``count`` prepared NCI molecules (every ``step``-th line) that parse and have
    between ``min_atoms`` and ``max_atoms`` atoms, as (smiles, mol)."""
    out = []
    with open(NCI_SMILES) as f:
        for line in itertools.islice(f, 0, None, step):
            smiles = line.split()[0]
            mol = prepared(smiles)
            if mol is None or mol.GetNumAtoms() < min_atoms:
                continue
            if max_atoms is not None and mol.GetNumAtoms() > max_atoms:
                continue
            out.append((smiles, mol))
            if len(out) == count:
                break
    return out


def reference_lpi(graph, tol=1e-09, weight="weight"):
    """((n+, n0, n-), eigenvalues) of a graph's adjacency matrix, taken with NumPy."""
    if graph.number_of_nodes() == 0:
        return (0, 0, 0), np.zeros(0)
    eig = np.linalg.eigvalsh(nx.to_numpy_array(graph, weight=weight))
    return (int(np.sum(eig > tol)), int(np.sum(np.abs(eig) <= tol)), int(np.sum(eig < -tol))), eig


def reference_soft_bonds(graph, chem_bonds, baseline_lpi, tol=1e-09):
    """The soft-bond test the plain way: delete the edge, take every eigenvalue, put it back."""
    from tessarin import compute_lpi

    g = graph.copy()
    softs = []
    for record in chem_bonds:
        u, v = record["u_node"], record["v_node"]
        if not g.has_edge(u, v):
            continue
        w = g[u][v].get("weight", 1.0)
        g.remove_edge(u, v)
        lpi = compute_lpi(g, tol=tol)
        g.add_edge(u, v, weight=w)
        if all(lpi[key] == baseline_lpi[key] for key in ("n+", "n0", "n-")):
            softs.append(record)
    return softs
