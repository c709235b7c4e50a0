"""Built-in runs: the validation suite, the substituted-halogen test and the demonstration."""

from ._pending import not_built


def triple_group_demo(smiles="N#Cc1ccc(cc1)N=Nc1ccc(cc1)Cl", save_prefix="/tmp/vif_kombine"):
    """Graph and spectrum figures of a molecule with three functional groups."""
    not_built("triple_group_demo")


def halogen_test(molekuller=None, panel_n=4, save="/tmp/vif_halojen.png"):
    """Soft-bond analysis of halogen-substituted molecules, printed and drawn."""
    not_built("halogen_test")


def validate(verbose=True):
    """Compare computed LPI triples and fragment peaks with the reference tables."""
    not_built("validate")
