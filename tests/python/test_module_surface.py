"""What `import tessarin` gives a script: names, signatures, import side effects."""

import inspect
import runpy
import subprocess
import sys

import pytest

import tessarin

_ = inspect.Parameter.empty

# name -> [(argument, default)], `_` for "no default"
SIGNATURES = {
    "VIF": [
        ("smiles", _),
        ("n_iter", 600),
        ("target_bond_len", 1.5),
        ("radius_ratio", 0.23),
        ("show_spectrum", True),
        ("bond_kappa", 0.9),
        ("draw", True),
        ("verbose", True),
        ("ring_fragmentation", False),
        ("recursive_ms", False),
        ("max_generations", 2),
    ],
    "compute_lpi": [("graph", _), ("tol", 1e-09), ("weight", "weight")],
    "compute_atom_layout": [
        ("mol", _),
        ("n_iter", 600),
        ("target_bond_len", 1.5),
        ("repulsion_factor", 1.2),
        ("k_attr", 0.06),
        ("k_rep", 0.05),
    ],
    "detect_soft_bonds": [("graph", _), ("chem_bonds", _), ("baseline_lpi", _), ("tol", 1e-09)],
    "predict_fragments": [("mol", _), ("soft_bonds", _), ("ring_fragmentation", False), ("min_ring_fragment_mz", 30)],
    "predict_fragments_recursive": [
        ("mol", _),
        ("H", _),
        ("atom_subgraphs", _),
        ("chem_bonds", _),
        ("max_generations", 3),
        ("min_mz", 25),
        ("ring_fragmentation", True),
    ],
    "plot_mass_spectrum": [("smiles", _), ("mol_mass", _), ("fragments", _), ("ax", None)],
    "fetch_smiles_from_pubchem": [("query", _), ("by", "name"), ("timeout", 20)],
    "VIF_from_pubchem": [("query", _), ("by", "name"), ("vif_kwargs", "**")],
    "VIF_panel": [
        ("molecules", None),
        ("by", "name"),
        ("cols", 5),
        ("save", None),
        ("node_size", 60),
        ("bond_kappa", 0.9),
    ],
    "VIF_ms_panel": [
        ("molecules", None),
        ("by", "name"),
        ("cols", 2),
        ("save", None),
        ("ring_fragmentation", False),
        ("recursive_ms", False),
    ],
    "triple_group_demo": [("smiles", "N#Cc1ccc(cc1)N=Nc1ccc(cc1)Cl"), ("save_prefix", "/tmp/vif_kombine")],
    "halogen_test": [("molekuller", None), ("panel_n", 4), ("save", "/tmp/vif_halojen.png")],
    "validate": [("verbose", True)],
    "_get_period": [("symbol", _)],
    "_nominal_atom_mass": [("atomic_num", _)],
    "_nominal_mass": [("mol", _), ("indices", _)],
    "_fragment_formula": [("mol", _), ("atom_indices", _)],
    "_pair_label": [("mol", _), ("i", _), ("j", _)],
    "_angle_diff": [("a", _), ("b", _)],
    "_symmetry_classes": [("mol", _)],
    "_radial_equalize": [("coords", _), ("groups", _)],
    "_pca_align": [("coords", _)],
    "_enforce_mirror": [("coords", _), ("ranks", _), ("axis", _), ("eps", 0.05)],
    "_yerlestir_dugumler": [("n_nodes", _), ("target_angles", _)],
    "_build_bond_orders": [("mol", _)],
    "_fragment_atom_softs": [("H", _), ("atom_subgraphs", _), ("chem_bonds", _), ("atom_set", _), ("tol", 1e-09)],
    "_cut_atom_set": [("mol", _), ("atom_set", _), ("softs", _), ("ring_fragmentation", _), ("min_mz", _)],
}


def test_all_28_functions_have_the_documented_signatures():
    assert len(SIGNATURES) == 28
    for name, expected in SIGNATURES.items():
        fn = getattr(tessarin, name)
        params = list(inspect.signature(fn).parameters.values())
        got = []
        for p in params:
            if p.kind is inspect.Parameter.VAR_KEYWORD:
                got.append((p.name, "**"))
            else:
                assert p.kind is inspect.Parameter.POSITIONAL_OR_KEYWORD, (name, p.name)
                got.append((p.name, p.default))
        assert got == expected, name
        # Defaults must be the same type too (True is not 1, 30 is not 30.0).
        for (arg, default), (_, want) in zip(got, expected):
            assert type(default) is type(want), (name, arg)


@pytest.mark.parametrize(
    "call",
    [
        lambda: tessarin.compute_lpi(),
        lambda: tessarin.compute_lpi(None, 1e-9, "weight", "extra"),
        lambda: tessarin.compute_lpi(graph=None, colour="red"),
        lambda: tessarin._pair_label(None, 0, i=1),
    ],
)
def test_wrong_calls_raise_type_error_naming_the_function(call):
    with pytest.raises(TypeError) as err:
        call()
    assert "compute_lpi" in str(err.value) or "_pair_label" in str(err.value)


def test_module_level_names_and_tables():
    import collections
    import functools
    import math

    import matplotlib.pyplot
    import networkx
    import numpy
    from rdkit import Chem
    from rdkit.Chem import rdDepictor

    assert tessarin.nx is networkx and tessarin.plt is matplotlib.pyplot and tessarin.np is numpy
    assert tessarin.Chem is Chem and tessarin.rdDepictor is rdDepictor
    assert tessarin.math is math and tessarin.defaultdict is collections.defaultdict
    assert tessarin.lru_cache is functools.lru_cache
    assert isinstance(tessarin._NOMINAL_ISOTOPE, dict)
    assert tessarin.PUBCHEM_REST.startswith("https://") and tessarin.PUBCHEM_REST.endswith("/rest/pug/compound")
    assert len(tessarin.BIOMOLECULES) == 10 and tessarin.BIOMOLECULES[4] == "lactic acid"
    assert len(tessarin.HALOGEN_TESTS) == 12 and len(tessarin.LPI_REFERENCES) == 11
    assert len(tessarin.MS_REFERENCES) == 2
    assert tessarin.HALOGEN_TESTS[0][0] == "chlorobenzene  (C-Cl)"
    assert tessarin.HALOGEN_TESTS[1][2] == "exp: 96(M) BASE \u2014 F NOT lost"
    assert all(
        isinstance(row, tuple) and len(row) == 3
        for row in tessarin.HALOGEN_TESTS + tessarin.LPI_REFERENCES + tessarin.MS_REFERENCES
    )


def test_named_smiles_and_upper_case_aliases():
    assert tessarin.CO == tessarin.methanol == "CO"
    assert tessarin.CCl4 == tessarin.ccl4 == "C(Cl)(Cl)(Cl)Cl"
    assert tessarin.NB == tessarin.nitrobenzene == "c1ccc(cc1)[N+](=O)[O-]"
    assert tessarin.TNT == tessarin.tnt and tessarin.DNB == tessarin.dnb and tessarin.TNB == tessarin.tnb
    assert tessarin.H2O == "O" and tessarin.CO2 == "O=C=O"
    assert tessarin.diborane == "[H]B1([H])[H][B]([H])([H])[H]1"
    assert tessarin.benzaldehyde_imine == "C(=NC)c1ccccc1"


def test_import_loads_no_http_client_nor_dask_and_opens_no_connection():
    probe = (
        "import socket\n"
        "def refuse(*a, **k): raise AssertionError('network used at import')\n"
        "socket.socket.connect = refuse\n"
        "socket.create_connection = refuse\n"
        "import sys, tessarin\n"
        "print(any(m in sys.modules for m in ('requests', 'dask', 'distributed')))\n"
    )
    out = subprocess.run([sys.executable, "-c", probe], capture_output=True, text=True, check=True)
    assert out.stdout.strip() == "False"


def test_running_the_package_runs_the_halogen_test(monkeypatch):
    calls = []
    monkeypatch.setattr(tessarin, "halogen_test", lambda **kw: calls.append(kw))
    monkeypatch.setattr(sys, "argv", ["python -m tessarin"])
    runpy.run_module("tessarin", run_name="__main__")
    assert calls == [{"save": "/tmp/vif_halogen.png"}]
