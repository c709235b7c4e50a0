"""The atom layout written the straightforward NumPy way, as a point of comparison for the native one.

Same steps and constants as ``tessarin.compute_atom_layout``; the repulsion is
one n x n array expression per iteration and forces are summed with
``ndarray.sum``, so results agree with the native layout closely but not to
the last bit.
"""

import numpy as np

from support.layout import pca_align  # noqa: F401  (the same NumPy steps; tests/python is on the path)


def radial_equalize(coords, groups):
    for members in groups.values():
        if len(members) < 2:
            continue
        grp = coords[members]
        centroid = grp.mean(axis=0)
        dists = np.linalg.norm(grp - centroid, axis=1)
        avg = dists.mean()
        if avg < 1e-9:
            continue
        v = grp - centroid
        L = np.linalg.norm(v, axis=1)
        move = L > 1e-9
        idx = np.asarray(members)[move]
        coords[idx] = centroid + v[move] * (avg / L[move])[:, None]


def enforce_mirror(coords, ranks, axis, eps=0.05):
    other = 1 - axis
    n = len(coords)
    matched = np.abs(coords[:, axis]) < eps
    coords[matched, axis] = 0.0
    ranks = np.asarray(ranks)
    for i in range(n):
        if matched[i]:
            continue
        cand = (~matched) & (ranks == ranks[i]) & ((coords[:, axis] >= 0) != (coords[i, axis] >= 0))
        cand[i] = False
        if not cand.any():
            continue
        d = np.abs(coords[:, axis] + coords[i, axis]) + np.abs(coords[:, other] - coords[i, other])
        d[~cand] = np.inf
        j = int(np.argmin(d))
        avg_other = (coords[i, other] + coords[j, other]) / 2.0
        avg_axis = (abs(coords[i, axis]) + abs(coords[j, axis])) / 2.0
        coords[i, axis] = avg_axis if coords[i, axis] >= 0 else -avg_axis
        coords[j, axis] = avg_axis if coords[j, axis] >= 0 else -avg_axis
        coords[i, other] = coords[j, other] = avg_other
        matched[i] = matched[j] = True
    return coords


def refine(coords, bonds, ranks, n_iter=600, target_bond_len=1.5, repulsion_factor=1.2, k_attr=0.06, k_rep=0.05):
    coords = np.array(coords, dtype=float)
    n = len(coords)
    if n == 1:
        return coords
    groups = {}
    for i, r in enumerate(ranks):
        groups.setdefault(r, []).append(i)
    bonds = np.array(bonds, dtype=int).reshape(-1, 2)
    u, v = bonds[:, 0], bonds[:, 1]
    nonbonded = np.triu(np.ones((n, n), dtype=bool), k=1)
    nonbonded[u, v] = nonbonded[v, u] = False
    min_nb = target_bond_len * repulsion_factor
    rng = np.random.default_rng(42)
    for i in range(n):
        for j in range(i + 1, n):
            if np.linalg.norm(coords[i] - coords[j]) < 1e-6:
                coords[j] += rng.normal(0, 0.1, size=2)

    for it in range(n_iter):
        forces = np.zeros_like(coords)
        d = coords[v] - coords[u]
        L = np.linalg.norm(d, axis=1)
        ok = L >= 1e-9
        f = (k_attr * (L[ok] - target_bond_len) / L[ok])[:, None] * d[ok]
        np.add.at(forces, u[ok], f)
        np.add.at(forces, v[ok], -f)

        D = coords[None, :, :] - coords[:, None, :]
        L = np.linalg.norm(D, axis=2)
        act = nonbonded & (L >= 1e-9) & (L < min_nb)
        s = np.zeros_like(L)
        s[act] = k_rep * (min_nb - L[act]) / L[act]
        F = s[..., None] * D
        forces += F.sum(axis=0) - F.sum(axis=1)

        coords += forces
        if it > 50 and it % 5 == 0:
            radial_equalize(coords, groups)

    coords = pca_align(coords)
    coords = enforce_mirror(coords, ranks, axis=1)
    return enforce_mirror(coords, ranks, axis=0)
