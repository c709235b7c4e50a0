"""tessarin: Valency Interaction Formula orbital graphs, their LPI, and predicted EI mass spectra.

Start with ``VIF(smiles)``; ``help(tessarin.VIF)`` lists its options.

Analysis of one molecule
    VIF                          orbital graph, LPI and predicted fragments, printed and drawn
    VIF_from_pubchem             VIF of a compound looked up on PubChem by name or CID
    compute_lpi                  positive, zero and negative eigenvalue counts of a graph
    compute_atom_layout          2D atom coordinates (RDKit's depiction, relaxed and symmetrised)
    detect_soft_bonds            bonds whose edge can be deleted without changing the LPI
    predict_fragments            fragments of single cuts and ring double cuts of the soft bonds
    predict_fragments_recursive  peaks of several generations of cuts

Figures
    plot_mass_spectrum           the predicted stick spectrum on a Matplotlib axes
    VIF_panel                    orbital graphs of several molecules in a grid
    VIF_ms_panel                 predicted spectra of several molecules in a grid

Libraries of molecules
    predict_library              predicted spectra of many molecules on native threads, to a file or a list

Spectra (measured and predicted)
    Spectrum                     m/z and intensity arrays, per-peak annotations, a metadata dict
                                 (to and from pandas: to_dataframe, Spectrum.from_dataframe)
    predict_spectrum             the predicted spectrum of a SMILES or RDKit Mol as a Spectrum
    read_spectra, write_spectra  MSP, MassBank, JCAMP-DX, MGF and JSON Lines files, streamed
                                 (paths, pathlib.Path or open file objects)
    similarity                   cosine, EI dot product or composite score and the matched peaks
    rank_candidates              candidate structures predicted and ranked against a measured spectrum
    search_library               query spectra against a spectral library, the best hits of each
    evaluate                     predictions against measured spectra of known structure
    mirror_plot                  measured above, predicted below, matched peaks highlighted and labelled

PubChem
    fetch_smiles_from_pubchem    (SMILES, CID) of a compound by name or CID

Built-in runs
    validate                     computed LPI triples and peaks against the reference tables
    halogen_test                 soft C-X bonds of substituted halogen compounds, printed and drawn
    triple_group_demo            graph and spectrum figures of a molecule with three groups

Tables: LPI_REFERENCES, MS_REFERENCES, HALOGEN_TESTS, BIOMOLECULES, PUBCHEM_REST; named
SMILES strings such as ``ethanol``, ``nitrobenzene`` and their aliases (``NB``, ``TNT``, ...).
In a notebook a Spectrum shows as a stick plot, a ranking or search result as a table. The
functions are annotated (the package has a py.typed marker) for editors and type checkers.
``python -m tessarin`` runs the halogen test. The command-line program ``tessarin`` runs the
same engine without Python.
"""

import os as _os
import sys as _sys

import matplotlib as _matplotlib

# Without a display, draw off-screen: figures still save, and show() returns at once.
if (
    _sys.platform.startswith("linux")
    and not _os.environ.get("DISPLAY")
    and not _os.environ.get("WAYLAND_DISPLAY")
    and not _os.environ.get("MPLBACKEND")
):
    _matplotlib.use("Agg")

from ._native import __version__  # the command-line program's version too

# Libraries the module exposes under these names.
import math
from collections import defaultdict
from functools import lru_cache

import matplotlib.pyplot as plt
import networkx as nx
import numpy as np
from rdkit import Chem
from rdkit.Chem import rdDepictor

# Element data, masses and formulas.
from ._elements import element, _get_period, _NOMINAL_ISOTOPE, _nominal_atom_mass, _nominal_mass
from ._formulas import _fragment_formula, _pair_label

# Layout.
from ._layout import (
    _angle_diff,
    _symmetry_classes,
    _radial_equalize,
    _pca_align,
    _enforce_mirror,
    compute_atom_layout,
    _yerlestir_dugumler,
)

# Orbital graph, LPI and the analysis.
from ._lpi import compute_lpi
from ._vif import VIF, _build_bond_orders

# Soft bonds and fragments.
from ._ms import detect_soft_bonds, predict_fragments, _fragment_atom_softs, _cut_atom_set, predict_fragments_recursive

# Figures.
from .figures.spectrum import plot_mass_spectrum
from .figures.panels import VIF_panel, VIF_ms_panel

# PubChem.
from ._pubchem import PUBCHEM_REST, fetch_smiles_from_pubchem, VIF_from_pubchem
from .candidates import Candidate, Candidates, CandidateIndex, candidate_formulas, pubchem_candidates

# Tables, built-in runs and libraries.
from ._tables import BIOMOLECULES, HALOGEN_TESTS, LPI_REFERENCES, MS_REFERENCES
from ._demos import triple_group_demo, halogen_test, validate
from ._batch import predict_library

# Named SMILES strings and their upper-case aliases.
from ._smiles_names import *  # noqa: F401,F403
from ._smiles_names import __all__ as _smiles_names

# Measured and predicted spectra: files, scores, identification.
from .spectra import (
    Spectrum,
    SpectrumRecordError,
    predict_spectrum,
    read_spectra,
    write_spectra,
    similarity,
    rank_candidates,
    search_library,
    evaluate,
)
from .figures.mirror import mirror_plot
from .unknown import estimate_molecular_mass, explain

__all__ = [
    "__version__",
    "VIF",
    "VIF_from_pubchem",
    "compute_lpi",
    "compute_atom_layout",
    "detect_soft_bonds",
    "predict_fragments",
    "predict_fragments_recursive",
    "plot_mass_spectrum",
    "VIF_panel",
    "VIF_ms_panel",
    "predict_library",
    "fetch_smiles_from_pubchem",
    *("pubchem_candidates", "candidate_formulas", "CandidateIndex", "Candidate", "Candidates"),
    "validate",
    "halogen_test",
    "triple_group_demo",
    "element",
    "LPI_REFERENCES",
    "MS_REFERENCES",
    "HALOGEN_TESTS",
    "BIOMOLECULES",
    "PUBCHEM_REST",
    *_smiles_names,
    "Spectrum",
    "SpectrumRecordError",
    "predict_spectrum",
    "read_spectra",
    "write_spectra",
    "similarity",
    "rank_candidates",
    "search_library",
    "evaluate",
    "mirror_plot",
    "estimate_molecular_mass",
    "explain",
]
