"""Schematic stick spectrum of the predicted fragments."""

from .._pending import not_built


def plot_mass_spectrum(smiles, mol_mass, fragments, ax=None):
    """Draw the molecular ion and the fragment peaks as sticks; return the axes."""
    not_built("plot_mass_spectrum")
