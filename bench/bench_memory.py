"""Resident memory over many analyses in one process: VIF(smiles, draw=False, verbose=False).

    .venv/bin/python bench/bench_memory.py [CALLS] [EVERY]     (defaults 10000 and 1000)

Cycles through the NCI molecules, one VIF call each, and prints the resident
set size (VmRSS of /proc/self/status) after some warm-up calls and then every
EVERY calls. Every 50th call analyses one of a few inputs that VIF refuses
(unreadable SMILES, an atom without element, an out-of-range option), so the
error paths are measured too. The first pass over the file still grows a
little (memo tables, RDKit's caches and workspaces sized for the largest
molecule so far); the last line gives the growth over that pass and the
growth after it, which is what a leak would show in.
"""

import gc
import os
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "python"))

import tessarin  # noqa: E402
from support import nci_smiles  # noqa: E402

WARM_UP = 200
REFUSED = [("C1CC", {}), ("C*", {}), ("CCO", {"radius_ratio": float("nan")}), ("CC\x00O", {})]


def resident_kib():
    with open("/proc/self/status") as status:
        for line in status:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    raise RuntimeError("no VmRSS line in /proc/self/status")


def analyse(smiles, **options):
    try:
        result = tessarin.VIF(smiles, draw=False, verbose=False, **options)
    except (ValueError, KeyError, TypeError, IndexError):
        return "error"
    return "unreadable" if isinstance(result, str) else "ok"


def main():
    calls = int(sys.argv[1]) if len(sys.argv) > 1 else 10000
    every = int(sys.argv[2]) if len(sys.argv) > 2 else 1000
    molecules = nci_smiles()

    for i in range(WARM_UP):  # RDKit's templates, the element memo, NumPy and networkx caches
        analyse(molecules[i % len(molecules)])
    gc.collect()
    baseline = resident_kib()
    print(f"after {WARM_UP} warm-up calls: VmRSS {baseline / 1024:.1f} MiB", flush=True)

    outcomes = {"ok": 0, "unreadable": 0, "error": 0}
    first_pass_end = len(molecules) - WARM_UP  # calls until the file starts over
    after_first_pass = None
    start = time.perf_counter()
    for i in range(1, calls + 1):
        if i % 50 == 0:
            smiles, options = REFUSED[(i // 50) % len(REFUSED)]
            outcomes[analyse(smiles, **options)] += 1
        else:
            outcomes[analyse(molecules[(WARM_UP + i) % len(molecules)])] += 1
        if i == first_pass_end:
            gc.collect()
            after_first_pass = resident_kib()
        if i % every == 0 or i == calls:
            gc.collect()
            rss = resident_kib()
            print(
                f"{i:>7} calls  {time.perf_counter() - start:7.1f} s  VmRSS {rss / 1024:7.1f} MiB  "
                f"({(rss - baseline) / 1024:+.1f} MiB)",
                flush=True,
            )

    gc.collect()
    final = resident_kib()
    summary = (
        f"{calls} calls ({outcomes['ok']} analysed, {outcomes['error']} refused with an error, "
        f"{outcomes['unreadable']} unreadable): growth {(final - baseline) / 1024:+.1f} MiB"
    )
    if after_first_pass is not None:
        summary += (
            f", of which {(after_first_pass - baseline) / 1024:+.1f} MiB in the first pass over the file "
            f"and {(final - after_first_pass) / 1024:+.1f} MiB in the {calls - first_pass_end} calls after it"
        )
    print(summary)


if __name__ == "__main__":
    main()
