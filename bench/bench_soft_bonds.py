"""Soft-bond detection: peeled count against dense eigenvalues on NCI molecules.

    PYTHONPATH=. /usr/bin/python3 bench/bench_soft_bonds.py [--count 300] [--no-reference]

Builds orbital graphs shaped like the analysis's for the first molecules of
RDKit's NCI sample, runs the soft-bond test of every bond record with each
count path, checks that they report the same records, and prints sizes and
timings. The reference path deletes each edge from a copy of the graph and
calls compute_lpi, as a plain implementation would.
"""

import argparse
import os
import statistics
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "python"))

from tessarin import _native, compute_lpi  # noqa: E402
from support import nci_molecules, reference_soft_bonds, vif_like_graph  # noqa: E402


def timed(fn, cases):
    start = time.perf_counter()
    out = [fn(*case) for case in cases]
    return time.perf_counter() - start, out


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--count", type=int, default=300, help="number of NCI molecules")
    parser.add_argument("--no-reference", action="store_true", help="skip the delete-and-recompute path")
    args = parser.parse_args()

    cases, nodes, cores = [], [], []
    for _, mol in nci_molecules(args.count):
        g, chem_bonds = vif_like_graph(mol)
        base = compute_lpi(g)
        cases.append((g, chem_bonds, base))
        nodes.append(g.number_of_nodes())
        cores.append(_native._testing.peeled_core(g, 1e-9)["core_nodes"])
    tests = sum(len(c[1]) for c in cases)
    not_applicable = sum(not _native._testing.peeling_applies(g, 1e-9) for g, _, _ in cases)

    t_convert, _ = timed(lambda g, b, base: _native._testing.soft_bond_positions(g, [], base, 1e-9, "dense"), cases)
    t_dense, dense = timed(lambda g, b, base: _native._testing.soft_bond_positions(g, b, base, 1e-9, "dense"), cases)
    t_peeled, peeled = timed(lambda g, b, base: _native._testing.soft_bond_positions(g, b, base, 1e-9, "peeled"), cases)
    differ = sum(d != p for d, p in zip(dense, peeled))
    soft = sum(len(p) for p in peeled)

    print(f"molecules                 {len(cases)}")
    print(f"soft-bond tests           {tests}  ({soft} soft)")
    print(f"graph nodes               mean {statistics.mean(nodes):.1f}, max {max(nodes)}")
    print(f"dense core after peeling  mean {statistics.mean(cores):.1f}, max {max(cores)}")
    print(f"peeling not applicable    {not_applicable} graphs")
    print(f"molecules whose lists differ (peeled vs dense): {differ}")
    print(f"graph conversion only     {t_convert:8.3f} s")
    print(f"dense eigenvalues         {t_dense:8.3f} s  ({1e6 * (t_dense - t_convert) / tests:7.1f} us per test)")
    print(f"peeled + dense core       {t_peeled:8.3f} s  ({1e6 * (t_peeled - t_convert) / tests:7.1f} us per test)")
    print(f"speed-up of the tests     {(t_dense - t_convert) / (t_peeled - t_convert):8.1f} x")
    if not args.no_reference:
        t_ref, ref = timed(lambda g, b, base: reference_soft_bonds(g, b, base), cases)
        ref_differ = sum([id(r) for r in rs] != [id(b[i]) for i in p] for rs, p, (_, b, _) in zip(ref, peeled, cases))
        print(f"delete + compute_lpi      {t_ref:8.3f} s  (molecules differing from peeled: {ref_differ})")
    return 1 if differ else 0


if __name__ == "__main__":
    sys.exit(main())
