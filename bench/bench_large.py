"""Large molecules: the LPI in band storage, and whole VIF analyses of long chains.

    .venv/bin/python bench/bench_large.py [lpi|chain|depiction|all] [NODES]

lpi        compute_lpi on a polyethylene-like orbital graph of NODES nodes
           (default 30,000) whose nodes arrive in random order, beside LAPACK's
           band eigenvalue solver (SciPy's eig_banded, dsbevd) on the same
           matrix numbered the best way found (the chain's own order or SciPy's
           reverse Cuthill-McKee, whichever is narrower). Each runs in a child
           process that reports its time and its peak resident memory above
           what the process held just before the call.
chain      VIF(C600, draw=False, verbose=False): the engine's steps and the
           conversion to Python, beside RDKit's CoordGen depiction of the same
           molecule (hydrogens included) alone.
depiction  how the whole VIF and the depiction alone grow from C100 to C1000.
"""

import json
import random  # noqa: F401 (used by HELPERS, run with exec)
import subprocess
import sys
import time

import networkx as nx  # noqa: F401 (used by HELPERS)
import numpy as np

CHILD = r"""
import json, sys, time
import numpy as np
sys.path[:0] = json.loads(sys.argv[2])
exec(sys.argv[3])
graph = polyethylene(int(sys.argv[4]), shuffle=True)
which = sys.argv[1]
if which == "tessarin":
    import tessarin
    prepare = lambda: None
    run = lambda _: tessarin.compute_lpi(graph)["eigenvalues"]
else:
    import scipy.linalg
    prepare = lambda: best_band(graph)
    run = lambda ab: scipy.linalg.eig_banded(ab, lower=True, eigvals_only=True)
ready = prepare()

def status(field):
    with open("/proc/self/status") as lines:
        return next(int(line.split()[1]) for line in lines if line.startswith(field + ":"))

with open("/proc/self/clear_refs", "w") as clear:
    clear.write("5")  # resets the peak resident size (VmHWM) to the current one
before = status("VmRSS")
start = time.perf_counter()
values = run(ready)
seconds = time.perf_counter() - start
np.save(sys.argv[5], values)
print(json.dumps({"seconds": seconds, "peak_above_kib": status("VmHWM") - before, "rss_before_kib": before,
                  "bandwidth": getattr(ready, "shape", (1,))[0] - 1}))
"""

HELPERS = r'''
import random  # noqa: F401 (used by HELPERS, run with exec)
import networkx as nx  # noqa: F401 (used by HELPERS)
import numpy as np

def polyethylene(nodes, shuffle):
    """Orbital graph of H(CH2)kH: four sigma nodes per carbon (clique, weight 1),
    C-C bonds 0.9, a hydrogen (0.9) on each free node; k chosen to come near `nodes`."""
    carbons = max(1, (nodes - 2) // 6)
    edges = []
    hydrogen = 4 * carbons
    for c in range(carbons):
        a = 4 * c
        edges += [(a + i, a + j, 1.0) for i in range(4) for j in range(i + 1, 4)]
        if c + 1 < carbons:
            edges.append((a + 1, a + 4, 0.9))
        free = [a + 2, a + 3] + ([a] if c == 0 else []) + ([a + 1] if c == carbons - 1 else [])
        for node in free:
            edges.append((node, hydrogen, 0.9))
            hydrogen += 1
    order = list(range(hydrogen))
    if shuffle:
        random.Random(1).shuffle(order)
    g = nx.Graph()
    g.add_nodes_from(order)
    g.add_weighted_edges_from(edges)
    return g

def best_band(graph):
    """Lower band (rows = diagonals) of the adjacency matrix in the narrowest
    numbering found: the generating order or SciPy's reverse Cuthill-McKee."""
    import scipy.sparse as sp
    from scipy.sparse.csgraph import reverse_cuthill_mckee
    n = graph.number_of_nodes()
    u, v, w = map(np.array, zip(*graph.edges(data="weight")))
    matrix = sp.coo_matrix((np.r_[w, w], (np.r_[u, v], np.r_[v, u])), shape=(n, n)).tocsr()
    best = None
    for perm in (np.arange(n), reverse_cuthill_mckee(matrix, symmetric_mode=True)):
        pos = np.empty(n, dtype=int)
        pos[perm] = np.arange(n)
        kd = int(np.max(np.abs(pos[u] - pos[v])))
        if best is None or kd < best[0]:
            best = (kd, pos)
    kd, pos = best
    ab = np.zeros((kd + 1, n))
    hi, lo = np.maximum(pos[u], pos[v]), np.minimum(pos[u], pos[v])
    ab[hi - lo, lo] = w
    return ab
'''

exec(HELPERS)


def child(which, nodes, path):
    out = subprocess.run(
        [sys.executable, "-c", CHILD, which, json.dumps(sys.path), HELPERS, str(nodes), path],
        check=True,
        capture_output=True,
        text=True,
    )
    return json.loads(out.stdout)


def bench_lpi(nodes):
    ours = child("tessarin", nodes, "/tmp/bench_large_ours.npy")
    ref = child("lapack", nodes, "/tmp/bench_large_ref.npy")
    diff = float(np.max(np.abs(np.load("/tmp/bench_large_ours.npy") - np.load("/tmp/bench_large_ref.npy"))))
    print(f"compute_lpi, {nodes} nodes in random order (reference numbering: bandwidth {ref['bandwidth']})")
    print(
        f"  tessarin.compute_lpi   {ours['seconds']:8.2f} s   peak +{ours['peak_above_kib'] / 1024:7.1f} MB "
        f"(process held {ours['rss_before_kib'] / 1024:.0f} MB before)"
    )
    print(f"  scipy eig_banded       {ref['seconds']:8.2f} s   peak +{ref['peak_above_kib'] / 1024:7.1f} MB")
    print(f"  time ratio {ours['seconds'] / ref['seconds']:.2f}, largest eigenvalue difference {diff:.1e}")


def depiction_seconds(carbons, repeat=1):
    from rdkit import Chem
    from rdkit.Chem import rdDepictor

    rdDepictor.SetPreferCoordGen(True)
    best = float("inf")
    for _ in range(repeat):
        mol = Chem.AddHs(Chem.MolFromSmiles("C" * carbons))
        start = time.perf_counter()
        rdDepictor.Compute2DCoords(mol)
        best = min(best, time.perf_counter() - start)
    return best


def vif_seconds(carbons):
    import tessarin
    from tessarin import _native

    start = time.perf_counter()
    out = _native._testing.analyse_timed("C" * carbons)
    engine_wall = time.perf_counter() - start
    timings = out[1]
    start = time.perf_counter()
    tessarin.VIF("C" * carbons, draw=False, verbose=False)
    return time.perf_counter() - start, engine_wall, timings


def bench_chain(carbons=600):
    depiction = depiction_seconds(carbons, repeat=2)
    total, engine_wall, timings = vif_seconds(carbons)
    conversion = engine_wall - sum(timings.values())
    print(
        f"VIF(C{carbons}): {total:.2f} s; CoordGen depiction alone {depiction:.2f} s; "
        f"the difference {total - depiction:.2f} s"
    )
    steps = ", ".join(f"{k} {v:.3f}" for k, v in timings.items())
    print(f"  engine steps (s): {steps}; conversion to Python {conversion:.3f}")
    print(f"  everything but the depiction: {engine_wall - timings['depiction']:.2f} s")


def bench_depiction():
    # The engine's own clock splits each VIF call into the depiction and the rest; the depiction
    # alone (RDKit, same molecule) is timed in this process too. On a shared machine the two
    # depiction times differ by more than the rest takes, so the rest is read off the engine.
    print(f"{'carbons':>7} {'depiction alone s':>18} {'VIF s':>8} {'its depiction s':>16} {'the rest s':>11}")
    rows = []
    for carbons in (100, 200, 400, 600, 800, 1000):
        depiction = depiction_seconds(carbons)
        total, engine_wall, timings = vif_seconds(carbons)
        rows.append((carbons, depiction))
        print(
            f"{carbons:>7} {depiction:>18.2f} {total:>8.2f} {timings['depiction']:>16.2f} "
            f"{engine_wall - timings['depiction']:>11.2f}",
            flush=True,
        )
    x, y = np.log([r[0] for r in rows[2:]]), np.log([r[1] for r in rows[2:]])
    print(f"  depiction time grows as carbons^{np.polyfit(x, y, 1)[0]:.2f} (fit from 400 carbons on)")


def main():
    which = sys.argv[1] if len(sys.argv) > 1 else "all"
    nodes = int(sys.argv[2]) if len(sys.argv) > 2 else 30000
    if which in ("lpi", "all"):
        bench_lpi(nodes)
    if which in ("chain", "all"):
        bench_chain()
    if which in ("depiction", "all"):
        bench_depiction()


if __name__ == "__main__":
    main()
