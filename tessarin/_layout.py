"""2D layout of atoms and of the orbital nodes around them."""

from ._pending import not_built


def _angle_diff(a, b):
    """Smaller angle between two directions, in [0, pi]."""
    not_built("_angle_diff")


def _symmetry_classes(mol):
    """Symmetry class of every atom (canonical ranks without tie-breaking)."""
    not_built("_symmetry_classes")


def _radial_equalize(coords, groups):
    """Give every member of a symmetry class the class's mean distance from its centroid, in place."""
    not_built("_radial_equalize")


def _pca_align(coords):
    """Centre ``coords`` in place and return them rotated onto their principal axes."""
    not_built("_pca_align")


def _enforce_mirror(coords, ranks, axis, eps=0.05):
    """Make same-class atoms exact mirror images across one axis, in place."""
    not_built("_enforce_mirror")


def compute_atom_layout(mol, n_iter=600, target_bond_len=1.5, repulsion_factor=1.2, k_attr=0.06, k_rep=0.05):
    """2D coordinates of every atom of ``mol`` and the atoms' symmetry classes."""
    not_built("compute_atom_layout")


def _yerlestir_dugumler(n_nodes, target_angles):
    """Directions of an atom's orbital nodes: the bond directions, then bisectors of the widest gaps."""
    not_built("_yerlestir_dugumler")
