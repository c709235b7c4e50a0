"""Reference data: default molecule lists and expected values (shipped with the engine)."""

from . import _native

_tables = _native.reference_tables()

# Default molecules of the panels, looked up by name on PubChem.
BIOMOLECULES = _tables["BIOMOLECULES"]
# (label, SMILES, what the experimental spectrum shows)
HALOGEN_TESTS = _tables["HALOGEN_TESTS"]
# (name, SMILES, expected (n+, n0, n-))
LPI_REFERENCES = _tables["LPI_REFERENCES"]
# (name, SMILES, m/z expected among the single-cut fragments)
MS_REFERENCES = _tables["MS_REFERENCES"]

del _tables
