#!/usr/bin/env python3
"""Fit the weights of the molecular-mass estimate on measured EI spectra, cross-validate them, and write
src/spectra/molecular_mass_weights.cpp.

usage: .venv/bin/python scripts/fit_molecular_mass.py DATA.jsonl [--library LIB.msp] [--out FILE]
                                                      [--folds 5] [--seed 0] [--lam 1.0] [--no-write]
                                                      [--ranking HELD_OUT.msp] [--ranking-out FILE]

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

The ranking across hypotheses (src/identify/mass_prior.h, --ranking): every library entry of each spectrum's
first five mass hypotheses has named evidence from the engine (tessarin._native._testing.mass_ranking_evidence:
ln of its mass's score, whether the mass is the first, the similarity, and how it fits the spectrum's upper
end) and the rank score w . x; the weights maximise the log-probability (softmax over the spectrum's entries)
of the entries of the spectrum's own structure (its canonical SMILES, no stereo) minus lam/2 |w|^2. One table
for hypotheses weighed with the library's evidence (a search), one for the peaks alone (candidate structures),
written to src/identify/mass_ranking_weights.cpp. The library must hold the spectra's structures as a model
that was not fitted on them predicts them (scripts/fit_fingerprint_model.py --held-out-library, with the
other structures predicted by `tessarin predict --model ei`): fitted on the shipped model's own predictions of
these structures, the similarity would weigh far more than it does for an unknown's structure.

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

from tessarin import Spectrum, _native, read_spectra

EXTRACTOR = _native._testing.molecular_mass_features
HERE = os.path.dirname(os.path.abspath(__file__))
DEFAULT_OUT = os.path.join(HERE, "..", "src", "spectra", "molecular_mass_weights.cpp")
DEFAULT_RANKING_OUT = os.path.join(HERE, "..", "src", "identify", "mass_ranking_weights.cpp")


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


RANKING_MASSES = 5  # the hypotheses whose entries the ranking is fitted on


def ranking_groups(spectra, answers, library, library_evidence, jobs):
    """Per spectrum: the evidence rows of its hypotheses' entries and which of them are its structure."""
    from rdkit import Chem, RDLogger

    RDLogger.DisableLog("rdApp.*")
    keys = []
    for entry in read_spectra(library):
        mol = Chem.MolFromSmiles(entry.metadata.get("smiles", "") or "")
        keys.append(Chem.MolToSmiles(mol, isomericSmiles=False) if mol else None)
    names, found = _native._testing.mass_ranking_evidence(spectra, library, library_evidence, RANKING_MASSES, jobs)
    groups = []
    for hits, answer in zip(found, answers):
        X = np.array([x for _, _, x in hits], dtype=float).reshape(len(hits), len(names))
        y = np.array([keys[index] == answer for index, _, _ in hits], dtype=bool)
        groups.append((X, y))
    return names, groups


def fit_ranking(groups, lam):
    """Weights of the rank score: the softmax log-likelihood of the true entries, over the spectra that have one."""
    used = [(X, y) for X, y in groups if y.any()]
    X = np.vstack([g[0] for g in used])
    y = np.concatenate([g[1] for g in used]).astype(float)
    sizes = [len(g[1]) for g in used]
    start = np.cumsum([0] + sizes[:-1])
    group = np.repeat(np.arange(len(used)), sizes)

    def loss(w):
        s = X @ w
        s = s - np.maximum.reduceat(s, start)[group]
        e = np.exp(s)
        z = np.add.reduceat(e, start)
        zy = np.add.reduceat(e * y, start)
        p = e / z[group]
        py = e * y / zy[group]
        value = -(np.log(zy) - np.log(z)).sum() + lam / 2 * w @ w
        grad = -((py - p)[:, None] * X).sum(axis=0) + lam * w
        return value, grad

    return minimize(loss, np.zeros(X.shape[1]), jac=True, method="L-BFGS-B", options={"maxiter": 2000}).x


def first_right(groups, w):
    """The share of spectra whose first entry by w . x is their own structure."""
    return np.mean([bool(len(y)) and bool(y[np.argmax(X @ w)]) for X, y in groups])


def cross_validate_ranking(groups, names, folds, seed, lam):
    idx = list(range(len(groups)))
    random.Random(seed).shuffle(idx)
    parts = [idx[k::folds] for k in range(folds)]
    right = 0
    for k in range(folds):
        test = set(parts[k])
        w = fit_ranking([groups[i] for i in idx if i not in test], lam)
        right += sum(first_right([groups[i]], w) for i in parts[k])
    before = np.zeros(len(names))
    before[names.index("similarity")], before[names.index("log hypothesis score")] = 1.0, 0.1
    return right / len(groups), first_right(groups, before)


def write_ranking(path, tables):
    text = """// Written by scripts/fit_molecular_mass.py --ranking; do not edit by hand. Weights of the evidence that ranks
// structures across molecular-mass hypotheses (mass_prior.h), fitted on measured EI spectra against a library of
// their structures predicted by models not fitted on them: kLibrary for hypotheses weighed with the library's
// evidence, kPeaks for the peaks alone.
#include "identify/mass_ranking_weights.h"

#include <array>

namespace tessarin::identify {{
namespace {{

// clang-format off
{library}

{peaks}
// clang-format on

}}  // namespace

std::span<const spectra::NamedWeight> mass_ranking_weights(bool with_library) {{
  if (with_library) return kLibrary;
  return kPeaks;
}}

}}  // namespace tessarin::identify
"""
    body = {}
    for key, (names, w) in tables.items():
        lines = [f"constexpr std::array<spectra::NamedWeight, {len(names)}> {key}{{{{"]
        lines += [f'    {{"{n}", {v:.6g}}},' for n, v in zip(names, w)]
        body["library" if key == "kLibrary" else "peaks"] = "\n".join(lines + ["}};"])
    with open(path, "w", encoding="utf-8") as f:
        f.write(text.format(**body))


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
    ap.add_argument("--ranking", help="a held-out predicted library: fit the ranking across hypotheses on it")
    ap.add_argument("--ranking-out", default=DEFAULT_RANKING_OUT)
    args = ap.parse_args()
    if args.ranking:
        return main_ranking(args)

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


def main_ranking(args):
    spectra, _ = read(args.data)
    answers = [json.loads(line)["canonical_smiles"] for line in open(args.data, encoding="utf-8") if line.strip()]
    tables = {}
    for key, library_evidence in (("kLibrary", True), ("kPeaks", False)):
        names, groups = ranking_groups(spectra, answers, args.ranking, library_evidence, args.jobs)
        cv, before = cross_validate_ranking(groups, names, args.folds, args.seed, args.lam)
        reach = np.mean([g[1].any() for g in groups])
        label = "with the library's evidence" if library_evidence else "peaks alone"
        print(
            f"ranking, {label}: the structure first {cv:.3f} ({args.folds}-fold CV; similarity + 0.1 ln(score) "
            f"{before:.3f}; among the first {RANKING_MASSES} masses' entries {reach:.3f})"
        )
        w = fit_ranking(groups, args.lam)
        print("  " + ", ".join(f"{n} {v:+.3g}" for n, v in zip(names, w)))
        tables[key] = (names, w)
    if not args.no_write:
        write_ranking(args.ranking_out, tables)
        print(f"wrote {args.ranking_out}")
    return 0


if __name__ == "__main__":
    main()
