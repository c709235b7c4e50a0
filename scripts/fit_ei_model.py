#!/usr/bin/env python3
"""Fit the EI model's weight table on measured EI spectra, cross-validate it, and write
src/prediction/ei_weights.cpp.

usage: .venv/bin/python scripts/fit_ei_model.py DATA.jsonl [--out FILE] [--folds 5] [--seeds 0,1,2]
                                                [--min-molecules 50] [--lam 0.3] [--power 0.65] [--gamma 1]
                                                [--no-write]

DATA.jsonl: one measured spectrum per line, {"smiles", "canonical_smiles", "nominal_mass",
"peaks": [[m/z, intensity], ...]}. The data are read, never copied; the written table holds only weights.

The model (src/prediction/ei_model.h): every candidate ion i of a molecule has features x_i from the engine's
extractor (tessarin._native._testing.ei_candidate_ions) and the score s_i = w . x_i. The ion's intensity is
exp(s_i), spread linearly over its isotope cluster (the abundances A_ci, summing to 1 over the ion's m/z
values c), so the predicted intensity at m/z c is v_c = sum_i A_ci exp(s_i), and the spectrum is 999 v_c / max v
(peaks below --floor of the base peak dropped), exactly as the engine computes it. The weights minimise the
cross-entropy between the measured spectrum and the predicted one, both compressed by the power p (--power;
the identification score compares square roots, and a little less compression suits the fit best) and
normalised to sum 1 per molecule,
    L(w) = - sum_mol sum_c q_c log(v_c^p / sum_c' v_c'^p) + lam/2 |w|^2,   q_c = I_c^p / sum_c' I_c'^p,
over the m/z values the candidate ions reach. The fitted weights are then multiplied by --gamma, an exponent
on every ion's intensity (exp(s_i)^gamma) taken before its cluster is spread, so the clusters stay exact: below 1
it evens out the competing ions, which names more of the measured peaks (recall, base peak) at some cost in
precision; the measures below and the written table use the weights so multiplied. Ion-formula ("ion C7H7")
and neutral-loss ("loses H2O") features get a weight only when at least --min-molecules of the training
molecules have such an ion.

Cross-validation: molecules are shuffled (seeded) into folds; each fold's weights are fitted on the other
folds and the fold's molecules are scored against every molecule of the file of the same nominal mass (the
candidates), with the measures of `tessarin evaluate`. --half also reports fit-on-one-half / score-on-the-
other-half (candidates from the scored half only).
"""
import argparse
import json
import math
import random
import sys
import time
from collections import defaultdict

import numpy as np
from scipy import sparse
from scipy.optimize import minimize

from tessarin import _native

EXTRACTOR = _native._testing.ei_candidate_ions


# ---------------------------------------------------------------------------------------------------
# Data


class Data:
    """Ions of every molecule as one sparse design; cells (molecule, m/z) as a sparse map from ions."""

    def __init__(self, recs, power):
        self.recs = recs
        self.keys = [r["canonical_smiles"] for r in recs]
        col = {}
        rows, cols, vals = [], [], []
        owner, ion_mz = [], []
        c_rows, c_cols, c_vals = [], [], []
        cell_of = {}
        cell_mol, cell_mz = [], []
        n = 0
        for mi, r in enumerate(recs):
            for mz, formula, neutral, feats, cluster in EXTRACTOR(r["smiles"]):
                for name, v in feats:
                    j = col.setdefault(name, len(col))
                    rows.append(n)
                    cols.append(j)
                    vals.append(v)
                for cmz, a in cluster:
                    c = cell_of.get((mi, cmz))
                    if c is None:
                        c = cell_of[(mi, cmz)] = len(cell_mol)
                        cell_mol.append(mi)
                        cell_mz.append(cmz)
                    c_rows.append(c)
                    c_cols.append(n)
                    c_vals.append(a)
                owner.append(mi)
                ion_mz.append(mz)
                n += 1
        self.names = [None] * len(col)
        for name, j in col.items():
            self.names[j] = name
        # duplicate (row, column) entries add up, as repeated feature names do in the engine
        self.X = sparse.csr_matrix((vals, (rows, cols)), shape=(n, len(col)))
        self.A = sparse.csr_matrix((c_vals, (c_rows, c_cols)), shape=(len(cell_mol), n))
        self.owner = np.array(owner)
        self.ion_mz = np.array(ion_mz)
        self.cell_mol = np.array(cell_mol)
        self.cell_mz = np.array(cell_mz)
        q = np.zeros(len(cell_mol))
        for c, (mi, mz) in enumerate(zip(cell_mol, cell_mz)):
            s = recs[mi]["intensities"]
            q[c] = (s.get(int(mz), 0.0) / max(s.values())) ** power
        self.q = q
        # molecules having each feature (for the frequency rule of formula and loss features)
        Xc = self.X.tocsc()
        self.mols_of_col = [np.unique(self.owner[Xc.indices[Xc.indptr[j] : Xc.indptr[j + 1]]]) for j in range(len(col))]

    def columns(self, train, min_mols):
        """Columns fitted on `train`: every feature, except formula and loss features seen in fewer than
        min_mols training molecules."""
        tmask = np.zeros(len(self.keys), dtype=bool)
        tmask[train] = True
        keep = np.ones(len(self.names), dtype=bool)
        for j, name in enumerate(self.names):
            if name.startswith("ion ") and not name.startswith("ion RDBE") or name.startswith("loses "):
                keep[j] = tmask[self.mols_of_col[j]].sum() >= min_mols
        return keep


def load(path):
    recs = []
    with open(path) as f:
        for line in f:
            r = json.loads(line)
            r["intensities"] = {int(m): float(i) for m, i in r["peaks"]}
            if r["intensities"] and max(r["intensities"].values()) > 0:
                recs.append(r)
    return recs


# ---------------------------------------------------------------------------------------------------
# Fit


def fit(d, X, mols, lam, power):
    """Weights minimising the cross-entropy of the compressed spectra on molecules `mols` (see above)."""
    msel = np.zeros(len(d.keys), dtype=bool)
    msel[mols] = True
    rows = np.where(msel[d.owner])[0]
    cls = np.where(msel[d.cell_mol])[0]
    Xs = X[rows].tocsr()
    As = d.A[cls][:, rows].tocsr()
    rm = d.owner[rows]
    cm = d.cell_mol[cls]
    nmol = len(d.keys)
    qs = d.q[cls].copy()
    qsum = np.bincount(cm, weights=qs, minlength=nmol)
    qs = qs / np.maximum(qsum[cm], 1e-300)
    XT = Xs.T.tocsr()
    AT = As.T.tocsr()
    live = np.asarray(As.sum(axis=0)).ravel() > 0

    def f(w):
        s = Xs @ w
        mx = np.full(nmol, -np.inf)
        np.maximum.at(mx, rm, np.where(live, s, -np.inf))
        mx[~np.isfinite(mx)] = 0.0
        e = np.where(live, np.exp(np.minimum(s - mx[rm], 0.0)), 0.0)
        v = np.maximum(As @ e, 1e-300)
        t = v**power
        T = np.bincount(cm, weights=t, minlength=nmol)
        loss = -np.sum(qs * (power * np.log(v) - np.log(T[cm]))) + 0.5 * lam * w @ w
        g_s = power * e * (AT @ (t / (v * T[cm]) - qs / v))
        return loss, XT @ g_s + lam * w

    res = minimize(f, np.zeros(X.shape[1]), jac=True, method="L-BFGS-B", options=dict(maxiter=2000, gtol=1e-7))
    return res.x


def spectra(d, s, mols, floor):
    """Predicted spectra {m/z: 0..999} of molecules `mols` from ion scores s, as the engine computes them."""
    e = np.zeros_like(s)
    rows_of = defaultdict(list)
    for r, mi in enumerate(d.owner):
        rows_of[mi].append(r)
    for mi in mols:
        rows = np.array(rows_of[mi])
        e[rows] = np.exp(s[rows] - s[rows].max())
    v = d.A @ e
    out = {}
    order = np.argsort(d.cell_mol, kind="stable")
    bounds = np.searchsorted(d.cell_mol[order], np.arange(len(d.keys) + 1))
    for mi in mols:
        idx = order[bounds[mi] : bounds[mi + 1]]
        top = v[idx].max() if len(idx) else 0.0
        intensities = {}
        if top > 0:
            for c in idx:
                x = round(999 * v[c] / top)
                if x > 0 and x >= floor * 999:
                    intensities[int(d.cell_mz[c])] = float(x)
        out[d.keys[mi]] = intensities
    return out


# ---------------------------------------------------------------------------------------------------
# Measures (those of `tessarin evaluate`)


def above(intensities, share=0.05):
    if not intensities:
        return set()
    top = max(intensities.values())
    return {m for m, i in intensities.items() if i >= share * top and i > 0}


def base_mz(intensities):
    top = max(intensities.values())
    return min(m for m, i in intensities.items() if i == top)


def cosine_sqrt(a, b):
    if not a or not b:
        return 0.0
    num = sum(math.sqrt(a[m] * b[m]) for m in a.keys() & b.keys())
    na, nb = sum(a.values()), sum(b.values())
    return num / math.sqrt(na * nb) if na > 0 and nb > 0 else 0.0


def measures(recs, predicted, groups):
    """recall@5, precision, base-peak hit and identification top-1 of the records `recs`."""
    r5, pr, bn, t1 = [], [], [], []
    for r in recs:
        meas, p = r["intensities"], predicted.get(r["canonical_smiles"], {})
        top5 = [m for _, m in sorted(((i, m) for m, i in meas.items() if m >= 15), key=lambda t: (-t[0], t[1]))[:5]]
        named = above(p)
        r5.append(sum(1 for m in top5 if m in named) / len(top5) if top5 else 0.0)
        own = named - {r["nominal_mass"]}
        if own:
            seen = above(meas)
            pr.append(sum(1 for m in own if m in seen) / len(own))
        bn.append(1.0 if p and base_mz(meas) in named else 0.0)
        cands = groups[r["nominal_mass"]]
        scores = {c: cosine_sqrt(meas, predicted.get(c, {})) for c in cands}
        s = scores[r["canonical_smiles"]]
        better = sum(1 for c in cands if c != r["canonical_smiles"] and scores[c] > s + 1e-12)
        tied = sum(1 for c in cands if c != r["canonical_smiles"] and abs(scores[c] - s) <= 1e-12)
        t1.append(0.0 if better else (1.0 if tied == 0 else 0.5))
    n = len(recs)
    return dict(top1=sum(t1) / n, recall5=sum(r5) / n, precision=sum(pr) / max(1, len(pr)), base_hit=sum(bn) / n)


def candidates_by_mass(recs):
    groups = defaultdict(list)
    for r in recs:
        if r["canonical_smiles"] not in groups[r["nominal_mass"]]:
            groups[r["nominal_mass"]].append(r["canonical_smiles"])
    return groups


def fmt(o):
    return "top-1 %.3f  recall@5 %.3f  precision %.3f  base-peak hit %.3f" % (
        o["top1"],
        o["recall5"],
        o["precision"],
        o["base_hit"],
    )


def folds(n, k, seed):
    keys = list(range(n))
    random.Random(seed).shuffle(keys)
    return [sorted(keys[i::k]) for i in range(k)]


def cross_validate(d, k, seed, min_mols, lam, power, gamma, floor, half=False):
    fs = folds(len(d.keys), k, seed)
    all_groups = candidates_by_mass(d.recs)
    parts = []
    for i, test in enumerate(fs):
        train = sorted(x for j, f in enumerate(fs) if j != i for x in f)
        keep = d.columns(train, min_mols)
        X = d.X[:, keep].tocsr()
        w = gamma * fit(d, X, train, lam, power)
        scored = test if half else list(range(len(d.keys)))
        pred = spectra(d, X @ w, scored, floor)
        trecs = [d.recs[t] for t in test]
        parts.append((len(test), measures(trecs, pred, candidates_by_mass(trecs) if half else all_groups)))
    tot = sum(n for n, _ in parts)
    return {m: sum(n * o[m] for n, o in parts) / tot for m in parts[0][1]}


# ---------------------------------------------------------------------------------------------------
# The table


def group_of(name):
    if name.startswith("molecular ion: "):
        return "What kind of molecule (molecular ion only)"
    if name.startswith(("molecular ion", "one cut", "two cuts")):
        return "Ion kind and hydrogen shift"
    if name.startswith("neutral") or name == "piece larger than neutral":
        return "The neutral side (which piece keeps the charge)"
    if name.startswith("cut "):
        return "Bond cut"
    if name.startswith("McLafferty"):
        return "McLafferty rearrangement (gamma H moved, beta bond cut)"
    if name.startswith("eliminates "):
        return "Elimination of HX (the beta H leaves with X)"
    if name.startswith(("two ring cuts", "retro-Diels-Alder")):
        return "Ring opening (two ring bonds cut)"
    if name.startswith("ion RDBE"):
        return "Ion unsaturation (rings plus double bonds)"
    if name.startswith("ion "):
        return "Ion formula (m/z <= 150)"
    if name.startswith("loses "):
        return "Neutral lost"
    if name.endswith((", H kept", ", +1 H", ", +2 H", ", -1 H", ", -2 H")):
        return "Charged site and hydrogen shift"
    return "Charged site"


GROUPS = [
    "Ion kind and hydrogen shift",
    "Charged site",
    "Charged site and hydrogen shift",
    "McLafferty rearrangement (gamma H moved, beta bond cut)",
    "Elimination of HX (the beta H leaves with X)",
    "Ring opening (two ring bonds cut)",
    "The neutral side (which piece keeps the charge)",
    "Bond cut",
    "Ion unsaturation (rings plus double bonds)",
    "What kind of molecule (molecular ion only)",
    "Ion formula (m/z <= 150)",
    "Neutral lost",
]


def write_table(path, names, weights, meta):
    by_group = defaultdict(list)
    for n, w in zip(names, weights):
        by_group[group_of(n)].append((n, w))
    lines = [
        "// The EI model's weights. Written by scripts/fit_ei_model.py; do not edit by hand.",
        "//",
        "// Fitted on massbank_ei_open.jsonl (%s measured EI spectra, MassBank records under open licences)"
        % meta["n"],
        "// by minimising the cross-entropy of the spectra compressed by the power %g (see the script), lam = %g,"
        % (meta["power"], meta["lam"]),
        "// weights multiplied by gamma = %g (an exponent on each ion's intensity, before its isotope cluster is"
        % meta["gamma"],
        "// spread), formula and loss features kept when at least %d molecules have them. A weight w multiplies"
        % meta["min_mols"],
        "// an ion's intensity by exp(w) per unit of the feature's value; features not listed weigh 0.",
        "//",
    ]
    for line in meta["cv"]:
        lines.append("// " + line)
    lines += [
        '#include "prediction/ei_weights.h"',
        "",
        "namespace tessarin::prediction {",
        "",
        "const double kEiIntensityFloor = %r;" % meta["floor"],
        "",
        "namespace {",
        "",
        "constexpr EiWeight kWeights[] = {",
    ]
    for g in GROUPS:
        items = by_group.get(g, [])
        if not items:
            continue
        lines.append("    // %s (%d)" % (g, len(items)))
        for n, w in sorted(items):
            lines.append("    {%s, %.6f}," % (json.dumps(n), w))
    lines += [
        "};",
        "",
        "}  // namespace",
        "",
        "std::span<const EiWeight> ei_weights() { return kWeights; }",
        "",
        "}  // namespace tessarin::prediction",
        "",
    ]
    with open(path, "w") as f:
        f.write("\n".join(lines))


def main(argv=None):
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("data")
    ap.add_argument("--out", default="src/prediction/ei_weights.cpp")
    ap.add_argument("--folds", type=int, default=5)
    ap.add_argument("--seeds", default="0")
    ap.add_argument("--half", action="store_true", help="also fit on one half, score on the other")
    ap.add_argument("--min-molecules", type=int, default=50)
    ap.add_argument("--lam", type=float, default=0.3)
    ap.add_argument("--power", type=float, default=0.65, help="compression of the spectra the fit compares")
    ap.add_argument("--gamma", type=float, default=1.0, help="exponent on each ion's fitted intensity")
    ap.add_argument("--floor", type=float, default=0.01)
    ap.add_argument("--no-write", action="store_true")
    ap.add_argument("--no-cv", action="store_true")
    a = ap.parse_args(argv)

    t = time.time()
    recs = load(a.data)
    d = Data(recs, a.power)
    print(
        "%d molecules, %d ions, %d features (%.0f s)" % (len(recs), d.X.shape[0], d.X.shape[1], time.time() - t),
        flush=True,
    )
    cv_lines = []
    if not a.no_cv:
        for seed in [int(x) for x in a.seeds.split(",")]:
            o = cross_validate(d, a.folds, seed, a.min_molecules, a.lam, a.power, a.gamma, a.floor)
            cv_lines.append("%d-fold cross-validated (seed %d): %s" % (a.folds, seed, fmt(o)))
            print(cv_lines[-1], flush=True)
            if a.half:
                o = cross_validate(d, 2, seed, a.min_molecules, a.lam, a.power, a.gamma, a.floor, half=True)
                cv_lines.append("fit on one half, scored on the other (seed %d): %s" % (seed, fmt(o)))
                print(cv_lines[-1], flush=True)
    allm = list(range(len(recs)))
    keep = d.columns(allm, a.min_molecules)
    X = d.X[:, keep].tocsr()
    w = a.gamma * fit(d, X, allm, a.lam, a.power)
    names = [n for n, k in zip(d.names, keep) if k]
    o = measures(recs, spectra(d, X @ w, allm, a.floor), candidates_by_mass(recs))
    cv_lines.append("in-sample (whole file, for orientation): %s" % fmt(o))
    print(cv_lines[-1], flush=True)
    nz = [(n, x) for n, x in zip(names, w) if abs(x) >= 5e-7]
    print("%d weights" % len(nz), flush=True)
    if not a.no_write:
        write_table(
            a.out,
            [n for n, _ in nz],
            [x for _, x in nz],
            dict(
                n="{:,}".format(len(recs)),
                lam=a.lam,
                min_mols=a.min_molecules,
                power=a.power,
                gamma=a.gamma,
                floor=a.floor,
                cv=cv_lines,
            ),
        )
        print("wrote " + a.out)


if __name__ == "__main__":
    sys.exit(main())
