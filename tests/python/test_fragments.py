import inspect

import networkx as nx
import pytest
from rdkit import Chem

import tessarin
from tessarin import predict_fragments
from support import nci_molecules, prepared, vif_like_graph


def mol_h(smiles):
    return Chem.AddHs(Chem.MolFromSmiles(smiles))


def soft(mol, u, v, order=1):
    return {
        "u_node": 0,
        "v_node": 0,
        "atom_u": u,
        "atom_v": v,
        "sym_u": mol.GetAtomWithIdx(u).GetSymbol(),
        "sym_v": mol.GetAtomWithIdx(v).GetSymbol(),
        "order": order,
        "k": 0,
    }


def mzs(entry):
    return [f[2] for f in entry["fragments"]]


def reference_predict(mol, soft_bonds, ring_fragmentation=False, min_ring_fragment_mz=30):
    """The cutting rules written out with networkx, for connected molecules."""
    g = nx.Graph()
    g.add_nodes_from(range(mol.GetNumAtoms()))
    g.add_edges_from((b.GetBeginAtomIdx(), b.GetEndAtomIdx()) for b in mol.GetBonds())

    def frags(components):
        out = []
        for comp in sorted(components, key=min):
            atoms = sorted(comp)
            out.append(
                (
                    tessarin._fragment_formula(mol, atoms),
                    round(sum(mol.GetAtomWithIdx(i).GetMass() for i in atoms), 2),
                    tessarin._nominal_mass(mol, atoms),
                )
            )
        return sorted(out, key=lambda f: -f[2])

    def heavy(comp):
        return sum(1 for i in comp if mol.GetAtomWithIdx(i).GetAtomicNum() > 1)

    results, seen, ring_pairs = [], set(), []
    for s in soft_bonds:
        pair = tuple(sorted((s["atom_u"], s["atom_v"])))
        if pair in seen:
            continue
        seen.add(pair)
        if not g.has_edge(*pair):
            continue
        label = "{}{}-{}{}".format(s["sym_u"], s["atom_u"], s["sym_v"], s["atom_v"])
        g.remove_edge(*pair)
        comps = list(nx.connected_components(g))
        g.add_edge(*pair)
        if len(comps) == 2:
            if s["order"] >= 2 and min(heavy(c) for c in comps) == 1:
                continue
            results.append({"bond": label, "split": True, "mode": "single", "fragments": frags(comps)})
        else:
            results.append({"bond": label, "split": False, "mode": "single", "fragments": None})
            ring_pairs.append(pair)
    if ring_fragmentation:
        seen_double = set()
        for a in range(len(ring_pairs)):
            for b in range(a + 1, len(ring_pairs)):
                p1, p2 = ring_pairs[a], ring_pairs[b]
                g.remove_edge(*p1)
                g.remove_edge(*p2)
                comps = list(nx.connected_components(g))
                g.add_edge(*p1)
                g.add_edge(*p2)
                if len(comps) != 2:
                    continue
                fr = frags(comps)
                if min(f[2] for f in fr) < min_ring_fragment_mz:
                    continue
                key = tuple(sorted(f[2] for f in fr))
                if key in seen_double:
                    continue
                seen_double.add(key)
                label = tessarin._pair_label(mol, *p1) + " + " + tessarin._pair_label(mol, *p2)
                results.append({"bond": label, "split": True, "mode": "ring", "fragments": fr})
    return results


class TestSingleCuts:
    def test_ethanol_c_o(self):
        mol = mol_h("CCO")
        entries = predict_fragments(mol, [soft(mol, 1, 2)])
        assert entries == [
            {"bond": "C1-O2", "split": True, "mode": "single", "fragments": [("C2H5", 29.06, 29), ("HO", 17.01, 17)]}
        ]
        assert list(entries[0]) == ["bond", "split", "mode", "fragments"]
        formula, mass, mz = entries[0]["fragments"][0]
        assert type(formula) is str and type(mass) is float and type(mz) is int
        assert type(entries[0]["split"]) is bool

    def test_each_disconnected_part_is_cut_on_its_own(self):
        salt = mol_h("C[N+](C)(C)C.[O-]C(=O)c1ccccc1")
        methyl, ring = predict_fragments(salt, [soft(salt, 0, 1), soft(salt, 8, 9)], ring_fragmentation=True)
        assert methyl["split"] and mzs(methyl) == [59, 15]  # the cation loses a methyl; the anion is no piece
        assert not ring["split"] and ring["fragments"] is None


class TestHostileRecords:
    def test_atom_indices_outside_the_molecule(self):
        mol = mol_h("CCO")
        for u, v in ((1, 99), (-1, 2), (2**70, 1)):
            with pytest.raises(IndexError):
                predict_fragments(mol, [soft(mol, 1, 2) | {"atom_u": u, "atom_v": v}])
        with pytest.raises(TypeError):
            predict_fragments(mol, [soft(mol, 1, 2) | {"atom_u": 1.0}])

    def test_missing_and_mistyped_keys(self):
        mol = mol_h("CCO")
        for key in ("atom_u", "atom_v", "sym_u", "sym_v"):
            record = soft(mol, 1, 2)
            del record[key]
            with pytest.raises(KeyError):
                predict_fragments(mol, [record])
        no_order = soft(mol, 1, 2)
        del no_order["order"]
        with pytest.raises(KeyError):
            predict_fragments(mol, [no_order])
        ring = mol_h("C1CC1")
        ring_no_order = soft(ring, 0, 1)
        del ring_no_order["order"]
        assert predict_fragments(ring, [ring_no_order])[0]["split"] is False  # order is read only to split
        with pytest.raises(TypeError):
            predict_fragments(mol, [soft(mol, 1, 2) | {"sym_u": 6}])
        with pytest.raises(TypeError):
            predict_fragments(mol, [soft(mol, 1, 2) | {"order": "2"}])
        with pytest.raises(TypeError):
            predict_fragments(mol, ["C1-O2"])

    def test_bad_molecule_and_floor(self):
        mol = mol_h("CCO")
        with pytest.raises(TypeError):
            predict_fragments("CCO", [soft(mol, 1, 2)])
        with pytest.raises(TypeError):
            predict_fragments(None, [])
        with pytest.raises(TypeError):
            predict_fragments(mol, [], True, "30")
        with pytest.raises(ValueError):
            predict_fragments(mol, [], True, float("nan"))

    def test_inputs_are_not_modified(self):
        mol = mol_h("C1CCOC1")
        records = [soft(mol, 2, 3), soft(mol, 4, 0), soft(mol, 0, 5)]
        before = [dict(r) for r in records]
        smiles = Chem.MolToSmiles(mol)
        predict_fragments(mol, records, True)
        assert records == before and Chem.MolToSmiles(mol) == smiles


def test_matches_the_written_out_rules_on_nci_molecules():
    checked = 0
    for smiles, mol in nci_molecules(150):
        if len(Chem.GetMolFrags(mol)) != 1:
            continue
        _, chem_bonds = vif_like_graph(mol)
        for ring in (False, True):
            assert predict_fragments(mol, chem_bonds, ring) == reference_predict(mol, chem_bonds, ring), smiles
        checked += 1
    assert checked > 100


def test_public_signature():
    sig = inspect.signature(tessarin.predict_fragments)
    assert list(sig.parameters) == ["mol", "soft_bonds", "ring_fragmentation", "min_ring_fragment_mz"]
    assert sig.parameters["ring_fragmentation"].default is False
    assert sig.parameters["min_ring_fragment_mz"].default == 30
