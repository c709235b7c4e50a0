import collections.abc
import types

import networkx as nx
import pytest

import tessarin
from tessarin import _native, compute_lpi, detect_soft_bonds
from support import nci_molecules, prepared, reference_soft_bonds, vif_like_graph


def path_graph(labels, weight=1.0):
    g = nx.Graph()
    for u, v in zip(labels, labels[1:]):
        g.add_edge(u, v, weight=weight)
    return g


def rec(u, v, **extra):
    return {"u_node": u, "v_node": v, **extra}


def snapshot(g):
    return list(g.nodes(data=True)), [(u, v, dict(d)) for u, v, d in g.edges(data=True)]


class TestResult:
    def test_returns_the_given_record_objects_in_order(self):
        g = path_graph([0, 1, 2, 3])
        middle, end, again, missing = rec(1, 2), rec(0, 1), rec(2, 1), rec(0, 3)
        chem_bonds = [middle, end, again, missing]
        softs = detect_soft_bonds(g, chem_bonds, compute_lpi(g))
        # Two records of one edge are tested and reported separately; a pair without edge never is.
        assert softs == [middle, again]
        assert softs[0] is middle and softs[1] is again
        assert softs is not chem_bonds
        softs[0]["marked"] = True
        assert chem_bonds[0]["marked"]

    def test_takes_any_iterable_and_mapping(self):
        g = path_graph([0, 1, 2, 3])

        class Record(collections.abc.Mapping):
            def __init__(self, **kw):
                self._d = kw

            def __getitem__(self, key):
                return self._d[key]

            def __iter__(self):
                return iter(self._d)

            def __len__(self):
                return len(self._d)

        records = [Record(u_node=1, v_node=2), types.MappingProxyType(rec(2, 1))]
        softs = detect_soft_bonds(g, iter(records), compute_lpi(g))
        assert softs[0] is records[0] and softs[1] is records[1]
        assert detect_soft_bonds(g, [], compute_lpi(g)) == []

    def test_counts_all_three_numbers_against_the_baseline(self):
        g = path_graph([0, 1, 2, 3])
        base = compute_lpi(g)
        assert detect_soft_bonds(g, [rec(1, 2)], base)
        for key in ("n+", "n0", "n-"):
            shifted = dict(base, **{key: base[key] + 1})
            assert detect_soft_bonds(g, [rec(1, 2)], shifted) == []
        # Extra entries such as the eigenvalues are not compared.
        assert detect_soft_bonds(g, [rec(1, 2)], {"n+": 2, "n0": 0, "n-": 2})

    def test_edges_without_weight_count_one(self):
        bare = nx.cycle_graph(5)
        weighted = nx.cycle_graph(5)
        nx.set_edge_attributes(weighted, 1.0, "weight")
        records = [rec(u, v) for u, v in bare.edges()]
        assert detect_soft_bonds(bare, records, compute_lpi(weighted)) == detect_soft_bonds(
            weighted, records, compute_lpi(weighted)
        )


class TestGraphIsOnlyRead:
    def test_graph_is_unchanged_with_edge_order_and_attribute_dicts(self):
        g = path_graph(["x", ("y", 1), 2.5, "z"])
        g["x"][("y", 1)]["label"] = "kept"
        data_before = [d for _, _, d in g.edges(data=True)]
        before = snapshot(g)
        detect_soft_bonds(g, [rec(u, v) for u, v in g.edges()], compute_lpi(g))
        assert snapshot(g) == before
        assert all(a is b for a, b in zip(data_before, (d for _, _, d in g.edges(data=True))))

    def test_graph_is_unchanged_when_a_record_fails(self):
        g = path_graph([0, 1, 2, 3])
        before = snapshot(g)
        with pytest.raises(KeyError):
            detect_soft_bonds(g, [rec(1, 2), {"u_node": 0}], compute_lpi(g))
        assert snapshot(g) == before

    def test_frozen_graphs_and_views_are_accepted(self):
        g = path_graph([0, 1, 2, 3, 4])
        view = g.subgraph([0, 1, 2, 3])
        frozen = nx.freeze(path_graph([0, 1, 2, 3]))
        for graph in (view, frozen):
            assert detect_soft_bonds(graph, [rec(1, 2), rec(3, 4)], compute_lpi(graph)) == [rec(1, 2)]


class TestHostileInput:
    def test_directed_multi_and_non_graphs_raise_type_error(self):
        for graph in (nx.DiGraph([(0, 1)]), nx.MultiGraph([(0, 1)]), nx.MultiDiGraph([(0, 1)]), {0: {1: {}}}, None):
            with pytest.raises(TypeError):
                detect_soft_bonds(graph, [rec(0, 1)], {"n+": 1, "n0": 0, "n-": 1})

    def test_bad_records_and_baselines(self):
        g = path_graph([0, 1, 2])
        base = compute_lpi(g)
        with pytest.raises(KeyError):
            detect_soft_bonds(g, [{"v_node": 1}], base)
        with pytest.raises(TypeError):
            detect_soft_bonds(g, [rec([0], 1)], base)  # unhashable node label
        with pytest.raises(TypeError):
            detect_soft_bonds(g, [7], base)
        with pytest.raises(KeyError):
            detect_soft_bonds(g, [rec(0, 1)], {"n+": 1, "n0": 1})
        with pytest.raises(TypeError):
            detect_soft_bonds(g, [rec(0, 1)], {"n+": 1.5, "n0": 1, "n-": 1})
        with pytest.raises(TypeError):
            detect_soft_bonds(g, [rec(0, 1)], base, tol="1e-9")
        with pytest.raises(ValueError):
            detect_soft_bonds(g, [rec(0, 1)], base, tol=float("nan"))

    def test_foreign_labels_are_just_absent_edges(self):
        g = path_graph(["C", "O", "H"])
        assert detect_soft_bonds(g, [rec("N", "O"), rec(0, 1), rec("C", None)], compute_lpi(g)) == []

    def test_bad_weights_raise(self):
        for bad, error in (
            (float("nan"), ValueError),
            (float("inf"), ValueError),
            ("heavy", ValueError),
            (None, TypeError),
        ):
            g = path_graph([0, 1, 2])
            g[0][1]["weight"] = bad
            with pytest.raises(error):
                detect_soft_bonds(g, [rec(1, 2)], {"n+": 1, "n0": 1, "n-": 1})


class TestAgreesWithTheEigenvalueDefinition:
    def test_self_loops_and_odd_tolerances_use_the_dense_count(self):
        g = path_graph([0, 1, 2, 3])
        g.add_edge(2, 2, weight=0.7)
        assert not _native._testing.peeling_applies(g, 1e-9)
        records = [rec(u, v) for u, v in g.edges()]
        for tol in (1e-9, 0.0, 0.5):
            base = compute_lpi(g, tol=tol)
            assert detect_soft_bonds(g, records, base, tol=tol) == reference_soft_bonds(g, records, base, tol)

    @pytest.mark.parametrize(
        "smiles",
        [
            "CCO",
            "c1ccc(cc1)[N+](=O)[O-]",
            "CC(=NO)C",
            "C1[Li]C[Li]1",
            "N#Cc1ccc(cc1)N=Nc1ccc(cc1)Cl",
            "NN.OB1OB(O1)OB2OB(O)O2",
            "[H]B1([H])[H][B]([H])([H])[H]1",
            "C(Cl)(Cl)(Cl)Br",
            "OI(=O)=O",
        ],
    )
    def test_small_molecules_match_the_plain_eigenvalue_test(self, smiles):
        g, chem_bonds = vif_like_graph(prepared(smiles))
        base = compute_lpi(g)
        assert _native._testing.peeling_applies(g, 1e-9)
        assert detect_soft_bonds(g, chem_bonds, base) == reference_soft_bonds(g, chem_bonds, base)

    def test_peeled_and_dense_paths_agree_on_nci_molecules(self):
        tests = 0
        for smiles, mol in nci_molecules(300):
            g, chem_bonds = vif_like_graph(mol)
            base = compute_lpi(g)
            assert _native._testing.peeling_applies(g, 1e-9), smiles
            peeled = _native._testing.soft_bond_positions(g, chem_bonds, base, 1e-9, "peeled")
            dense = _native._testing.soft_bond_positions(g, chem_bonds, base, 1e-9, "dense")
            assert peeled == dense, smiles
            tests += len(chem_bonds)
        assert tests > 10000

    def test_method_names_are_checked(self):
        g = path_graph([0, 1])
        with pytest.raises(ValueError):
            _native._testing.soft_bond_positions(g, [rec(0, 1)], compute_lpi(g), 1e-9, "fast")
        g.add_edge(1, 1)
        with pytest.raises(ValueError):
            _native._testing.soft_bond_positions(g, [rec(0, 1)], compute_lpi(g), 1e-9, "peeled")


def test_public_signature():
    import inspect

    sig = inspect.signature(tessarin.detect_soft_bonds)
    assert list(sig.parameters) == ["graph", "chem_bonds", "baseline_lpi", "tol"]
    assert sig.parameters["tol"].default == 1e-09
