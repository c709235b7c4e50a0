"""Timing of whole analyses: VIF(smiles, draw=False, verbose=False) over NCI molecules.

    .venv/bin/python bench/bench_vif.py [N]      (default N = 300)

Prints the total, median and worst molecule, and where the time goes: the
engine's own steps (parsing, RDKit's depiction, layout relaxation, orbital
graph, eigenvalues, soft bonds, fragments) and the conversion of the result
into Python objects (networkx graph, dicts, NumPy arrays).
"""

import os
import statistics
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "python"))

import tessarin  # noqa: E402
from support import nci_smiles  # noqa: E402
from tessarin import _native  # noqa: E402

STEPS = ["preparation", "depiction", "layout", "graph", "lpi", "soft_bonds", "fragments"]


def main():
    count = int(sys.argv[1]) if len(sys.argv) > 1 else 300
    smiles = nci_smiles(count)
    tessarin.VIF("CCO", draw=False, verbose=False)  # load RDKit's depiction templates once

    per_molecule, steps = [], {name: 0.0 for name in STEPS + ["conversion"]}
    for s in smiles:
        t0 = time.perf_counter()
        out = _native._testing.analyse_timed(s)
        wall = time.perf_counter() - t0
        timings = out[1] if isinstance(out, tuple) else {}
        per_molecule.append((wall, s))
        for name in STEPS:
            steps[name] += timings.get(name, 0.0)
        steps["conversion"] += wall - sum(timings.get(name, 0.0) for name in STEPS)

    t0 = time.perf_counter()
    for s in smiles:
        tessarin.VIF(s, draw=False, verbose=False)
    total = time.perf_counter() - t0

    walls = sorted(w for w, _ in per_molecule)
    worst = max(per_molecule)
    print(
        f"{len(smiles)} molecules: VIF total {total:.3f} s, median {statistics.median(walls) * 1e3:.2f} ms, "
        f"worst {worst[0] * 1e3:.1f} ms ({worst[1][:60]})"
    )
    accounted = sum(steps.values())
    for name, seconds in steps.items():
        print(f"  {name:<12} {seconds:7.3f} s  {100 * seconds / accounted:5.1f} %")
    print(f"  everything but the depiction: {accounted - steps['depiction']:.3f} s")


if __name__ == "__main__":
    main()
