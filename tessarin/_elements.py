"""Element periods and nominal (integer) masses."""

from functools import lru_cache

from . import _native

# atomic number -> mass number of the most common isotope; filled on demand.
_NOMINAL_ISOTOPE = {}


def element(symbol: str | int) -> _native.Element:
    """Element record by symbol ("Cl") or atomic number (17).

    The record has the attributes ``symbol``, ``atomic_number`` and ``period``.
    An unknown symbol raises ValueError naming it.
    """
    return _native.element(symbol)


@lru_cache(maxsize=None)
def _get_period(symbol):
    """Period of the element with this RDKit symbol (1 for H, 2 for C, 3 for Cl)."""
    return element(symbol).period


def _nominal_atom_mass(atomic_num):
    """Nominal mass of one atom: the mass number of the most common isotope."""
    mass = _NOMINAL_ISOTOPE.get(atomic_num)
    if mass is None:
        mass = _native.most_common_isotope(atomic_num)
        _NOMINAL_ISOTOPE[atomic_num] = mass
    return mass


def _nominal_mass(mol, indices):
    """Sum of the nominal masses of the atoms of ``mol`` at ``indices``.

    An ordinary atom weighs its element's entry of ``_NOMINAL_ISOTOPE``; an
    atom labelled with a mass number (``[2H]``, ``[13C]``, ``[37Cl]``) weighs
    that number, as in every mass the engine computes. ``[1H]`` and the
    hydrogens a labelled atom carries implicitly are ordinary hydrogen.
    """
    return _native.nominal_mass(mol, indices, _nominal_atom_mass)
