"""Element periods, nominal masses, formulas and pair labels on RDKit molecules."""

import numpy as np
import pytest
from rdkit import Chem

import tessarin


def prepared(smiles):
    return Chem.AddHs(Chem.MolFromSmiles(smiles))


def test_element_lookup_and_period_memo():
    c = tessarin.element("C")
    assert (c.symbol, c.atomic_number, c.period) == ("C", 6, 2)
    assert tessarin.element(17).symbol == "Cl"
    assert tessarin._get_period("H") == 1
    assert tessarin._get_period("Cl") == 3
    assert tessarin._get_period("Br") == 4
    before = tessarin._get_period.cache_info()
    assert tessarin._get_period("Cl") == 3
    after = tessarin._get_period.cache_info()
    assert after.hits == before.hits + 1 and after.currsize == before.currsize


def test_unknown_symbols_raise_value_error_and_are_not_memoised():
    size = tessarin._get_period.cache_info().currsize
    for bad in ["*", "Xx", "c", ""]:
        with pytest.raises(ValueError, match=repr(bad)):
            tessarin._get_period(bad)
    assert tessarin._get_period.cache_info().currsize == size
    with pytest.raises(ValueError):
        tessarin.element(0)
    with pytest.raises(TypeError):
        tessarin.element(6.0)


def test_nominal_isotope_table_grows_on_demand():
    tessarin._NOMINAL_ISOTOPE.pop(53, None)
    assert tessarin._nominal_atom_mass(53) == 127
    assert tessarin._NOMINAL_ISOTOPE[53] == 127
    # Later requests read the table, not RDKit, and so do the sums.
    tessarin._NOMINAL_ISOTOPE[53] = 130
    try:
        assert tessarin._nominal_atom_mass(53) == 130
        iodomethane = prepared("CI")
        assert tessarin._nominal_mass(iodomethane, range(iodomethane.GetNumAtoms())) == 12 + 3 + 130
    finally:
        tessarin._NOMINAL_ISOTOPE[53] = 127
    with pytest.raises(ValueError):
        tessarin._nominal_atom_mass(500)
    assert 500 not in tessarin._NOMINAL_ISOTOPE
    mol = prepared("CBr")
    tessarin._NOMINAL_ISOTOPE.pop(35, None)
    assert tessarin._nominal_mass(mol, range(mol.GetNumAtoms())) == 94
    assert tessarin._NOMINAL_ISOTOPE[35] == 79 and tessarin._NOMINAL_ISOTOPE[6] == 12


def test_nominal_masses():
    methane = prepared("C")
    assert tessarin._nominal_mass(methane, range(5)) == 16
    assert tessarin._nominal_mass(methane, []) == 0
    assert tessarin._nominal_mass(Chem.MolFromSmiles("C"), range(1)) == 12
    chloromethane = prepared("CCl")
    assert tessarin._nominal_mass(chloromethane, range(chloromethane.GetNumAtoms())) == 50
    cf4 = prepared("C(F)(F)(F)F")
    assert tessarin._nominal_mass(cf4, {0, 1, 2, 3}) == 69
    assert tessarin._nominal_mass(methane, np.arange(5)) == 16
    assert tessarin._nominal_mass(methane, (i for i in [0, 0])) == 24


def test_formulas_and_labels():
    assert tessarin._fragment_formula(prepared("C"), range(5)) == "CH4"
    assert tessarin._fragment_formula(prepared("O"), range(3)) == "H2O"
    assert tessarin._fragment_formula(prepared("Cl"), range(2)) == "HCl"
    nb = prepared("c1ccc(cc1)[N+](=O)[O-]")
    assert tessarin._fragment_formula(nb, range(nb.GetNumAtoms())) == "C6H5NO2"
    chcl3 = prepared("C(Cl)(Cl)Cl")
    assert tessarin._fragment_formula(chcl3, range(chcl3.GetNumAtoms())) == "CHCl3"
    assert tessarin._fragment_formula(prepared("C(F)(F)(F)F"), [0, 1, 2, 3]) == "CF3"
    assert tessarin._fragment_formula(nb, []) == ""
    ethanol = Chem.MolFromSmiles("CCO")
    assert tessarin._pair_label(ethanol, 0, 1) == "C0-C1"
    assert tessarin._pair_label(ethanol, 2, 1) == "O2-C1"
    assert tessarin._pair_label(ethanol, np.int64(2), 0) == "O2-C0"


def test_molecules_with_a_writable_wrapper_work_too():
    rw = Chem.RWMol(prepared("CO"))
    assert tessarin._fragment_formula(rw, range(rw.GetNumAtoms())) == "CH4O"


@pytest.mark.parametrize(
    "indices, error",
    [
        ([7], IndexError),
        ([-1], IndexError),
        ([10**40], IndexError),
        ([1.0], TypeError),
        ("01", TypeError),
        (3, TypeError),
        ([None], TypeError),
    ],
)
def test_bad_indices_raise_clear_errors(indices, error):
    mol = prepared("C")
    with pytest.raises(error):
        tessarin._fragment_formula(mol, indices)
    with pytest.raises(error):
        tessarin._nominal_mass(mol, indices)


@pytest.mark.parametrize("not_a_mol", [None, "CCO", 42, object()])
def test_non_molecules_raise_type_error(not_a_mol):
    with pytest.raises(TypeError, match="RDKit Mol"):
        tessarin._fragment_formula(not_a_mol, [0])
    with pytest.raises(TypeError, match="RDKit Mol"):
        tessarin._pair_label(not_a_mol, 0, 0)


def test_pair_label_index_errors():
    with pytest.raises(IndexError):
        tessarin._pair_label(Chem.MolFromSmiles("CCO"), 0, 3)
