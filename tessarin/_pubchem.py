"""SMILES by compound name or CID from the PubChem PUG REST service."""

from ._pending import not_built

PUBCHEM_REST = "https://pubchem.ncbi.nlm.nih.gov/rest/pug/compound"


def fetch_smiles_from_pubchem(query, by="name", timeout=20):
    """(SMILES, CID) of a compound looked up by name or CID."""
    not_built("fetch_smiles_from_pubchem")


def VIF_from_pubchem(query, by="name", **vif_kwargs):
    """Look a compound up on PubChem and run ``VIF`` on its SMILES."""
    not_built("VIF_from_pubchem")
