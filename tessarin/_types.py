"""Names of what the public functions take and give, for their annotations."""

import os
from typing import Literal

from rdkit import Chem

# A file named by a path: str, bytes, pathlib.Path or any other os.PathLike.
FilePath = str | bytes | os.PathLike[str] | os.PathLike[bytes]
# A molecule as the functions take it: a SMILES string or an RDKit Mol.
Molecule = str | Chem.Mol
SpectrumFormat = Literal["msp", "massbank", "jcamp", "mgf", "jsonl"]
ScoreMethod = Literal["cosine", "dot_product", "composite"]
Model = Literal["schematic", "ei"]
Errors = Literal["raise", "warn"]
