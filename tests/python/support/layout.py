"""A plain NumPy implementation of the atom layout, the yardstick for the native one.

Every step is written the obvious NumPy way. The relaxation is vectorised, but
each atom's forces are still added up in the order of the plain double loop
(springs in bond order, then the repulsion of each partner by ascending index),
so the native layout can be held to it within 1e-9.
"""

import math

import numpy as np
from rdkit import Chem
from rdkit.Chem import rdDepictor

from support import prepared as prepare  # noqa: F401  (the analysis's own preparation)


def angle_diff(a, b):
    d = (a - b + math.pi) % (2 * math.pi) - math.pi
    return abs(d)


def symmetry_classes(mol):
    try:
        return list(Chem.CanonicalRankAtoms(mol, breakTies=False))
    except Exception:
        return list(range(mol.GetNumAtoms()))


def radial_equalize(coords, groups):
    for members in groups.values():
        if len(members) < 2:
            continue
        grp = coords[members]
        centroid = grp.mean(axis=0)
        dists = np.linalg.norm(grp - centroid, axis=1)
        if dists.mean() < 1e-9:
            continue
        avg = dists.mean()
        for m in members:
            v = coords[m] - centroid
            L = np.linalg.norm(v)
            if L > 1e-9:
                coords[m] = centroid + v * (avg / L)


def pca_align(coords):
    coords -= coords.mean(axis=0)
    if len(coords) < 2:
        return coords
    cov = np.cov(coords.T)
    eigvals, eigvecs = np.linalg.eigh(cov)
    order = np.argsort(eigvals)[::-1]
    R = eigvecs[:, order]
    if np.linalg.det(R) < 0:
        R[:, 1] = -R[:, 1]
    return coords @ R


def enforce_mirror(coords, ranks, axis, eps=0.05):
    other = 1 - axis
    n = len(coords)
    matched = [False] * n
    for i in range(n):
        if abs(coords[i, axis]) < eps:
            coords[i, axis] = 0.0
            matched[i] = True
    for i in range(n):
        if matched[i]:
            continue
        best_d, best_j = np.inf, -1
        for j in range(n):
            if j == i or matched[j] or ranks[j] != ranks[i]:
                continue
            if (coords[j, axis] >= 0) == (coords[i, axis] >= 0):
                continue
            d = abs(coords[j, axis] + coords[i, axis]) + abs(coords[j, other] - coords[i, other])
            if d < best_d:
                best_d, best_j = d, j
        if best_j < 0:
            continue
        j = best_j
        avg_other = (coords[i, other] + coords[j, other]) / 2.0
        avg_axis = (abs(coords[i, axis]) + abs(coords[j, axis])) / 2.0
        coords[i, axis] = avg_axis if coords[i, axis] >= 0 else -avg_axis
        coords[j, axis] = avg_axis if coords[j, axis] >= 0 else -avg_axis
        coords[i, other] = avg_other
        coords[j, other] = avg_other
        matched[i] = matched[j] = True
    return coords


def depiction(mol):
    """RDKit's CoordGen depiction of ``mol`` as an n x 2 array (RDKit's own depictor if CoordGen gives NaN)."""
    rdDepictor.SetPreferCoordGen(True)
    rdDepictor.Compute2DCoords(mol)
    coords = np.array(mol.GetConformer().GetPositions()[:, :2], dtype=float)
    if not np.all(np.isfinite(coords)):
        rdDepictor.Compute2DCoords(mol, forceRDKit=True)
        coords = np.array(mol.GetConformer().GetPositions()[:, :2], dtype=float)
    return coords


def groups_of(ranks):
    groups = {}
    for idx, r in enumerate(ranks):
        groups.setdefault(r, []).append(idx)
    return groups


def coincident_pairs(coords):
    n = len(coords)
    return [(i, j) for i in range(n) for j in range(i + 1, n) if np.linalg.norm(coords[i] - coords[j]) < 1e-6]


def refine(coords, bonds, ranks, n_iter=600, target_bond_len=1.5, repulsion_factor=1.2, k_attr=0.06, k_rep=0.05):
    """The layout steps that follow the depiction, from ``coords`` (not changed)."""
    coords = np.array(coords, dtype=float)
    n = len(coords)
    if n == 1:
        return coords
    groups = groups_of(ranks)
    bonds = np.array(bonds, dtype=int).reshape(-1, 2)
    bonded = np.zeros((n, n), dtype=bool)
    bonded[bonds[:, 0], bonds[:, 1]] = True
    bonded[bonds[:, 1], bonds[:, 0]] = True
    min_nb = target_bond_len * repulsion_factor
    rng = np.random.default_rng(42)

    for i in range(n):
        for j in range(i + 1, n):
            if np.linalg.norm(coords[i] - coords[j]) < 1e-6:
                coords[j] += rng.normal(0, 0.1, size=2)

    upper = np.triu(np.ones((n, n), dtype=bool), k=1) & ~bonded
    # Spring forces go to begin and end atoms alternately, in bond order.
    spring_atoms = bonds.reshape(-1)
    for it in range(n_iter):
        forces = np.zeros_like(coords)
        if len(bonds):
            d = coords[bonds[:, 1]] - coords[bonds[:, 0]]
            L = np.sqrt(d[:, 0] * d[:, 0] + d[:, 1] * d[:, 1])
            ok = L >= 1e-9
            with np.errstate(divide="ignore", invalid="ignore"):
                f = np.where(ok[:, None], (k_attr * (L - target_bond_len))[:, None] * d / L[:, None], 0.0)
            np.add.at(forces, spring_atoms, np.stack([f, -f], axis=1).reshape(-1, 2))

        # D[u, v] = coords[v] - coords[u]; F[u, v] the force of pair u < v.
        D = coords[None, :, :] - coords[:, None, :]
        L = np.sqrt(D[..., 0] * D[..., 0] + D[..., 1] * D[..., 1])
        act = upper & (L >= 1e-9) & (L < min_nb)
        with np.errstate(divide="ignore", invalid="ignore"):
            F = np.where(act[..., None], (k_rep * (min_nb - L))[..., None] * D / L[..., None], 0.0)
        # What atom x receives from partner p: +F[p, x] for p < x, -F[x, p] for p > x,
        # added after its spring forces, partners by ascending index.
        received = F.transpose(1, 0, 2) - F
        forces = np.cumsum(np.concatenate([forces[:, None, :], received], axis=1), axis=1)[:, -1, :]

        coords += forces
        if it > 50 and it % 5 == 0:
            radial_equalize(coords, groups)

    coords = pca_align(coords)
    coords = enforce_mirror(coords, ranks, axis=1)
    coords = enforce_mirror(coords, ranks, axis=0)
    return coords


def bonds_of(mol):
    return [(b.GetBeginAtomIdx(), b.GetEndAtomIdx()) for b in mol.GetBonds()]


def compute_atom_layout(mol, **params):
    coords = depiction(mol)
    ranks = symmetry_classes(mol)
    if len(coords) == 1:
        return coords, ranks
    return refine(coords, bonds_of(mol), ranks, **params), ranks
