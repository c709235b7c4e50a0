"""Throughput of `tessarin predict` (molecules per second) over the NCI set, to MSP.

Run: /usr/bin/python3 bench/bench_predict.py [--limit N] [--jobs 1,2] [--recursive] [--models schematic,ei]

--limit N takes the first N molecules only (for quick runs while developing);
the default is all 4,999. Each configuration runs once; the machine's other
load shows in the figures, so compare runs made at the same time.
"""

import argparse
import os
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
        for mode in modes:
            for jobs in args.jobs.split(","):
                out = Path(tmp) / "out.msp"
                cmd = [args.exe, "predict", str(source), "-o", str(out), "--jobs", jobs, *mode]
                start = time.perf_counter()
                result = subprocess.run(cmd, capture_output=True, text=True)
                elapsed = time.perf_counter() - start
                failed = 0
                errors = Path(str(out) + ".errors.tsv")
                if errors.exists():
                    failed = len(errors.read_text().splitlines()) - 1
                label = " ".join(["--jobs", jobs, *mode])
                print(
                    f"  {label:<24} {elapsed:7.2f} s  {count / elapsed:7.1f} mol/s  "
                    f"(exit {result.returncode}, {failed} failed)"
                )
                if result.returncode not in (0, 1):
                    print(result.stderr, file=sys.stderr)


if __name__ == "__main__":
    main()
