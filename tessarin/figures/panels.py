"""Grids of several molecules: VIF graphs and spectra."""

from .._pending import not_built


def VIF_panel(molecules=None, by="name", cols=5, save=None, node_size=60, bond_kappa=0.9):
    """VIF graphs of several molecules in one figure."""
    not_built("VIF_panel")


def VIF_ms_panel(molecules=None, by="name", cols=2, save=None, ring_fragmentation=False, recursive_ms=False):
    """Predicted spectra of several molecules in one figure."""
    not_built("VIF_ms_panel")
