"""Multi-generation fragmentation: VIF(recursive_ms=True) on NCI molecules, fast against plain counts.

    PYTHONPATH=. /usr/bin/python3 bench/bench_recursive.py [--count 300] [--generations 2] [--plain 20]
                                                           [--reference 5] [--sizes 20,40,60]

Times VIF(smiles, draw=False, verbose=False, recursive_ms=True,
max_generations=...) over the first molecules of RDKit's NCI sample, then
reruns the fragmentation alone on the same graphs with the fast counts
(peeling, core memo), tallies the LPI counts and checks the peak maps against
VIF's. The plain counts (dense eigenvalues of every atom-set subgraph) run on
the first --plain molecules (they take minutes for all 100 at three
generations), and --reference N runs the networkx/NumPy version on the first N;
both must give the same peak maps. Last, single molecules of the given heavy
atom counts (the first NCI molecule of each size): time per VIF call and
counts, fast and plain.
"""

import argparse
import os
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "python"))

from tessarin import VIF, _native  # noqa: E402
from support import NCI_SMILES, nci_smiles, prepared  # noqa: E402


def first_smiles(count):
    return nci_smiles(count)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--count", type=int, default=300, help="number of NCI SMILES")
    parser.add_argument("--generations", type=int, default=2, help="max_generations (VIF's default is 2)")
    parser.add_argument("--plain", type=int, default=20, help="run the plain counts on this many")
    parser.add_argument("--reference", type=int, default=0, help="also run the NumPy version on this many")
    parser.add_argument("--sizes", default="20,40,60", help="heavy atom counts of the single molecules")
    args = parser.parse_args()
    smiles = first_smiles(args.count)
    gens = args.generations

    start = time.perf_counter()
    for s in smiles:
        VIF(s, draw=False, verbose=False)
    t_plain_vif = time.perf_counter() - start
    start = time.perf_counter()
    results = [VIF(s, draw=False, verbose=False, recursive_ms=True, max_generations=gens) for s in smiles]
    t_vif = time.perf_counter() - start

    cases = [(prepared(s), r) for s, r in zip(smiles, results) if isinstance(r, dict)]
    totals, timings, maps = {}, {}, {}
    for path, subset in (("fast", cases), ("plain", cases[: args.plain])):
        start = time.perf_counter()
        out = [
            _native.predict_fragments_recursive(
                mol, r["graph"], r["atom_subgraphs"], r["chem_bonds"], gens, 25, True, path, True
            )
            for mol, r in subset
        ]
        timings[path] = time.perf_counter() - start
        maps[path] = [list(peaks.items()) for peaks, _ in out]
        tally = {}
        for _, stats in out:
            for key, value in stats.items():
                tally[key] = max(tally.get(key, 0), value) if key == "largest_dense" else tally.get(key, 0) + value
        totals[path] = tally
    vif_maps = [list(r["recursive_peaks"].items()) for _, r in cases]
    differ = sum(f != p for f, p in zip(maps["fast"], maps["plain"]))
    differ_vif = sum(f != v for f, v in zip(maps["fast"], vif_maps))
    n_plain = len(maps["plain"])
    start = time.perf_counter()
    for mol, r in cases[:n_plain]:
        _native.predict_fragments_recursive(mol, r["graph"], r["atom_subgraphs"], r["chem_bonds"], gens, 25, True)
    t_fast_plain_set = time.perf_counter() - start

    f, p = totals["fast"], totals.get("plain", {})
    print(f"molecules                      {len(cases)} (of {len(smiles)} SMILES), max_generations {gens}")
    print(f"VIF with recursive_ms          {t_vif:8.3f} s total")
    print(f"VIF without it                 {t_plain_vif:8.3f} s  (fragmentation share {t_vif - t_plain_vif:.3f} s)")
    print(f"atom sets expanded             {f['atom_sets']}")
    print(f"LPI counts                     {f['counts']}")
    print(f"  peeled away completely       {f['peeled_away']}")
    print(f"  all core blocks from memo    {f['memo_hits']}")
    print(
        f"  needing a dense eigensolve   {f['dense_counts']}  ({f['dense_solves']} core blocks solved, "
        f"mean {f['dense_nodes'] / max(f['dense_solves'], 1):.1f} nodes)"
    )
    print(f"largest dense core             {f['largest_dense']} nodes")
    print(f"fragmentation alone, fast      {timings['fast']:8.3f} s")
    if n_plain:
        print(
            f"plain counts, first {n_plain:<3}        {timings['plain']:8.3f} s  ({p['counts']} dense counts, "
            f"largest {p['largest_dense']} nodes; fast on the same {t_fast_plain_set:.3f} s, "
            f"{timings['plain'] / t_fast_plain_set:.0f}x)"
        )
    print(f"peak maps differing fast/plain {differ} (of {n_plain}); fast/VIF {differ_vif}")
    if args.reference:
        from test_recursive_reference import reference_recursive

        sub = cases[: args.reference]
        start = time.perf_counter()
        ref = [reference_recursive(mol, r["graph"], r["atom_subgraphs"], r["chem_bonds"], gens) for mol, r in sub]
        t_ref = time.perf_counter() - start
        ref_differ = sum(list(x.items()) != y for x, y in zip(ref, maps["fast"]))
        start = time.perf_counter()
        for mol, r in sub:
            _native.predict_fragments_recursive(mol, r["graph"], r["atom_subgraphs"], r["chem_bonds"], gens, 25, True)
        t_fast_sub = time.perf_counter() - start
        print(
            f"networkx/NumPy version         {t_ref:8.3f} s on {len(sub)} molecules "
            f"(fast native {t_fast_sub:.3f} s, {t_ref / t_fast_sub:.0f}x); peak maps differing: {ref_differ}"
        )
    single_molecules([int(x) for x in args.sizes.split(",") if x], gens)
    return 1 if differ or differ_vif else 0


def single_molecules(sizes, gens):
    from rdkit import Chem, RDLogger

    RDLogger.DisableLog("rdApp.*")
    wanted = dict.fromkeys(sizes)
    with open(NCI_SMILES) as f:
        for line in f:
            s = line.split()[0]
            m = Chem.MolFromSmiles(s)
            for size in sizes:  # the first molecule of this size, or up to two atoms more
                if m is not None and wanted[size] is None and size <= m.GetNumHeavyAtoms() <= size + 2:
                    wanted[size] = s
            if all(wanted.values()):
                break
    for size, s in wanted.items():
        if s is None:
            continue
        r = VIF(s, draw=False, verbose=False)
        mol = prepared(s)
        args = (mol, r["graph"], r["atom_subgraphs"], r["chem_bonds"], gens, 25, True)
        reps = 5
        start = time.perf_counter()
        for _ in range(reps):
            VIF(s, draw=False, verbose=False, recursive_ms=True, max_generations=gens)
        t_vif = (time.perf_counter() - start) / reps
        start = time.perf_counter()
        fast, stats = _native._testing.predict_fragments_recursive(*args, "fast", True)
        t_fast = time.perf_counter() - start
        start = time.perf_counter()
        plain, plain_stats = _native._testing.predict_fragments_recursive(*args, "plain", True)
        t_plain = time.perf_counter() - start
        print(
            f"{size} heavy atoms: VIF(recursive_ms) {t_vif * 1e3:7.1f} ms; fragmentation fast {t_fast * 1e3:7.1f} ms, "
            f"plain {t_plain * 1e3:8.1f} ms ({t_plain / t_fast:.0f}x); {stats['atom_sets']} atom sets, "
            f"{plain_stats['counts']} counts the plain way, {stats['counts']} taken by the fast path "
            f"({stats['dense_counts']} with a dense solve); same peaks: {list(fast.items()) == list(plain.items())}"
        )


if __name__ == "__main__":
    sys.exit(main())
