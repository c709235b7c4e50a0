"""The molecular mass of measured EI spectra from their peaks alone, and what it does for a library search.

usage: .venv/bin/python bench/bench_molecular_mass.py DATA.jsonl [--library LIB.msp] [--cv] [--jobs 2]

DATA.jsonl: measured spectra, one JSON object a line with "peaks" ([[m/z, intensity], ...]), "nominal_mass"
(the truth) and "canonical_smiles". Only the peaks are given to the estimate and the search.

Prints top-1 and top-3 (the true mass first / among the first three) for:
  - the highest-m/z rule: the highest m/z of at least 0.5 % of the base peak, stepping down over isotope
    peaks (its second and third guesses: the rule again on the peaks below the guess before);
  - tessarin.estimate_molecular_mass without a library and with LIB.msp (with the weights in the engine,
    fitted on the open file: in-sample there; --cv adds the cross-validated figures of
    scripts/fit_molecular_mass.py, which refit the weights fold by fold);
and the recall@1 of a search of the spectra against LIB.msp (cosine of square-rooted intensities): the true
structure first among the entries of the true mass, and among the entries of the estimate's plausible
masses (with the library's evidence; the best hit across them by similarity, or by similarity plus 0.1 ln of
the hypothesis's score) and of the best hypothesis alone, with their ratio to the first.

LIB.msp: a predicted library holding the spectra's structures and others, e.g. made with
    tessarin predict STRUCTURES.smi -o LIB.msp --model ei
from the file's SMILES plus /usr/share/RDKit/Data/NCI/first_5K.smi. Without --library only the first two
rows are printed.
"""

import argparse
import json
import math
import os
import sys
import time

from rdkit import Chem, RDLogger

import tessarin

RDLogger.DisableLog("rdApp.*")
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "scripts"))
import fit_molecular_mass as fit  # noqa: E402


def rule_guesses(spectrum, k=3):
    guesses = []
    s = spectrum
    while len(guesses) < k and len(s):
        m = fit.highest_mz_rule(s)
        guesses.append(m)
        keep = s.mz < m - 0.5
        if not keep.any():
            break
        s = tessarin.Spectrum(s.mz[keep], s.intensities[keep])
    return guesses


def tops(guesses, truths):
    t1 = sum(g[:1] == [t] for g, t in zip(guesses, truths)) / len(truths)
    t3 = sum(t in g[:3] for g, t in zip(guesses, truths)) / len(truths)
    return t1, t3


def canonical(smiles):
    mol = Chem.MolFromSmiles(smiles) if smiles else None
    return Chem.MolToSmiles(mol, isomericSmiles=False) if mol else None


def with_mass(spectrum, mass):
    return tessarin.Spectrum(spectrum.mz, spectrum.intensities, metadata={"mol_mass": mass})


def first_hits(spectra, masses, library, jobs):
    """The best library hit of each spectrum among the entries of the given mass (None: no hit)."""
    results = tessarin.search_library(
        [with_mass(s, m) for s, m in zip(spectra, masses)],
        library,
        top=1,
        intensity_power=0.5,
        mass_tolerance=0.5,
        jobs=jobs,
    )
    return [r.hits[0] if r.hits else None for r in results]


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("data")
    ap.add_argument("--library")
    ap.add_argument("--cv", action="store_true")
    ap.add_argument("--jobs", type=int, default=2)
    args = ap.parse_args()

    recs = [json.loads(line) for line in open(args.data, encoding="utf-8") if line.strip()]
    spectra = [tessarin.Spectrum([p[0] for p in r["peaks"]], [p[1] for p in r["peaks"]]) for r in recs]
    truths = [int(r["nominal_mass"]) for r in recs]
    print(f"{len(spectra)} spectra, peaks only")
    print(f"{'':40s} {'top-1':>6s} {'top-3':>6s}")
    print("{:40s} {:6.3f} {:6.3f}".format("highest-m/z rule", *tops([rule_guesses(s) for s in spectra], truths)))

    t = time.perf_counter()
    alone = tessarin.estimate_molecular_mass(spectra, jobs=args.jobs)
    dt = time.perf_counter() - t
    print(
        "{:40s} {:6.3f} {:6.3f}   ({:.1f} ms a spectrum)".format(
            "estimate, peaks alone", *tops([[h.mass for h in e] for e in alone], truths), 1000 * dt / len(spectra)
        )
    )
    if args.cv:
        names, features = fit.EXTRACTOR(spectra, None, args.jobs)
        print("{:40s} {:6.3f} {:6.3f}".format("  5-fold CV", *fit.cross_validate(features, truths, 5, 0, 1.0)))
    if not args.library:
        return

    t = time.perf_counter()
    guided = tessarin.estimate_molecular_mass(spectra, library=args.library, jobs=args.jobs)
    dt = time.perf_counter() - t
    print(
        "{:40s} {:6.3f} {:6.3f}   ({:.1f} ms a spectrum)".format(
            "estimate with the library", *tops([[h.mass for h in e] for e in guided], truths), 1000 * dt / len(spectra)
        )
    )
    if args.cv:
        names, features = fit.EXTRACTOR(spectra, args.library, args.jobs)
        print("{:40s} {:6.3f} {:6.3f}".format("  5-fold CV", *fit.cross_validate(features, truths, 5, 0, 1.0)))
    plausible = [e.plausible for e in guided]
    print(
        "plausible masses: {:.2f} a spectrum on average, the true one among them for {:.3f}".format(
            sum(map(len, plausible)) / len(plausible), sum(t in p for p, t in zip(plausible, truths)) / len(truths)
        )
    )

    # Search: is the first hit the spectrum's own structure?
    library = list(tessarin.read_spectra(args.library))
    keys = [canonical(e.metadata.get("smiles")) for e in library]
    truth_keys = [r["canonical_smiles"] for r in recs]

    def recall(hits):
        return sum(h is not None and keys[h.index] == k for h, k in zip(hits, truth_keys)) / len(recs)

    true_mass = recall(first_hits(spectra, truths, library, args.jobs))
    print(f"search recall@1, {'true mass':48s} {true_mass:6.3f}")
    # Each plausible mass's first hit; across them the best by similarity alone, or by similarity plus
    # 0.1 ln(the hypothesis's score).
    found = [[] for _ in spectra]
    for rank in range(max(map(len, plausible))):
        idx = [i for i, p in enumerate(plausible) if len(p) > rank]
        hits = first_hits([spectra[i] for i in idx], [plausible[i][rank] for i in idx], library, args.jobs)
        for i, h in zip(idx, hits):
            if h is not None:
                found[i].append((h, guided[i][rank].score))
    for label, key in (
        ("best hypothesis only", None),
        ("plausible masses, by similarity", lambda x: x[0].score),
        ("plausible masses, by similarity + 0.1 ln(score)", lambda x: x[0].score + 0.1 * math.log(x[1])),
    ):
        if key is None:
            chosen = [f[0][0] if f and f[0][1] == g[0].score else None for f, g in zip(found, guided)]
        else:
            chosen = [max(f, key=key)[0] if f else None for f in found]
        auto = recall(chosen)
        print(f"search recall@1, {label:48s} {auto:6.3f}   ({auto / true_mass:.2f} of the true mass's)")


if __name__ == "__main__":
    main()
