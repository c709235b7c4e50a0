"""Built-in runs: the validation suite, the substituted-halogen test and the demonstration."""

import sys

from . import _native
from ._pending import not_built


def triple_group_demo(smiles="N#Cc1ccc(cc1)N=Nc1ccc(cc1)Cl", save_prefix="/tmp/vif_kombine"):
    """Graph and spectrum figures of a molecule with three functional groups."""
    not_built("triple_group_demo")


def halogen_test(molekuller=None, panel_n=4, save="/tmp/vif_halojen.png"):
    """Soft-bond analysis of halogen-substituted molecules, printed and drawn."""
    not_built("halogen_test")


def validate(verbose=True):
    """Compare computed LPI triples and fragment peaks with the reference tables.

    For every row of ``LPI_REFERENCES`` the LPI of ``VIF(smiles)`` must equal
    the stored triple; for every row of ``MS_REFERENCES`` the stored m/z must
    be among the split-cut fragment peaks. Prints a PASS/FAIL line per row and
    the verdict when ``verbose``; returns True only when every row passed.
    """
    package = sys.modules["tessarin"]
    return _native.validate(package.LPI_REFERENCES, package.MS_REFERENCES, bool(verbose))
