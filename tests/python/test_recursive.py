import copy

import networkx as nx
import pytest

from tessarin import VIF, _native, predict_fragments_recursive
from support import nci_molecules, prepared


def analysed(smiles, **kw):
    return prepared(smiles), VIF(smiles, draw=False, verbose=False, n_iter=100, **kw)


class TestVif:
    def test_report_and_result_carry_the_peak_map(self, capsys):
        smiles = "c1ccccc1CCO"
        r = VIF(smiles, draw=False, verbose=True, recursive_ms=True)
        out = capsys.readouterr().out.splitlines()
        peaks = r["recursive_peaks"]
        assert list(peaks)[0] == r["mol_mass"] == 122
        assert peaks[122] == {"formula": "C8H10O", "generation": 0}
        assert all(list(v) == ["formula", "generation"] for v in peaks.values())
        assert {v["generation"] for v in peaks.values()} == {0, 1, 2}
        # Discovery order: generations never go back.
        gens = [v["generation"] for v in peaks.values()]
        assert gens == sorted(gens)
        assert out[-2] == f"      Multi-generation MS (2 generations, {len(peaks)} peaks):"
        assert out[-1] == "        m/z list: [" + ", ".join(map(str, sorted(peaks, reverse=True))) + "]"
        # The same peaks as the public function on the returned graph.
        mol = prepared(smiles)
        assert list(
            predict_fragments_recursive(
                mol, r["graph"], r["atom_subgraphs"], r["chem_bonds"], max_generations=2
            ).items()
        ) == list(peaks.items())

    def test_generations_and_ring_option(self, capsys):
        r0 = VIF("CCO", draw=False, verbose=True, recursive_ms=True, max_generations=0)
        assert r0["recursive_peaks"] == {46: {"formula": "C2H6O", "generation": 0}}
        assert capsys.readouterr().out.splitlines()[-2:] == [
            "      Multi-generation MS (0 generations, 1 peaks):",
            "        m/z list: [46]",
        ]
        # Ring double cuts always take part, whatever VIF's own ring_fragmentation says.
        a = VIF("C1CCCCC1", draw=False, verbose=False, recursive_ms=True, ring_fragmentation=False)
        b = VIF("C1CCCCC1", draw=False, verbose=False, recursive_ms=True, ring_fragmentation=True)
        assert a["recursive_peaks"] == b["recursive_peaks"]
        assert a["ringcut_fragments"] == []
        drawn = VIF("CCO", draw=True, verbose=False, recursive_ms=True, show_spectrum=False)
        assert "recursive_peaks" not in drawn
        assert VIF("not a smiles((", recursive_ms=True) == "SMILES okunamadı!"
        with pytest.raises(TypeError):
            VIF("CCO", draw=False, verbose=False, recursive_ms=True, max_generations=1.5)


class TestPredictFragmentsRecursive:
    def test_generations_bound_the_expansion(self):
        mol, r = analysed("CC(=O)Nc1ccc(O)cc1")
        args = (mol, r["graph"], r["atom_subgraphs"], r["chem_bonds"])
        ion = {r["mol_mass"]: {"formula": "C8H9NO2", "generation": 0}}
        assert predict_fragments_recursive(*args, max_generations=0) == ion
        maps = [predict_fragments_recursive(*args, max_generations=g) for g in (1, 2, 3)]
        for shorter, longer in zip(maps, maps[1:]):
            # A longer run only adds peaks; what was found keeps its formula and generation.
            assert list(longer.items())[: len(shorter)] == list(shorter.items())
        assert max(v["generation"] for v in maps[2].values()) == 3
        assert predict_fragments_recursive(*args) == maps[2]

    def test_inputs_are_only_read(self):
        mol, r = analysed("CC(=O)Oc1ccccc1C(=O)O")
        H, subgraphs, bonds = r["graph"], r["atom_subgraphs"], r["chem_bonds"]
        before = (list(H.edges(data=True)), copy.deepcopy(subgraphs), copy.deepcopy(bonds), mol.GetNumAtoms())
        predict_fragments_recursive(mol, H, subgraphs, bonds, max_generations=2)
        assert (list(H.edges(data=True)), subgraphs, bonds, mol.GetNumAtoms()) == before

    def test_bad_input_raises_clear_errors(self):
        mol, r = analysed("CCO")
        H, subgraphs, bonds = r["graph"], r["atom_subgraphs"], r["chem_bonds"]
        with pytest.raises(KeyError):
            predict_fragments_recursive(mol, H, {a: n for a, n in subgraphs.items() if a != 2}, bonds)
        with pytest.raises(KeyError):
            predict_fragments_recursive(mol, H, subgraphs, [{"atom_u": 0, "atom_v": 1}])
        with pytest.raises(TypeError):
            predict_fragments_recursive(mol, nx.MultiGraph(H), subgraphs, bonds)
        with pytest.raises(TypeError):
            predict_fragments_recursive(mol, "H", subgraphs, bonds)
        with pytest.raises(TypeError):
            predict_fragments_recursive(None, H, subgraphs, bonds)
        with pytest.raises(TypeError):
            predict_fragments_recursive(mol, H, subgraphs, bonds, max_generations=2.0)
        with pytest.raises(TypeError):
            predict_fragments_recursive(mol, H, subgraphs, bonds, min_mz=None)
        with pytest.raises(ValueError):
            predict_fragments_recursive(mol, H, subgraphs, bonds, min_mz=float("nan"))
        with pytest.raises(ValueError):
            _native._testing.predict_fragments_recursive(mol, H, subgraphs, bonds, 2, 25, True, "quick")
        # With nothing to cut, the orbital inputs are never read.
        assert len(predict_fragments_recursive(mol, None, None, [], max_generations=0)) == 1
        # A graph of another molecule is no crash: atoms it lacks are missing keys.
        big_mol, big = analysed("CCCCCCCCO")
        with pytest.raises(KeyError):
            predict_fragments_recursive(big_mol, H, subgraphs, bonds)


def test_fast_and_plain_counts_give_identical_peak_maps_on_nci_molecules():
    cases = [(s, m) for s, m in nci_molecules(100) if m.GetNumHeavyAtoms() <= 20][:36]
    assert len(cases) == 36
    nontrivial = 0
    for smiles, mol in cases:
        r = VIF(smiles, draw=False, verbose=False, n_iter=100)
        args = (mol, r["graph"], r["atom_subgraphs"], r["chem_bonds"], 2, 25, True)
        fast, fast_stats = _native._testing.predict_fragments_recursive(*args, "fast", True)
        plain, plain_stats = _native._testing.predict_fragments_recursive(*args, "plain", True)
        assert list(fast.items()) == list(plain.items()), smiles
        assert fast_stats["counts"] + fast_stats["isolated"] + fast_stats["rank_two"] == plain_stats["counts"]
        assert plain_stats["isolated"] == 0
        assert plain_stats["dense_counts"] == plain_stats["counts"]
        nontrivial += len(fast) > 5
    assert nontrivial >= 20
