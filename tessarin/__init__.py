"""tessarin: Valency Interaction Formula orbital graphs, their LPI, and predicted EI mass spectra.

Start with ``VIF(smiles)``; ``help(tessarin.VIF)`` lists its options.
"""

import os as _os
import sys as _sys

import matplotlib as _matplotlib

# Without a display, draw off-screen: figures still save, and show() returns at once.
if (_sys.platform.startswith("linux") and not _os.environ.get("DISPLAY")
        and not _os.environ.get("WAYLAND_DISPLAY") and not _os.environ.get("MPLBACKEND")):
    _matplotlib.use("Agg")

import networkx as nx
import matplotlib.pyplot as plt
from rdkit import Chem
from rdkit.Chem import rdDepictor

from ._elements import element

import numpy as np
import math
from collections import defaultdict
from functools import lru_cache

from ._elements import _get_period
from ._layout import (_angle_diff, _symmetry_classes, _radial_equalize, _pca_align, _enforce_mirror,
                      compute_atom_layout, _yerlestir_dugumler)
from ._lpi import compute_lpi
from ._ms import detect_soft_bonds
from ._formulas import _fragment_formula, _pair_label
from ._elements import _NOMINAL_ISOTOPE, _nominal_atom_mass, _nominal_mass
from ._ms import predict_fragments, _fragment_atom_softs, _cut_atom_set, predict_fragments_recursive
from ._vif import _build_bond_orders
from .figures.spectrum import plot_mass_spectrum
from ._vif import VIF
from ._pubchem import PUBCHEM_REST, fetch_smiles_from_pubchem, VIF_from_pubchem
from ._tables import BIOMOLECULES
from .figures.panels import VIF_panel, VIF_ms_panel
from ._demos import triple_group_demo
from ._tables import HALOGEN_TESTS
from ._demos import halogen_test
from ._tables import LPI_REFERENCES, MS_REFERENCES
from ._demos import validate
from ._batch import predict_library

from ._smiles_names import *  # noqa: E402,F401,F403  (named SMILES strings and their aliases)
from .spectra import (Spectrum, SpectrumRecordError, predict_spectrum, read_spectra, write_spectra, similarity,
                      rank_candidates, search_library, evaluate)
from .figures.mirror import mirror_plot
