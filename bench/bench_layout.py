"""Timing of the atom layout: native against a straightforward NumPy version, in one run.

    PYTHONPATH=. /usr/bin/python3 bench/bench_layout.py [--quick]

For prepared molecules (explicit hydrogens) of about 10, 50, 100 and 200 atoms,
taken from RDKit's NCI sample and completed with straight-chain alkanes, it
prints milliseconds per call, with the default parameters, of

  depiction  RDKit's CoordGen 2D depiction alone (part of every layout call),
  layout     the native steps after the depiction (coincident-atom separation,
             600 relaxation iterations, alignment, mirror passes),
  total      tessarin.compute_atom_layout (depiction + layout),
  numpy      bench/layout_numpy.py on the same starting coordinates,

and the largest coordinate difference between the native and NumPy results.
"""

import argparse
import os
import sys
import time

import numpy as np
from rdkit import Chem, RDLogger
from rdkit.Chem import rdDepictor

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
sys.path.insert(0, os.path.dirname(HERE))
sys.path.insert(0, os.path.join(os.path.dirname(HERE), "tests", "python"))

import layout_numpy  # noqa: E402
from support import prepared as prepare  # noqa: E402
import tessarin  # noqa: E402
from tessarin import _native  # noqa: E402

from support import NCI_SMILES as NCI  # noqa: E402

TARGET_SIZES = (10, 50, 100, 200)


def pick_molecules(per_size):
    """Per target size: the NCI molecules nearest in atom count (within 10 %), then an alkane of that size."""
    RDLogger.DisableLog("rdApp.*")
    pool = []
    if os.path.exists(NCI):
        with open(NCI) as handle:
            for line in handle:
                mol = prepare(line.split()[0])
                if mol is not None:
                    pool.append((line.split()[0], mol))
    chosen = {}
    for size in TARGET_SIZES:
        near = sorted(
            (abs(m.GetNumAtoms() - size), k)
            for k, (_, m) in enumerate(pool)
            if abs(m.GetNumAtoms() - size) <= 0.1 * size
        )
        picks = [(pool[k][0], pool[k][1]) for _, k in near[:per_size]]
        carbons = max(1, round((size - 2) / 3))  # CnH2n+2 has 3n + 2 atoms
        picks.append(("C" * carbons, prepare("C" * carbons)))
        chosen[size] = picks
    return chosen


def per_call_ms(func, min_time, min_reps=3):
    func()  # warm-up
    reps, start = 0, time.perf_counter()
    while True:
        func()
        reps += 1
        elapsed = time.perf_counter() - start
        if reps >= min_reps and elapsed >= min_time:
            return elapsed / reps * 1e3


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--quick", action="store_true", help="one molecule per size, shorter timing")
    parser.add_argument("--per-size", type=int, default=3, help="NCI molecules per size (default 3)")
    args = parser.parse_args()
    min_time = 0.2 if args.quick else 0.5
    chosen = pick_molecules(1 if args.quick else args.per_size)

    header = f"{'atoms':>5} {'molecule':<34} {'depiction':>9} {'layout':>8} {'total':>8} {'numpy':>9} {'speed-up':>8} {'max diff':>9}"
    print("milliseconds per call, default parameters (n_iter=600)")
    print(header)
    print("-" * len(header))
    summary = []
    for size in TARGET_SIZES:
        rows = []
        for smiles, mol in chosen[size]:
            n = mol.GetNumAtoms()
            tessarin.compute_atom_layout(mol)
            start = np.array(mol.GetConformer().GetPositions()[:, :2])
            bonds = [(b.GetBeginAtomIdx(), b.GetEndAtomIdx()) for b in mol.GetBonds()]
            ranks = tessarin._symmetry_classes(mol)

            copy = Chem.Mol(mol)
            rdDepictor.SetPreferCoordGen(True)
            t_depict = per_call_ms(lambda: rdDepictor.Compute2DCoords(copy), min_time)
            t_layout = per_call_ms(lambda: _native._testing.refine_layout(start, bonds, ranks), min_time)
            t_total = per_call_ms(lambda: tessarin.compute_atom_layout(mol), min_time)
            t_numpy = per_call_ms(lambda: layout_numpy.refine(start, bonds, ranks), 0.0, min_reps=1)

            native = _native._testing.refine_layout(start, bonds, ranks)
            diff = float(np.abs(native - layout_numpy.refine(start, bonds, ranks)).max())
            label = smiles if len(smiles) <= 34 else smiles[:31] + "..."
            print(
                f"{n:>5} {label:<34} {t_depict:>9.3f} {t_layout:>8.3f} {t_total:>8.3f} {t_numpy:>9.1f}"
                f" {t_numpy / t_layout:>7.0f}x {diff:>9.1e}"
            )
            rows.append((n, t_depict, t_layout, t_total, t_numpy))
        summary.append((size, np.mean(np.array(rows), axis=0)))

    print()
    print("means per size class")
    print(f"{'size':>5} {'atoms':>6} {'depiction':>9} {'layout':>8} {'total':>8} {'numpy':>9}")
    for size, (n, t_depict, t_layout, t_total, t_numpy) in summary:
        print(f"{size:>5} {n:>6.0f} {t_depict:>9.3f} {t_layout:>8.3f} {t_total:>8.3f} {t_numpy:>9.1f}")


if __name__ == "__main__":
    main()
