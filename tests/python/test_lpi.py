"""compute_lpi on networkx graphs of every kind."""

import math
import random

import networkx as nx
import numpy as np
import pytest

import tessarin
from support import reference_lpi as numpy_lpi


def triple(lpi):
    return lpi["n+"], lpi["n0"], lpi["n-"]


def test_small_graphs():
    empty = tessarin.compute_lpi(nx.Graph())
    assert list(empty) == ["n+", "n0", "n-", "eigenvalues"]
    assert triple(empty) == (0, 0, 0)
    assert isinstance(empty["eigenvalues"], np.ndarray) and empty["eigenvalues"].shape == (0,)

    single = nx.Graph()
    single.add_node("x")
    assert triple(tessarin.compute_lpi(single)) == (0, 1, 0)

    k2 = nx.Graph()
    k2.add_edge(0, 1, weight=1.0)
    lpi = tessarin.compute_lpi(k2)
    assert triple(lpi) == (1, 0, 1)
    assert lpi["eigenvalues"].tolist() == [-1.0, 1.0]
    assert all(type(v) is int for v in triple(lpi))

    assert triple(tessarin.compute_lpi(nx.empty_graph(7))) == (0, 7, 0)


def test_tolerance_is_inclusive_for_zero():
    g = nx.Graph()
    g.add_edge(0, 1, weight=0.5)  # eigenvalues exactly -0.5 and 0.5
    assert triple(tessarin.compute_lpi(g, tol=0.5)) == (0, 2, 0)
    assert triple(tessarin.compute_lpi(g, tol=0.4999999)) == (1, 0, 1)
    assert triple(tessarin.compute_lpi(g, tol=0)) == (1, 0, 1)


def test_missing_weight_attribute_counts_one():
    g = nx.Graph()
    g.add_edge("a", "b")
    g.add_edge("b", "c", weight=2.0)
    lpi = tessarin.compute_lpi(g, weight="no_such_attribute")
    assert np.allclose(lpi["eigenvalues"], [-math.sqrt(2), 0, math.sqrt(2)])
    assert np.array_equal(lpi["eigenvalues"], numpy_lpi(g, weight="no_such_attribute")[1])
    unweighted = tessarin.compute_lpi(g, weight=None)
    assert np.array_equal(unweighted["eigenvalues"], numpy_lpi(g, weight=None)[1])


def test_matches_numpy_bit_for_bit_on_random_weighted_graphs():
    rng = random.Random(7)
    for n in [3, 10, 40, 90]:
        g = nx.gnp_random_graph(n, 0.15, seed=n)
        for u, v in g.edges:
            g[u][v]["weight"] = rng.choice([1.0, 0.9, -0.7, 2.5])
        lpi = tessarin.compute_lpi(g)
        counts, eig = numpy_lpi(g)
        assert triple(lpi) == counts
        assert np.array_equal(lpi["eigenvalues"], eig)


def test_foreign_node_labels_follow_the_graph_node_order():
    g = nx.Graph()
    g.add_nodes_from([("t", 1), frozenset({2}), "carbon", 3.5, None.__class__])
    g.add_edge(("t", 1), "carbon", weight=1.0)
    g.add_edge("carbon", 3.5, weight=0.9)
    g.add_edge(frozenset({2}), None.__class__, weight=0.9)
    lpi = tessarin.compute_lpi(g)
    counts, eig = numpy_lpi(g)
    assert triple(lpi) == counts and np.array_equal(lpi["eigenvalues"], eig)


def test_directed_and_multigraphs_are_refused_self_loops_and_views_read_like_numpy():
    # A directed graph's matrix is not symmetric and a multigraph has no one
    # weight per bond: neither is an orbital graph.
    d = nx.DiGraph()
    d.add_edge(0, 1, weight=2.0)
    m = nx.MultiGraph()
    m.add_edge(0, 1, weight=1.0)
    for graph in (d, m, nx.MultiDiGraph(d)):
        with pytest.raises(TypeError, match="directed|multigraph"):
            tessarin.compute_lpi(graph)

    loop = nx.Graph()
    loop.add_edge(0, 0, weight=3.0)
    loop.add_edge(0, 1)
    assert np.array_equal(tessarin.compute_lpi(loop)["eigenvalues"], numpy_lpi(loop)[1])

    view = nx.subgraph(nx.path_graph(6), [1, 2, 3])
    assert triple(tessarin.compute_lpi(view)) == numpy_lpi(view)[0]


@pytest.mark.parametrize(
    "value, error",
    [
        ("heavy", ValueError),
        (None, TypeError),
        (1j, TypeError),
        (float("nan"), ValueError),
        (float("inf"), ValueError),
        ([1], TypeError),
    ],
)
def test_bad_weights_raise(value, error):
    g = nx.Graph()
    g.add_edge(0, 1, weight=value)
    with pytest.raises(error):
        tessarin.compute_lpi(g)


def test_numeric_weights_of_other_types_are_accepted():
    g = nx.Graph()
    g.add_edge(0, 1, weight=np.float32(0.5))
    g.add_edge(1, 2, weight=2)
    g.add_edge(2, 3, weight="1.5")  # NumPy stores numeric strings as numbers too
    assert np.array_equal(tessarin.compute_lpi(g)["eigenvalues"], numpy_lpi(g)[1])


@pytest.mark.parametrize("not_a_graph", [None, [1, 2], {"a": 1}, "graph"])
def test_non_graphs_raise_type_error(not_a_graph):
    with pytest.raises(TypeError):
        tessarin.compute_lpi(not_a_graph)


def test_large_narrow_graphs_agree_with_numpy_and_wide_ones_match_it_bit_for_bit():
    # Polymer-like graphs of 1,500 nodes in random order go to band storage: NumPy's eigenvalues to 1e-9.
    rng = random.Random(3)
    order = list(range(1500))
    rng.shuffle(order)
    g = nx.Graph()
    g.add_nodes_from(order)
    for i in range(1, 1500):
        g.add_edge(i - 1, i, weight=rng.choice([1.0, 0.9]))
        if i % 6 == 0:
            g.add_edge(i - 5, i, weight=0.9)  # a ring every six nodes
    lpi = tessarin.compute_lpi(g)
    counts, eig = numpy_lpi(g)
    assert triple(lpi) == counts
    np.testing.assert_allclose(lpi["eigenvalues"], eig, rtol=0, atol=1e-9)
    # A wheel's hub meets every node: no narrow numbering exists, and the dense path gives NumPy's digits.
    wheel = nx.wheel_graph(600)
    assert np.array_equal(tessarin.compute_lpi(wheel)["eigenvalues"], numpy_lpi(wheel)[1])
