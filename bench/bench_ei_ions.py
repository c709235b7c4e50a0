"""Impossible ions of the EI model: ion formulas holding more of some element (labelled atoms counted as their
own terms) than the molecule they come from. The figure should be 0.

Run: .venv/bin/python bench/bench_ei_ions.py [--limit N] [--jobs 2] [--candidates] [--exe build/tessarin]

Predicts the 4,999 NCI molecules and the molecules of the open measured file with `tessarin predict --model ei
--format jsonl` and checks every formula its peaks name. With --candidates it also checks every candidate ion
the model weighs (tessarin._native._testing.ei_candidate_ions), shown or not.
"""

import argparse
import json
import re
import subprocess
import sys
import tempfile
import time
from collections import Counter
from pathlib import Path

ROOT = Path(__file__).resolve().parents[1]
NCI = Path("/usr/share/RDKit/Data/NCI/first_5K.smi")
# the shared data sit beside the repository (../shared), or beside the folder of worktrees
OPEN = (
    next(
        (p for p in (ROOT.parent / "shared", ROOT.parent.parent / "shared") if (p / "data").is_dir()),
        ROOT.parent / "shared",
    )
    / "data"
    / "massbank_ei_open.jsonl"
)

TERM = re.compile(r"(\[\d+[A-Z][a-z]?\]|[A-Z][a-z]?)(\d*)")


def counts(formula):
    """Formula terms and their counts; D, T and [13C] are terms of their own."""
    out = Counter()
    pos = 0
    for m in TERM.finditer(formula):
        if m.start() != pos:
            raise ValueError("cannot read the formula %r" % formula)
        out[m.group(1)] += int(m.group(2) or 1)
        pos = m.end()
    if pos != len(formula):
        raise ValueError("cannot read the formula %r" % formula)
    return out


def excess(ion, molecule):
    """The terms the ion holds more of than the molecule."""
    return {t: n for t, n in ion.items() if n > molecule.get(t, 0)}


def check_library(path):
    """(molecules, ion formulas checked, impossible formulas, molecules with one, examples)."""
    molecules = checked = bad = bad_molecules = 0
    examples = []
    with open(path) as f:
        for line in f:
            r = json.loads(line)
            molecules += 1
            whole = counts(r["formula"])
            ions = {name.split(" isotope ")[0] for p in r["peaks"] for name in p["formula"]}
            wrong = sorted(f for f in ions if excess(counts(f), whole))
            checked += len(ions)
            bad += len(wrong)
            if wrong:
                bad_molecules += 1
                if len(examples) < 5:
                    examples.append("%s (%s): %s" % (r["smiles"], r["formula"], ", ".join(wrong[:4])))
    return molecules, checked, bad, bad_molecules, examples


def check_candidates(smiles_list):
    from tessarin import _native

    checked = bad = bad_molecules = 0
    for smiles in smiles_list:
        try:
            ions = _native._testing.ei_candidate_ions(smiles)
        except ValueError:
            continue
        mol = [f for _mz, f, _n, feats, _c in ions if any(name == "molecular ion, H kept" for name, _v in feats)]
        if not mol:
            continue
        whole = counts(mol[0])
        wrong = {f for _mz, f, *_ in ions if excess(counts(f), whole)}
        checked += len(ions)
        bad += len(wrong)
        bad_molecules += 1 if wrong else 0
    return checked, bad, bad_molecules


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--limit", type=int, default=0, help="first N molecules of each set")
    parser.add_argument("--jobs", default="2")
    parser.add_argument("--candidates", action="store_true", help="also check every candidate ion")
    parser.add_argument("--exe", default=str(ROOT / "build" / "tessarin"))
    args = parser.parse_args()

    nci = [line for line in NCI.read_text().splitlines() if line.strip()]
    measured = [json.loads(line)["smiles"] for line in OPEN.read_text().splitlines() if line.strip()]
    if args.limit:
        nci, measured = nci[: args.limit], measured[: args.limit]
    total = 0
    with tempfile.TemporaryDirectory() as tmp:
        for label, lines in (("NCI", nci), ("open file", measured)):
            source = Path(tmp) / "input.smi"
            source.write_text("\n".join(lines) + "\n")
            out = Path(tmp) / "out.jsonl"
            start = time.perf_counter()
            cmd = [args.exe, "predict", str(source), "-o", str(out), "--format", "jsonl", "--model", "ei"]
            result = subprocess.run(cmd + ["--jobs", args.jobs], capture_output=True, text=True)
            if result.returncode not in (0, 1):
                print(result.stderr, file=sys.stderr)
                return 2
            molecules, checked, bad, bad_molecules, examples = check_library(out)
            total += bad
            print(
                f"{label:<10} {molecules:5d} molecules, {checked:7d} peak formulas: {bad} impossible "
                f"in {bad_molecules} molecules ({time.perf_counter() - start:.0f} s)"
            )
            for e in examples:
                print("    " + e)
            if args.candidates:
                checked, bad, bad_molecules = check_candidates([line.split()[0] for line in lines])
                total += bad
                print(f"{'':<10} {checked:7d} candidate ions: {bad} impossible formulas in {bad_molecules} molecules")
    print(f"impossible ion formulas: {total}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
