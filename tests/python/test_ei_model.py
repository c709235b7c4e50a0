"""The EI model: the engine's spectra equal a reference computation from the features the fitting script reads;
batch, threads and file formats give the same spectra; the schematic default is untouched."""
import math
from collections import defaultdict

import pytest
from rdkit import Chem

import support
import tessarin
from tessarin import _native

MOLECULES = [
    "CCCCC(=O)OC",
    "c1ccccc1CCN",
    "ClC(Cl)(Cl)Cl",
    "CC(C)(C)O",
    "O=C1CCCCC1",
    "CCOC(=O)C1CCC(I)CC1",
    "Brc1ccccc1",
    "CC(=O)Nc1ccc(O)cc1",
    "[2H]C([2H])([2H])O",
    # C60, too heavy for the network's span
    "c12c3c4c5c1c1c6c7c2c2c8c3c3c9c4c4c%10c5c5c1c1c6c6c%11c7c2c2c7c8c3c3c8c9c4c4c9c%10c5c5c1c1c6c6c%11c2c2c7c3c3c8c4"
    "c4c9c5c1c1c6c2c3c41",
]


def formulas(annotation):
    return [] if annotation is None else annotation.split(", ")


def reference_spectrum(smiles):
    """The model as the fitting scripts compute it, from the extractor's rows, the weight table and the fingerprint
    network: each ion's exp(score), plus the network's intensity at its m/z shared among the ions of that m/z, spread
    over its cluster; at an m/z up to the molecule's that no ion reaches, the network's intensity as an ion of its
    own."""
    table = _native._testing.ei_weights()
    w = dict(table["weights"])
    ions = _native._testing.ei_candidate_ions(smiles)
    scores = [sum(w.get(name, 0.0) * v for name, v in feats) for _mz, _f, _n, feats, _c in ions]
    top = max(scores)
    e = [math.exp(s - top) for s in scores]
    cells = defaultdict(float)
    for (_mz, _f, _n, _feats, cluster), x in zip(ions, e):
        for c, a in cluster:
            cells[c] += a * x
    ion_top = max(cells.values())
    # The network reads the molecule without labels and each ion at its m/z with labels as natural atoms.
    mol = Chem.MolFromSmiles(smiles)
    for a in mol.GetAtoms():
        a.SetIsotope(0)
    fit = support.fitting_script("fit_fingerprint_model")
    formulas = {f: fit.composition(f) for _mz, f, _n, _feats, _c in ions}
    natural = {f: fit.natural_mz(c) for f, c in formulas.items()}
    molecule = next(formulas[f] for _mz, f, _n, feats, _c in ions if ("molecular ion, H kept", 1.0) in feats)
    mass = fit.natural_mz(molecule)
    shape = _native._testing.fingerprint_network_shape()
    y = _native._testing.fingerprint_network(Chem.MolToSmiles(mol), mass)["mixed"]
    if mass + shape["above_mass"] >= shape["span"]:
        y = []  # beyond the network's span the ion model predicts alone
    y_top = max((v * v for v in y), default=0.0)
    at_mz = defaultdict(float)
    intensity = defaultdict(float)
    for (_mz, f, _n, _feats, _cluster), x in zip(ions, e):
        at_mz[natural[f]] += x
        intensity[f] += x
    share, exponent = shape["share"], shape["exponent"]

    def network(z):
        return (y[z] ** 2 / y_top) ** exponent if 0 <= z < len(y) and y_top > 0 else 0.0

    cells = defaultdict(float)
    for (_mz, f, _n, _feats, cluster), x in zip(ions, e):
        z = natural[f]
        combined = x * ((1 - share) / ion_top + share * network(z) / at_mz[z])
        for c, a in cluster:
            cells[c] += a * combined
    listed = [(f, None, c, natural[f]) for f, c in formulas.items()]
    at_z = defaultdict(list)
    for k, (f, _rows, _c, z) in enumerate(listed):
        at_z[z].append(k)
    before = [intensity[f] for f, _rows, _c, _z in listed]
    for z in range(1, mass + 1):
        n = network(z)
        if share / (1 - share) * n >= fit.NETWORK_ION_THRESHOLD and z not in at_z:
            c = fit.network_ion(z, listed, at_z, before, molecule)
            for mz, a in fit.cluster_of(c) if c else ():
                cells[mz] += a * share * n
    vmax = max(cells.values())
    out = {}
    for mz, v in cells.items():
        x = round(999 * v / vmax)
        if x > 0 and x >= table["floor"] * 999:
            out[mz] = x
    return out


@pytest.mark.parametrize("smiles", MOLECULES)
def test_engine_spectrum_is_the_fitted_model_on_the_extracted_features(smiles):
    s = tessarin.predict_spectrum(smiles, model="ei")
    got = {int(m): int(i) for m, i in zip(s.mz, s.intensities)}
    want = reference_spectrum(smiles)
    # Sums in another order may move a value sitting on .5 by one unit; nothing else may differ.
    assert got.keys() == want.keys()
    assert all(abs(got[m] - want[m]) <= 1 for m in got)
    assert max(got.values()) == 999
    assert "EI model" in s.metadata["comments"]


def test_formulas_names_and_labelled_masses_of_extracted_ions():
    ions = _native._testing.ei_candidate_ions("[2H]C([2H])([2H])O")
    mol = [row for row in ions if any(name == "molecular ion, H kept" for name, _v in row[3])]
    assert [(mz, f) for mz, f, *_ in mol] == [(35, "CHD3O")]
    # A label moves masses, not the chemistry: CD3OH looks like methanol three units up, and a pure
    # chlorine-35 label has no chlorine-37 partner peaks.
    plain, labelled = peaks_of("CO"), peaks_of("[2H]C([2H])([2H])O")
    assert labelled[35] == (999, ["CHD3O"]) and labelled[34][1] == ["CD3O"]
    assert abs(labelled[34][0] - plain[31][0]) <= 5
    chloride = peaks_of("[35Cl]C([35Cl])([35Cl])[35Cl]")
    assert chloride[117] == (999, ["C[35Cl]3"]) and 119 not in chloride and 121 not in chloride
    names = {name for row in _native._testing.ei_candidate_ions("c1ccccc1CC") for name, _v in row[3]}
    assert {"benzylic site", "benzylic site, +1 H", "one cut, -1 H", "neutral's methyl C site"} <= names
    # every weight of the table names a feature the extractor can give
    weights = [name for name, _w in _native._testing.ei_weights()["weights"]]
    assert len(weights) == len(set(weights)) > 50


def test_batch_threads_and_single_spectra_agree_and_records_say_the_model(tmp_path):
    alone = []
    for smi in MOLECULES:
        s = tessarin.predict_spectrum(smi, model="ei")
        alone.append([(int(m), int(i), formulas(a)) for m, i, a in zip(s.mz, s.intensities, s.annotations)])
    for jobs in (1, 2):
        records = tessarin.predict_library(list(reversed(MOLECULES)), jobs=jobs, model="ei")[::-1]
        assert [[(p["mz"], p["intensity"], p["formula"]) for p in r["peaks"]] for r in records] == alone
        assert all("EI model" in r["comments"] for r in records)
    at127 = dict((mz, f) for mz, _i, f in alone[MOLECULES.index("CCOC(=O)C1CCC(I)CC1")])[127]
    assert {"I", "C7H11O2"} <= set(at127)
    out = tmp_path / "ei.msp"
    tessarin.predict_library(["CCOC(=O)C1CCC(I)CC1"], output=str(out), model="ei")
    text = out.read_text()
    assert "EI model" in text.split("Num Peaks")[0]
    line127 = next(row for row in text.splitlines() if row.startswith("127 "))
    assert "I" in line127.split('"')[1].split(", ") and "C7H11O2" in line127
    back = next(tessarin.read_spectra(str(out)))
    assert {"I", "C7H11O2"} <= set(formulas(back.annotations[list(back.mz).index(127)]))


def test_schematic_stays_the_default():
    default = tessarin.predict_library(MOLECULES[:4], jobs=2)
    assert default == tessarin.predict_library(MOLECULES[:4], jobs=2, model="schematic")
    assert all("comments" not in r and all(isinstance(p["formula"], str) for p in r["peaks"]) for r in default)
    assert "comments" not in tessarin.predict_spectrum("CCO").metadata
    with pytest.raises(ValueError, match="ei"):
        tessarin.predict_library(["C"], model="quantum")


def peaks_of(smiles):
    s = tessarin.predict_spectrum(smiles, model="ei")
    return {int(m): (int(i), formulas(a)) for m, i, a in zip(s.mz, s.intensities, s.annotations)}


def test_mclafferty_ions_of_a_ketone_and_an_ester():
    # 2-hexanone and methyl butanoate: the gamma hydrogen moves to the C=O, the alpha-beta bond breaks and
    # the enol keeps the charge (m/z 58, 74). The +1 H ion of the next bond along the chain has no such
    # route and must stay far weaker; molecules without a gamma hydrogen have no McLafferty ion at all.
    for smiles, mz, formula, next_along in [("CCCCC(C)=O", 58, "C3H6O", 72), ("CCCC(=O)OC", 74, "C3H6O2", 88)]:
        peaks = peaks_of(smiles)
        intensity, names = peaks[mz]
        assert intensity >= 50 and names[0] == formula, (smiles, peaks[mz])
        assert peaks.get(next_along, (0, []))[0] * 3 <= intensity
    for smiles in ("CCC(C)=O", "CCC(=O)OC", "CC(C)(C)C(C)=O"):
        named = {name for row in _native._testing.ei_candidate_ions(smiles) for name, _v in row[3]}
        assert not any(name.startswith("McLafferty") for name in named), smiles


def test_eliminations_need_a_beta_hydrogen_and_give_the_alkene_ion_of_an_ester():
    # HX leaves across a C-X bond with a hydrogen of the carbon beside; named by what leaves, on the ion of
    # each side. A methyl, neopentyl or aryl carbon has no such hydrogen; the acid's side of an ester is not
    # the alkene's.
    def eliminations(smiles):
        return {
            (formula, name.rsplit(", ", 1)[0])
            for _mz, formula, _neutral, feats, _cluster in _native._testing.ei_candidate_ions(smiles)
            for name, _v in feats
            if name.startswith("eliminates ") and name.endswith(", -1 H")
        }

    assert ("C2H4", "eliminates water, alkene side") in eliminations("CCO")
    assert ("C6H10", "eliminates an acid, alkene side") in eliminations("CC(=O)OC1CCCCC1")
    assert ("C3H6", "eliminates a hydrogen halide, alkene side") in eliminations("CCCBr")
    assert ("C4H8", "eliminates an alcohol, alkene side") in eliminations("CCCCOC")
    assert not any("acid, alkene" in name for _f, name in eliminations("CCC(=O)OC"))
    for smiles in ("CO", "CC(=O)OC", "CC(C)(C)CO", "Oc1ccccc1", "CC(=O)O"):
        assert eliminations(smiles) == set(), smiles
    # cyclohexyl acetate: the alkene ion C6H10 (m/z 82, M - 60) is the strongest after the acylium
    peaks = peaks_of("CC(=O)OC1CCCCC1")
    assert peaks[43][0] == 999 and peaks[82][1][0] == "C6H10"
    assert sorted(peaks, key=lambda m: -peaks[m][0])[1] == 82


def test_retro_diels_alder_ions_are_named_by_side_and_only_across_a_six_ring_double_bond():
    # (molecule, {formula of an unshifted ion: its side}): cyclohexene gives butadiene and ethylene, tetralin
    # o-xylylene (its aromatic bond serves as the double bond), limonene isoprene from both sides.
    def rda(smiles):
        out = {}
        for _mz, formula, _neutral, feats, _cluster in _native._testing.ei_candidate_ions(smiles):
            for name, _v in feats:
                if name.startswith("retro-Diels-Alder") and name.endswith(", H kept"):
                    out.setdefault(formula, set()).add(name.split(", ")[1])
        return out

    assert rda("C1CC=CCC1") == {"C4H6": {"diene side"}, "C2H4": {"ene side"}}
    assert rda("C1CCc2ccccc2C1") == {"C8H8": {"diene side"}, "C2H4": {"ene side"}}
    assert rda("CC1=CCC(CC1)C(C)=C") == {"C5H8": {"diene side", "ene side"}}
    for smiles in ("C1CCCCC1", "C1CC=CC1", "C1CCC=CCC1", "c1ccccc1", "C=CCCCC"):
        assert rda(smiles) == {}, smiles
    # two ring cuts name the ring they open and how much of it the ion keeps
    named = {name for row in _native._testing.ei_candidate_ions("C1CCCC1") for name, _v in row[3]}
    assert {"two ring cuts, ring of 5, keeps %d" % k for k in (1, 2, 3, 4)} <= named
    assert not any(n.startswith("two ring cuts, ring of 6") for n in named)


def test_the_side_of_lower_ionisation_energy_keeps_the_charge():
    # One bond, two possible ions: (molecule, stronger ion, its formula, the other side's ion).
    cases = [
        ("CN(C)Cc1ccccc1", 58, "C3H8N", 77),  # iminium ion beats phenyl (alpha-cleavage at N)
        ("CCCCc1ccccc1", 91, "C7H7", 43),  # benzyl/tropylium beats propyl
        ("CC(=O)c1ccccc1", 105, "C7H5O", 15),  # benzoyl beats methyl
        ("CCCCC(C)=O", 43, "C2H3O", 57),
    ]  # acetyl beats butyl
    for smiles, strong, formula, weak in cases:
        peaks = peaks_of(smiles)
        assert formula in peaks[strong][1], (smiles, peaks[strong])
        assert peaks[strong][0] > peaks.get(weak, (0, []))[0], (smiles, peaks.get(weak))


def test_every_molecule_the_engine_analyses_gets_an_ei_spectrum():
    # RDKit will not sanitize these (a pentavalent carbon, a beryllium chelate); the engine analyses them
    # all the same, and the EI model must not turn them into failures.
    hard = ["CCO1=O=C1C2=CC=C(O2)C(C)(C)C", "CC1=[O+][Be]2([O+]=C(C)C1)[O+]=C(C)CC(=[O+]2)C"]
    for schematic, ei in zip(tessarin.predict_library(hard), tessarin.predict_library(hard, model="ei")):
        assert "error" not in ei, ei
        assert schematic["mol_mass"] in {p["mz"] for p in ei["peaks"]}
