"""compute_atom_layout and _symmetry_classes on real molecules, held against the NumPy reference."""

import inspect

import numpy as np
import pytest
from rdkit import Chem, RDLogger
from rdkit.Chem import rdDepictor

import support
from support import layout as ref
import tessarin
from tessarin import _symmetry_classes, compute_atom_layout


def nci_molecules(count, max_atoms):
    """Every 7th molecule of RDKit's NCI sample with 2 to ``max_atoms`` atoms once prepared."""
    RDLogger.DisableLog("rdApp.*")
    return support.nci_molecules(count, step=7, max_atoms=max_atoms, min_atoms=2)


# Symmetric molecules, and hydrogen-only ones (redepicted without CoordGen).
EXTRA = [
    tessarin.nitrobenzene,
    tessarin.tnt,
    tessarin.dodecane,
    tessarin.ccl4,
    tessarin.acetone_oxime,
    tessarin.benzaldehyde_imine,
    tessarin.diborane,
    tessarin.co2,
    "[H][H]",
    "[H][H].[H][H]",
]


def test_layout_agrees_with_numpy_on_real_molecules():
    molecules = nci_molecules(36, 60) + [(s, ref.prepare(s)) for s in EXTRA]
    for smiles, mol in molecules:
        theirs_mol = Chem.Mol(mol)
        coords, ranks = compute_atom_layout(mol)
        expected, expected_ranks = ref.compute_atom_layout(theirs_mol)
        # Both started from the same depiction, which the molecule keeps.
        start = mol.GetConformer().GetPositions()[:, :2]
        assert np.array_equal(start, theirs_mol.GetConformer().GetPositions()[:, :2]), smiles
        assert not ref.coincident_pairs(start), smiles
        assert ranks == expected_ranks, smiles
        assert np.abs(coords - expected).max() <= 1e-9, smiles


def test_symmetry_classes_are_rdkits_ranks_without_tie_breaking():
    for smiles, mol in nci_molecules(40, 200):
        classes = _symmetry_classes(mol)
        assert type(classes) is list and all(type(c) is int for c in classes)
        assert classes == list(Chem.CanonicalRankAtoms(mol, breakTies=False)), smiles
    ethane = Chem.AddHs(Chem.MolFromSmiles("CC"))
    classes = _symmetry_classes(ethane)
    assert classes[0] == classes[1] and len(set(classes[2:])) == 1 and classes[2] != classes[0]


def test_symmetry_classes_fall_back_to_one_class_per_atom():
    RDLogger.DisableLog("rdApp.*")
    unranked = Chem.MolFromSmiles("c1ccccc1O", sanitize=False)  # valences never computed
    with pytest.raises(RuntimeError):
        Chem.CanonicalRankAtoms(unranked, breakTies=False)
    assert _symmetry_classes(unranked) == list(range(7))
    with pytest.raises(TypeError):
        _symmetry_classes("CCO")


def test_result_types_and_the_molecules_conformer():
    signature = inspect.signature(compute_atom_layout)
    bare = signature.replace(  # names, order and defaults; the type hints aside
        parameters=[p.replace(annotation=inspect.Parameter.empty) for p in signature.parameters.values()],
        return_annotation=inspect.Signature.empty,
    )
    assert str(bare) == "(mol, n_iter=600, target_bond_len=1.5, repulsion_factor=1.2, k_attr=0.06, k_rep=0.05)"
    mol = ref.prepare("CC(=O)Oc1ccccc1C(=O)O")
    assert mol.GetNumConformers() == 0
    coords, ranks = compute_atom_layout(mol=mol, n_iter=100)
    assert isinstance(coords, np.ndarray) and coords.dtype == np.float64
    assert coords.shape == (mol.GetNumAtoms(), 2) and coords.flags["C_CONTIGUOUS"] and coords.flags["WRITEABLE"]
    assert type(ranks) is list and ranks == _symmetry_classes(mol)
    assert mol.GetNumConformers() == 1
    again, _ = compute_atom_layout(mol, 100)
    assert np.array_equal(coords, again)  # equal inputs, identical bits


def test_coordgen_stays_preferred_after_a_layout():
    laid_out = ref.prepare("CC(=O)N")
    rdDepictor.SetPreferCoordGen(False)
    plain = ref.prepare("CC(=O)N")
    rdDepictor.Compute2DCoords(plain)
    compute_atom_layout(laid_out, n_iter=0)
    later = ref.prepare("CC(=O)N")
    rdDepictor.Compute2DCoords(later)  # depicted with whatever the process prefers now
    positions = [m.GetConformer().GetPositions() for m in (plain, laid_out, later)]
    assert not np.allclose(positions[0], positions[1])
    assert np.array_equal(positions[1], positions[2])


def test_small_and_empty_molecules():
    coords, ranks = compute_atom_layout(ref.prepare("[H][H]"))
    assert sorted(coords[:, 0]) == pytest.approx([-0.75, 0.75], abs=1e-12) and ranks == [0, 0]
    mol = Chem.MolFromSmiles("O")
    coords, ranks = compute_atom_layout(mol)
    assert np.array_equal(coords, mol.GetConformer().GetPositions()[:, :2]) and ranks == [0]
    empty, none = compute_atom_layout(Chem.Mol())
    assert empty.shape == (0, 2) and none == []


def test_every_parameter_reaches_the_relaxation():
    mol = ref.prepare("CC(C)(O)C#N")
    params = dict(n_iter=250, target_bond_len=2.0, repulsion_factor=1.4, k_attr=0.1, k_rep=0.02)
    theirs = ref.compute_atom_layout(Chem.Mol(mol), **params)[0]
    assert np.abs(compute_atom_layout(mol, **params)[0] - theirs).max() <= 1e-9


@pytest.mark.parametrize(
    "kwargs, error",
    [
        (dict(n_iter=-1), ValueError),
        (dict(n_iter=2.5), TypeError),
        (dict(n_iter=None), TypeError),
        (dict(target_bond_len=float("nan")), ValueError),
        (dict(target_bond_len=0.0), ValueError),
        (dict(target_bond_len="1.5"), TypeError),
        (dict(k_rep=float("inf")), ValueError),
    ],
)
def test_bad_parameters_are_refused_before_the_molecule_is_touched(kwargs, error):
    mol = ref.prepare("CCO")
    with pytest.raises(error):
        compute_atom_layout(mol, **kwargs)
    assert mol.GetNumConformers() == 0


def test_a_diverging_relaxation_is_an_error_not_nan_coordinates():
    with pytest.raises(ValueError, match="diverged"):
        compute_atom_layout(ref.prepare("CCO"), k_attr=3.0)


def test_only_molecules_are_laid_out():
    for not_a_mol in (None, "CCO", 42):
        with pytest.raises(TypeError):
            compute_atom_layout(not_a_mol)
