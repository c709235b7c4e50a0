"""Formulas of atom sets and labels of atom pairs."""

from . import _native


def _fragment_formula(mol, atom_indices):
    """Formula of the atoms at ``atom_indices``: C, H, then the rest alphabetically.

    Labelled atoms are written after the ordinary atoms of their element,
    lighter labels first: D and T for ``[2H]`` and ``[3H]``, otherwise the
    mass number and symbol in brackets. ``[2H]C([2H])([2H])O`` gives CHD3O,
    benzene with one ``[13C]`` C5[13C]H6, ``C[37Cl]`` CH3[37Cl]; ``[1H]`` is
    ordinary H. The nominal masses count the same labels.
    """
    return _native.fragment_formula(mol, atom_indices)


def _pair_label(mol, i, j):
    """Label of an atom pair, e.g. ``C0-Cl4``."""
    return _native.pair_label(mol, i, j)
