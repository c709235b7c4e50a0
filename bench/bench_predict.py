"""Throughput of `tessarin predict` (molecules per second) over the NCI set, to MSP.

Run: /usr/bin/python3 bench/bench_predict.py [--limit N] [--jobs 1,2] [--recursive] [--models schematic,ei]
                                             [--repeat K]

--limit N takes the first N molecules only (for quick runs while developing);
the default is all 4,999. Each configuration runs once, or K times in turn with
--repeat K, which then prints each one's median and, with several models, each
model's median rate over the schematic one's. The machine's other load shows in
the figures, so compare runs made at the same time; the CPU seconds (the
processes' user and system time) vary less with it than the wall time.
"""

import argparse
import os
import resource
import statistics
import subprocess
import sys
import tempfile
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parents[1]
NCI = Path("/usr/share/RDKit/Data/NCI/first_5K.smi")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--limit", type=int, default=0)
    parser.add_argument("--jobs", default="1,2")
    parser.add_argument("--recursive", action="store_true", help="also time --recursive")
    parser.add_argument("--models", default="schematic", help="comma-separated spectrum models to time")
    parser.add_argument("--repeat", type=int, default=1, help="run every configuration this many times, in turn")
    parser.add_argument("--exe", default=str(ROOT / "build" / "tessarin"))
    args = parser.parse_args()

    with tempfile.TemporaryDirectory() as tmp:
        source = NCI
        if args.limit:
            source = Path(tmp) / "input.smi"
            source.write_text("".join(NCI.read_text().splitlines(keepends=True)[: args.limit]))
        count = sum(1 for line in source.read_text().splitlines() if line.strip())
        modes = [[]] + ([["--recursive"]] if args.recursive else [])
        modes = [["--model", m, *mode] if m != "schematic" else mode for m in args.models.split(",") for mode in modes]
        print(f"{count} molecules from {NCI.name}, {os.cpu_count()} cores")
        rates = {}
        for _ in range(max(1, args.repeat)):
            for mode in modes:
                for jobs in args.jobs.split(","):
                    label = " ".join(["--jobs", jobs, *mode])
                    rates.setdefault(label, []).append(run_once(args.exe, source, Path(tmp), jobs, mode, count, label))
        if args.repeat > 1:
            print("medians:")
            for label, values in rates.items():
                print(f"  {label:<24} {statistics.median(values):7.1f} mol/s")
            for jobs in args.jobs.split(","):
                base = rates.get(" ".join(["--jobs", jobs]))
                for label, values in rates.items():
                    if base and label.startswith(f"--jobs {jobs} --model"):
                        print(
                            f"  {label:<24} {statistics.median(values) / statistics.median(base):.2f}x the schematic rate"
                        )


def run_once(exe, source, tmp, jobs, mode, count, label):
    out = tmp / "out.msp"
    cmd = [exe, "predict", str(source), "-o", str(out), "--jobs", jobs, *mode]
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    start = time.perf_counter()
    result = subprocess.run(cmd, capture_output=True, text=True)
    elapsed = time.perf_counter() - start
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    cpu = (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)
    failed = 0
    errors = Path(str(out) + ".errors.tsv")
    if errors.exists():
        failed = len(errors.read_text().splitlines()) - 1
    print(
        f"  {label:<24} {elapsed:7.2f} s  {count / elapsed:7.1f} mol/s  {cpu:7.1f} CPU s  "
        f"(exit {result.returncode}, {failed} failed)",
        flush=True,
    )
    if result.returncode not in (0, 1):
        print(result.stderr, file=sys.stderr)
    return count / elapsed


if __name__ == "__main__":
    main()
