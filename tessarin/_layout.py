"""2D layout of atoms and of the orbital nodes around them."""

import numpy as np
from rdkit import Chem

from . import _native


def _angle_diff(a, b):
    """Smaller angle between two directions, in [0, pi]."""
    return _native.angle_diff(a, b)


def _symmetry_classes(mol):
    """Symmetry class of every atom (canonical ranks without tie-breaking)."""
    return _native.symmetry_classes(mol)


def _radial_equalize(coords, groups):
    """Give every member of a symmetry class the class's mean distance from its centroid, in place."""
    _native.radial_equalize(coords, groups)


def _pca_align(coords):
    """Centre ``coords`` in place and return them rotated onto their principal axes."""
    return _native.pca_align(coords)


def _enforce_mirror(coords, ranks, axis, eps=0.05):
    """Make same-class atoms exact mirror images across one axis, in place."""
    return _native.enforce_mirror(coords, ranks, axis, eps)


def compute_atom_layout(
    mol: Chem.Mol,
    n_iter: int = 600,
    target_bond_len: float = 1.5,
    repulsion_factor: float = 1.2,
    k_attr: float = 0.06,
    k_rep: float = 0.05,
) -> tuple[np.ndarray, list[int]]:
    """2D coordinates of every atom of ``mol`` and the atoms' symmetry classes."""
    return _native.compute_atom_layout(mol, n_iter, target_bond_len, repulsion_factor, k_attr, k_rep)


def _yerlestir_dugumler(n_nodes, target_angles):
    """Directions of an atom's orbital nodes: the bond directions, then bisectors of the widest gaps."""
    return _native.orbital_node_directions(n_nodes, target_angles)
