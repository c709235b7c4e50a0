"""The EI model's fingerprint network: the engine computes what the fitting script computes from the fitted file
(the same fingerprint, the same stored weights, the same forward pass), so fit time and run time agree."""
import pathlib
import re

import numpy as np
import pytest

import support
from tessarin import _native

ROOT = pathlib.Path(__file__).resolve().parents[2]

MOLECULES = [
    ("CCOC(=O)c1ccccc1", 150),
    ("Oc1ccccc1", 94),
    ("CC1=CCC(CC1)C(C)=C", 136),  # limonene
    ("C1CCOC1", 72),
    ("ClC(Cl)(Cl)Cl", 152),
    ("C" * 40, 562),  # environments counted beyond the table's last count
    ("O=[N+]([O-])c1ccc(Br)cc1", 201),
    ("CI", 142),
]


@pytest.fixture(scope="module")
def script():
    return support.fitting_script("fit_fingerprint_model")


def test_engine_outputs_equal_the_scripts_forward_pass_over_the_fitted_file(script):
    net = script.read_data(ROOT / "src" / "prediction" / "fingerprint_network_data.cpp")
    shape = _native._testing.fingerprint_network_shape()
    assert (shape["inputs"], shape["span"]) == (len(net.vocab), script.MZ_SPAN)
    assert (shape["members"], shape["hidden"]) == (len(net.members), net.members[0].p["b1"].size)
    assert shape["members"] == script.NET_CONFIG["members"]
    assert shape["radius"] == script.RADIUS and shape["above_mass"] == script.ABOVE_MASS
    assert shape["share"] == net.share == script.NETWORK_SHARE
    assert shape["exponent"] == net.exponent == script.NETWORK_EXPONENT
    # the third number of the combination lives in the weight table: it must be the one the choice measured
    weights = (ROOT / "src" / "prediction" / "ei_weights.cpp").read_text()
    assert float(re.search(r"weights multiplied by gamma = ([0-9.]+)", weights).group(1)) == script.ION_FIT["gamma"]
    assert (net.share, net.exponent, script.ION_FIT["gamma"]) in script.CHOICES

    fps = script.Fingerprints([dict(fp=script.fingerprint_counts(s)) for s, _ in MOLECULES])
    X = fps.matrix(list(range(len(MOLECULES))), net.vocab)
    want = net.outputs(X, np.array([m for _, m in MOLECULES]))
    any_known = False
    for (smiles, mass), (y, f, r) in zip(MOLECULES, want):
        got = _native._testing.fingerprint_network(smiles, mass)
        size = min(script.MZ_SPAN, mass + script.ABOVE_MASS + 1)
        for name, w in (("mixed", y), ("forward", f), ("reverse", r)):
            g = np.array(got[name])
            assert g.shape == (size,), (smiles, name)
            np.testing.assert_allclose(g, w[:size], rtol=1e-9, atol=1e-12, err_msg="%s %s" % (smiles, name))
            assert not np.any(w[size:]), (smiles, name)
        any_known = any_known or y.max() > 0
    assert any_known


def test_fingerprint_is_the_morgan_count_fingerprint_of_the_smiles(script):
    from rdkit import Chem
    from rdkit.Chem import AllChem

    for smiles, _ in MOLECULES + [("c1ccc2[nH]ccc2c1", 117), ("[2H]C([2H])([2H])O", 35)]:
        want = AllChem.GetMorganFingerprint(Chem.MolFromSmiles(smiles), script.RADIUS).GetNonzeroElements()
        assert dict(_native._testing.fingerprint_counts(smiles)) == want, smiles
    with pytest.raises(ValueError):
        _native._testing.fingerprint_counts("C1CC")
