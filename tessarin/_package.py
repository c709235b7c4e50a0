"""What the figures and the built-in runs share: the package as it is now, and a quiet analysis."""

import sys


def package():
    """The tessarin module, looked up at call time, so that tables, the lookup and VIF can be replaced on it."""
    return sys.modules["tessarin"]


def analysed(smiles, label=None, **vif_kwargs):
    """``VIF(smiles)`` without drawing or printing; ValueError when the SMILES cannot be read."""
    result = package().VIF(smiles, draw=False, verbose=False, **vif_kwargs)
    if isinstance(result, str):
        where = f"{label}: " if label is not None else ""
        raise ValueError(f"{where}{result} ({smiles!r})")
    return result
