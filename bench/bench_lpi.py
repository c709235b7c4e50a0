"""compute_lpi against NumPy (to_numpy_array + eigvalsh) on VIF-like sparse graphs.

Run: .venv/bin/python bench/bench_lpi.py
"""

import time

import networkx as nx
import numpy as np

import tessarin


def vif_like_graph(n_nodes):
    """Alkane-like orbital graph: a carbon chain with 4-node sigma cliques, hydrogens on free nodes."""
    g = nx.Graph()
    carbons = max(1, (n_nodes - 2) // 7)  # CnH2n+2: 4n + 2n + 2 nodes ~ 7 per carbon with spare
    nxt = 0
    chain = []
    for c in range(carbons):
        nodes = list(range(nxt, nxt + 4))
        nxt += 4
        g.add_nodes_from(nodes, symbol="C", rol="Merkez", kind="sigma")
        for i in range(4):
            for j in range(i + 1, 4):
                g.add_edge(nodes[i], nodes[j], weight=1.0)
        chain.append(nodes)
    for c in range(carbons - 1):
        g.add_edge(chain[c][1], chain[c + 1][0], weight=0.9)
    for c, nodes in enumerate(chain):
        free = nodes[2:] + ([nodes[0]] if c == 0 else []) + ([nodes[1]] if c == carbons - 1 else [])
        for node in free:
            if nxt >= n_nodes:
                break
            g.add_node(nxt, symbol="H", rol="Uç", kind="sigma")
            g.add_edge(node, nxt, weight=0.9)
            nxt += 1
    while nxt < n_nodes:  # lone pairs to reach the size exactly
        g.add_node(nxt)
        nxt += 1
    return g


def best_time(fn, repeat):
    best = float("inf")
    for _ in range(repeat):
        t0 = time.perf_counter()
        fn()
        best = min(best, time.perf_counter() - t0)
    return best


def main():
    # Below 500 nodes compute_lpi takes NumPy's dense path and its digits; the larger chains go to
    # band storage and agree to rounding.
    print(f"{'nodes':>6} {'edges':>6} {'tessarin ms':>12} {'numpy ms':>10} {'numpy/tessarin':>15} {'max diff':>9}")
    for n, repeat in [(100, 200), (300, 30), (1000, 5), (3000, 1)]:
        g = vif_like_graph(n)
        ours = best_time(lambda: tessarin.compute_lpi(g), repeat)
        ref = best_time(lambda: np.linalg.eigvalsh(nx.to_numpy_array(g, weight="weight")), repeat)
        mine = tessarin.compute_lpi(g)["eigenvalues"]
        theirs = np.linalg.eigvalsh(nx.to_numpy_array(g, weight="weight"))
        assert np.array_equal(mine, theirs) if n < 500 else np.allclose(mine, theirs, rtol=0, atol=1e-9)
        diff = float(np.max(np.abs(mine - theirs)))
        print(
            f"{n:>6} {g.number_of_edges():>6} {ours * 1e3:>12.3f} {ref * 1e3:>10.3f} {ref / ours:>15.2f} {diff:>9.1e}"
        )


if __name__ == "__main__":
    main()
