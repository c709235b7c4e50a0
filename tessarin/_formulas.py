"""Formulas of atom sets and labels of atom pairs."""

from . import _native


def _fragment_formula(mol, atom_indices):
    """Formula of the atoms at ``atom_indices``: C, H, then the rest alphabetically."""
    return _native.fragment_formula(mol, atom_indices)


def _pair_label(mol, i, j):
    """Label of an atom pair, e.g. ``C0-Cl4``."""
    return _native.pair_label(mol, i, j)
