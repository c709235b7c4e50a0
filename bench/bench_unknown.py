"""The whole workflow for spectra no library holds: peaks only -> molecular-mass hypotheses -> candidates (a
predicted library) -> a ranked list, and the recall of that list against a search that is given the true mass.

usage: .venv/bin/python bench/bench_unknown.py DATA.jsonl --library LIB.msp [--jobs 2] [--plot BEST.png]

DATA.jsonl: measured spectra, one JSON object a line with "peaks" ([[m/z, intensity], ...]), "nominal_mass"
(the truth) and "canonical_smiles". Only the peaks are given to the workflow; the rest is the answer key.
LIB.msp: candidate structures' spectra predicted with the EI model, e.g.
    tessarin predict STRUCTURES.smi -o LIB.msp --model ei
from the file's SMILES plus /usr/share/RDKit/Data/NCI/first_5K.smi.

Prints the mass estimate's top-1 and top-3 (with the library's evidence), and recall@1 (the true structure
first) of search_library with mass="auto" and with the true mass (entries within 0.5 of it), both with the
cosine of square-rooted intensities, counting only the measured m/z range (the default) and counting every
library peak; with the ratio auto / true mass. --plot draws the annotated mirror plot of the first spectrum's
best answer.
"""

import argparse
import json
import time

from rdkit import Chem, RDLogger

import tessarin

RDLogger.DisableLog("rdApp.*")


def canonical(smiles):
    mol = Chem.MolFromSmiles(smiles) if smiles else None
    return Chem.MolToSmiles(mol, isomericSmiles=False) if mol else None


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("data")
    ap.add_argument("--library", required=True)
    ap.add_argument("--jobs", type=int, default=2)
    ap.add_argument("--plot")
    args = ap.parse_args()

    recs = [json.loads(line) for line in open(args.data, encoding="utf-8") if line.strip()]
    spectra = [tessarin.Spectrum([p[0] for p in r["peaks"]], [p[1] for p in r["peaks"]]) for r in recs]
    truths = [int(r["nominal_mass"]) for r in recs]
    answers = [r["canonical_smiles"] for r in recs]
    library = list(tessarin.read_spectra(args.library))
    keys = [canonical(e.metadata.get("smiles")) for e in library]
    print(f"{len(spectra)} spectra, peaks only; {len(library)} predicted candidates")

    t = time.perf_counter()
    estimates = tessarin.estimate_molecular_mass(spectra, library=library, jobs=args.jobs)
    masses = [[h.mass for h in e] for e in estimates]
    top1 = sum(m[:1] == [t] for m, t in zip(masses, truths)) / len(truths)
    top3 = sum(t in m[:3] for m, t in zip(masses, truths)) / len(truths)
    print(f"mass hypotheses: top-1 {top1:.3f}, top-3 {top3:.3f}   ({time.perf_counter() - t:.1f} s)")

    def recall(results):
        return sum(bool(r.hits) and keys[r.hits[0].index] == k for r, k in zip(results, answers)) / len(answers)

    given = [tessarin.Spectrum(s.mz, s.intensities, metadata={"mol_mass": m}) for s, m in zip(spectra, truths)]
    best = None
    for measured_range in (True, False):
        common = dict(top=1, intensity_power=0.5, jobs=args.jobs, measured_range=measured_range)
        t = time.perf_counter()
        auto = tessarin.search_library(spectra, library, mass="auto", **common)
        dt = time.perf_counter() - t
        true = tessarin.search_library(given, library, mass_tolerance=0.5, **common)
        a, b = recall(auto), recall(true)
        label = "measured m/z range" if measured_range else "every library peak"
        print(f"recall@1 ({label}): mass auto {a:.3f}, true mass {b:.3f}, ratio {a / b:.2f}   (auto: {dt:.1f} s)")
        if best is None:
            best = auto

    if args.plot and best[0].hits:
        import matplotlib

        matplotlib.use("Agg")
        import matplotlib.pyplot as plt

        # The library as read keeps the predicted ions of each peak, which label the plot.
        answer = library[best[0].hits[0].index]
        answer.metadata["name"] = answer.metadata.get("smiles", "")
        fig, ax = plt.subplots(figsize=(10, 5))
        measured = tessarin.Spectrum(spectra[0].mz, spectra[0].intensities, metadata={"name": recs[0].get("name", "")})
        tessarin.mirror_plot(measured, answer, ax=ax, annotate=True)
        fig.savefig(args.plot, dpi=110, bbox_inches="tight")
        print(f"{args.plot}: {recs[0].get('name')} against its best answer {answer.metadata['name']}")


if __name__ == "__main__":
    main()
