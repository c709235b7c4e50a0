#!/usr/bin/env python3
"""Fit the weights of the molecular-mass estimate on measured EI spectra, cross-validate them, and write
src/spectra/molecular_mass_weights.cpp.

usage: .venv/bin/python scripts/fit_molecular_mass.py DATA.jsonl [--library LIB.msp] [--out FILE]
                                                      [--folds 5] [--seed 0] [--lam 1.0] [--no-write]

DATA.jsonl: one measured spectrum per line, {"nominal_mass", "peaks": [[m/z, intensity], ...]}; only the peaks
are given to the estimate, the nominal mass is the truth. The data are read, never copied; the written table
holds only weights.

The model (src/spectra/molecular_mass.h): every candidate mass m of a spectrum has named evidence x_m from the
engine's extractor (tessarin._native._testing.molecular_mass_features) and the score s_m = w . x_m; the
probability of m is the softmax of the scores over the spectrum's candidates. The weights maximise the
log-probability of the true masses minus lam/2 |w|^2 (spectra whose true mass is not among the candidates
take no part). One table is fitted on the peaks' evidence alone; with --library (a predicted spectral library,
e.g. `tessarin predict --model ei` of the spectra's structures and others) a second one on the peaks' and the
library's evidence together. Without --library the library table already in the file is kept.

Cross-validation: spectra are shuffled (seeded) into folds; each fold's masses are ranked with the weights
fitted on the other folds; top-1 and top-3 are the shares of spectra whose true mass is first / among the
first three. The highest-m/z rule (highest m/z of at least 0.5 % of the base peak, stepping down over isotope
peaks) is printed beside them.
"""
import argparse
import json
import os
import random
import re
import sys

import numpy as np
from scipy.optimize import minimize

from tessarin import Spectrum, _native

EXTRACTOR = _native._testing.molecular_mass_features
HERE = os.path.dirname(os.path.abspath(__file__))
DEFAULT_OUT = os.path.join(HERE, "..", "src", "spectra", "molecular_mass_weights.cpp")


def read(path):
    recs = [json.loads(line) for line in open(path, encoding="utf-8") if line.strip()]
    spectra = [Spectrum([p[0] for p in r["peaks"]], [p[1] for p in r["peaks"]]) for r in recs]
    return spectra, [int(r["nominal_mass"]) for r in recs]


def highest_mz_rule(spectrum):
    """The highest m/z of at least 0.5 % of the base peak, stepping down over its isotope peaks."""
    share = {}
    for mz, i in zip(spectrum.mz, spectrum.intensities):
        share[int(round(mz))] = share.get(int(round(mz)), 0.0) + float(i)
    base = max(share.values())
    sig = {m for m, i in share.items() if i >= 0.005 * base}
    m = max(sig)
    while True:
        if m - 1 in sig and share[m - 1] > share[m]:
            m -= 1
        elif m - 2 in sig and share[m] <= 1.1 * share[m - 2] and share.get(m - 1, 0) <= share[m]:
            m -= 2
        else:
            return m


class Design:
    """All candidates of all spectra as one matrix; `start` is each spectrum's first row."""

    def __init__(self, features, truths, keep):
        self.X = np.vstack([np.asarray(features[i][1], dtype=float) for i in keep])
        sizes = [len(features[i][0]) for i in keep]
        self.start = np.cumsum([0] + sizes[:-1])
        self.group = np.repeat(np.arange(len(keep)), sizes)
        self.truth_row = np.full(len(keep), -1)
        for k, i in enumerate(keep):
            where = np.flatnonzero(np.asarray(features[i][0]) == truths[i])
            if len(where):
                self.truth_row[k] = self.start[k] + where[0]


def fit(design, lam):
    X, start, group = design.X, design.start, design.group
    ok = design.truth_row >= 0
    rows = design.truth_row[ok]

    def loss(w):
        s = X @ w
        s = s - np.maximum.reduceat(s, start)[group]
        e = np.exp(s)
        z = np.add.reduceat(e, start)
        p = e / z[group]
        value = -(s[rows] - np.log(z[ok])).sum() + lam / 2 * w @ w
        expected = np.add.reduceat(p[:, None] * X, start)
        grad = -(X[rows] - expected[ok]).sum(axis=0) + lam * w
        return value, grad

    res = minimize(loss, np.zeros(X.shape[1]), jac=True, method="L-BFGS-B", options={"maxiter": 2000})
    return res.x


def ranked(features, i, w):
    masses, rows = features[i]
    s = np.asarray(rows, dtype=float) @ w
    order = sorted(range(len(masses)), key=lambda k: (-s[k], k))
    return [masses[k] for k in order]


def cross_validate(features, truths, folds, seed, lam):
    idx = list(range(len(truths)))
    random.Random(seed).shuffle(idx)
    parts = [idx[k::folds] for k in range(folds)]
    top1 = top3 = 0
    for k in range(folds):
        test = set(parts[k])
        w = fit(Design(features, truths, [i for i in idx if i not in test]), lam)
        for i in parts[k]:
            r = ranked(features, i, w)
            top1 += r[0] == truths[i]
            top3 += truths[i] in r[:3]
    return top1 / len(truths), top3 / len(truths)


def table(name, names, w):
    lines = [f"constexpr std::array<NamedWeight, {len(names)}> {name}{{{{"]
    for n, v in zip(names, w):
        lines.append(f'    {{"{n}", {v:.6g}}},')
    lines.append("}};")
    return "\n".join(lines)


def existing_table(path, name):
    text = open(path, encoding="utf-8").read()
    m = re.search(r"constexpr std::array<NamedWeight, \d+> " + name + r"\{\{.*?\n\}\};", text, re.S)
    return m.group(0) if m else None


def write(path, peaks, library):
    text = f"""// Written by scripts/fit_molecular_mass.py; do not edit by hand. Weights of the molecular-mass
// estimate's named evidence (molecular_mass.h), fitted on measured EI spectra: kPeaks on the peaks
// alone, kLibrary on the peaks and a predicted library's best score per mass.
#include "spectra/molecular_mass_weights.h"

#include <array>

namespace tessarin::spectra {{
namespace {{

// clang-format off
{peaks}

{library}
// clang-format on

}}  // namespace

std::span<const NamedWeight> molecular_mass_weights(bool with_library) {{
  if (with_library) return kLibrary;
  return kPeaks;
}}

}}  // namespace tessarin::spectra
"""
    with open(path, "w", encoding="utf-8") as f:
        f.write(text)


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("data")
    ap.add_argument("--library")
    ap.add_argument("--out", default=DEFAULT_OUT)
    ap.add_argument("--folds", type=int, default=5)
    ap.add_argument("--seed", type=int, default=0)
    ap.add_argument("--lam", type=float, default=1.0)
    ap.add_argument("--jobs", type=int, default=2)
    ap.add_argument("--no-write", action="store_true")
    args = ap.parse_args()

    spectra, truths = read(args.data)
    rule = np.mean([highest_mz_rule(s) == t for s, t in zip(spectra, truths)])
    print(f"{len(spectra)} spectra; highest-m/z rule top-1 {rule:.3f}")

    names, features = EXTRACTOR(spectra, None, args.jobs)
    t1, t3 = cross_validate(features, truths, args.folds, args.seed, args.lam)
    print(f"peaks alone, {args.folds}-fold CV: top-1 {t1:.3f} top-3 {t3:.3f}")
    w = fit(Design(features, truths, range(len(truths))), args.lam)
    peaks = table("kPeaks", names, w)

    library = existing_table(args.out, "kLibrary") if os.path.exists(args.out) else None
    if args.library:
        lnames, lfeatures = EXTRACTOR(spectra, args.library, args.jobs)
        t1, t3 = cross_validate(lfeatures, truths, args.folds, args.seed, args.lam)
        print(f"with the library, {args.folds}-fold CV: top-1 {t1:.3f} top-3 {t3:.3f}")
        library = table("kLibrary", lnames, fit(Design(lfeatures, truths, range(len(truths))), args.lam))
    if library is None:
        sys.exit("no library table to keep: give --library")
    if not args.no_write:
        write(args.out, peaks, library)
        print(f"wrote {args.out}")


if __name__ == "__main__":
    main()
