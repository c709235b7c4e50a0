"""The VIF orbital graph of a molecule and the analysis driver."""

from ._pending import not_built


def _build_bond_orders(mol):
    """Bond order of every bond, keyed by (i, j) and (j, i)."""
    not_built("_build_bond_orders")


def VIF(smiles, n_iter=600, target_bond_len=1.5, radius_ratio=0.23, show_spectrum=True, bond_kappa=0.9,
        draw=True, verbose=True, ring_fragmentation=False, recursive_ms=False, max_generations=2):
    """Build the VIF orbital graph of ``smiles``, compute its LPI and predict its EI-MS fragments."""
    not_built("VIF")
