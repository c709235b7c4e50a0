import copy

import networkx as nx
import pytest
from rdkit import Chem

import tessarin
from tessarin import VIF, _cut_atom_set, _fragment_atom_softs, detect_soft_bonds
from support import prepared


def soft(u, v, order=1):
    return {"u_node": 0, "v_node": 0, "atom_u": u, "atom_v": v, "sym_u": "C", "sym_v": "C", "order": order, "k": 0}


def snapshot(g):
    return list(g.nodes(data=True)), sorted((u, v, tuple(sorted(d.items()))) for u, v, d in g.edges(data=True))


@pytest.fixture(scope="module")
def phenethyl():
    smiles = "c1ccccc1CCO"
    return prepared(smiles), VIF(smiles, draw=False, verbose=False, n_iter=100)


class TestFragmentAtomSofts:
    def test_whole_molecule_gives_the_soft_bonds_of_the_graph(self, phenethyl):
        mol, r = phenethyl
        H, subgraphs, bonds = r["graph"], r["atom_subgraphs"], r["chem_bonds"]
        before = snapshot(H), copy.deepcopy(subgraphs), copy.deepcopy(bonds)
        softs = _fragment_atom_softs(H, subgraphs, bonds, frozenset(range(mol.GetNumAtoms())))
        assert softs == r["soft_bonds"] and softs
        assert all(any(s is b for b in bonds) for s in softs)
        # Nothing given is changed.
        assert (snapshot(H), subgraphs, bonds) == before

    def test_a_fragment_is_judged_by_its_own_counts(self):
        # A path of four one-node atoms: only the middle bond is soft in the
        # whole, while inside the first three atoms the end bond is soft too.
        H = nx.path_graph(4)
        subgraphs = {a: [a] for a in range(4)}
        bonds = [{"u_node": a, "v_node": a + 1, "atom_u": a, "atom_v": a + 1} for a in range(3)]
        assert _fragment_atom_softs(H, subgraphs, bonds, {0, 1, 2, 3}) == [bonds[1]]
        assert _fragment_atom_softs(H, subgraphs, bonds, [2, 1, 0]) == bonds[:2]
        assert _fragment_atom_softs(H, subgraphs, bonds, {0, 1}) == []
        assert _fragment_atom_softs(H, subgraphs, bonds, {3}) == []
        assert detect_soft_bonds(H, bonds, tessarin.compute_lpi(H)) == [bonds[1]]
        # Nodes that H lacks are left out of the subgraph, as an induced subgraph leaves them out.
        assert _fragment_atom_softs(H, {**subgraphs, 3: [3, "ghost"]}, bonds, {0, 1, 2, 3}) == [bonds[1]]

    def test_bad_input_raises_clear_errors(self, phenethyl):
        mol, r = phenethyl
        H, subgraphs, bonds = r["graph"], r["atom_subgraphs"], r["chem_bonds"]
        with pytest.raises(KeyError):
            _fragment_atom_softs(H, subgraphs, bonds, {0, 999})
        with pytest.raises(KeyError):
            _fragment_atom_softs(H, subgraphs, [{"atom_u": 0, "atom_v": 1, "u_node": 0}], {0, 1})
        with pytest.raises(TypeError):
            _fragment_atom_softs(H, subgraphs, bonds, "012")
        with pytest.raises(TypeError):
            _fragment_atom_softs(H, subgraphs, bonds, {0.0, 1})
        with pytest.raises(TypeError):
            _fragment_atom_softs(nx.DiGraph(H), subgraphs, bonds, {0, 1})
        with pytest.raises(TypeError):
            _fragment_atom_softs(H, subgraphs, bonds, {0, 1}, tol="1e-9")
        with pytest.raises(ValueError):
            _fragment_atom_softs(H, subgraphs, bonds, {0, 1}, tol=float("nan"))
        with pytest.raises(TypeError):
            _fragment_atom_softs(H, subgraphs, [{"atom_u": "0", "atom_v": 1, "u_node": 0, "v_node": 1}], {0, 1})


class TestCutAtomSet:
    def test_returns_a_set_of_frozensets(self):
        # The cutting rules themselves are covered by the core tests.
        methanol = Chem.AddHs(Chem.MolFromSmiles("CO"))  # C0 O1, H2-H4 on C, H5 on O
        pieces = _cut_atom_set(methanol, set(range(6)), [soft(0, 1)], True, 25)
        assert type(pieces) is set and all(type(p) is frozenset for p in pieces)
        assert {tessarin._fragment_formula(methanol, sorted(p)) for p in pieces} == {"CH3", "HO"}
        assert _cut_atom_set(methanol, {0}, [soft(0, 1)], True, 0) == set()
        # A record without order counts as a single bond.
        acetone = Chem.AddHs(Chem.MolFromSmiles("CC(C)=O"))
        atoms = frozenset(range(acetone.GetNumAtoms()))
        assert _cut_atom_set(acetone, atoms, [soft(1, 3, order=2)], True, 0) == set()
        assert len(_cut_atom_set(acetone, atoms, [{"atom_u": 1, "atom_v": 3}], True, 0)) == 2

    def test_inputs_are_left_alone_and_bad_input_raises(self):
        mol = Chem.AddHs(Chem.MolFromSmiles("CCO"))
        atoms = set(range(mol.GetNumAtoms()))
        softs = [soft(1, 2)]
        before = (set(atoms), copy.deepcopy(softs), Chem.MolToSmiles(mol))
        _cut_atom_set(mol, atoms, softs, True, 25)
        assert (atoms, softs, Chem.MolToSmiles(mol)) == before
        with pytest.raises(IndexError):
            _cut_atom_set(mol, {0, 99}, softs, True, 25)
        with pytest.raises(IndexError):
            _cut_atom_set(mol, {-1}, softs, True, 25)
        with pytest.raises(TypeError):
            _cut_atom_set(mol, {0, 1.5}, softs, True, 25)
        with pytest.raises(TypeError):
            _cut_atom_set(None, atoms, softs, True, 25)
        with pytest.raises(TypeError):
            _cut_atom_set(mol, atoms, softs, True, "25")
        with pytest.raises(ValueError):
            _cut_atom_set(mol, atoms, softs, True, float("nan"))
        with pytest.raises(KeyError):
            _cut_atom_set(mol, atoms, [{"atom_u": 1}], True, 25)
        with pytest.raises(TypeError):
            _cut_atom_set(mol, atoms, [soft(1, 2, order=2.0)], True, 25)
        # Atom indices far outside any molecule in a record are simply not inside the set.
        assert _cut_atom_set(mol, atoms, [soft(1, 10**30)], True, 25) == set()
