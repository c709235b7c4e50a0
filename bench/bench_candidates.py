"""Candidate sources: the index of a large local file, and how often the true formula of a measured
spectrum is among the formulas searched for its nominal mass.

Run: .venv/bin/python bench/bench_candidates.py [--copies 200] [--spectra PATH]

1. Index: the NCI sample (4,999 molecules) written --copies times into one SMILES file (200: about
   a million lines) and gzip-compressed, indexed once (CPU and wall time), the index saved beside
   it and read back, then one look-up per nominal mass from 50 to 499.
2. Formulas of a mass: for each spectrum of a JSON Lines file of measured spectra with "formula"
   and "nominal_mass" (default: the open EI file in shared/data), the place of its formula among
   candidate_formulas(mass) with the default elements, as the share of spectra whose formula is
   within the first 1, 5, 10, 20, 50, 100, 200, 500 and 1000.
"""

import argparse
import gzip
import json
import os
import sys
import tempfile
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent.parent))
import tessarin  # noqa: E402
from tessarin._native import formulas_of_nominal_mass  # noqa: E402

NCI = "/usr/share/RDKit/Data/NCI/first_5K.smi"
OPEN_SPECTRA = "/work/shared/data/massbank_ei_open.jsonl"


def bench_index(copies):
    lines = Path(NCI).read_text().splitlines(keepends=True)
    with tempfile.TemporaryDirectory() as tmp:
        path = os.path.join(tmp, "many.smi.gz")
        with gzip.open(path, "wt", compresslevel=1) as f:
            for _ in range(copies):
                f.writelines(lines)
        wall, cpu = time.perf_counter(), time.process_time()
        index = tessarin.CandidateIndex(path, save=True)
        wall, cpu = time.perf_counter() - wall, time.process_time() - cpu
        print(
            f"index of {len(index):,} molecules ({len(lines) * copies:,} lines, gzip): "
            f"{wall:.1f} s wall, {cpu:.1f} s CPU ({1e6 * cpu / max(len(index), 1):.0f} us a molecule); "
            f"{len(index.failed)} failed; saved: {index.saved}"
        )
        wall = time.perf_counter()
        again = tessarin.CandidateIndex(path, save=True)
        print(f"saved index read back in {time.perf_counter() - wall:.1f} s (used: {again.from_saved})")
        wall = time.perf_counter()
        found = sum(len(again.find(mass=m)) for m in range(50, 500))
        print(f"450 look-ups by mass: {found:,} candidates in {time.perf_counter() - wall:.2f} s")


def bench_formulas(path):
    ranks, cache = [], {}
    with open(path) as f:
        records = [json.loads(line) for line in f]
    for r in records:
        mass = r["nominal_mass"]
        if mass not in cache:
            formulas, _ = formulas_of_nominal_mass(mass, None, 1000)
            cache[mass] = {f: i for i, f in enumerate(formulas)}
        ranks.append(cache[mass].get(_ordered(r["formula"]), 10**9))
    print(f"true formula among the first k formulas of its nominal mass ({len(records)} spectra):")
    for k in (1, 5, 10, 20, 50, 100, 200, 500, 1000):
        print(f"  k={k:<5} {sum(x < k for x in ranks) / len(ranks):.3f}")


def _ordered(formula):
    """The formula written C, H, then the other symbols in code-point order."""
    import re

    counts = {}
    for symbol, n in re.findall(r"([A-Z][a-z]?)(\d*)", formula):
        counts[symbol] = counts.get(symbol, 0) + (int(n) if n else 1)
    order = [s for s in ("C", "H") if s in counts] + sorted(s for s in counts if s not in ("C", "H"))
    return "".join(s + (str(counts[s]) if counts[s] > 1 else "") for s in order)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--copies", type=int, default=200)
    parser.add_argument("--spectra", default=OPEN_SPECTRA)
    args = parser.parse_args()
    bench_index(args.copies)
    if os.path.exists(args.spectra):
        bench_formulas(args.spectra)


if __name__ == "__main__":
    main()
