"""Candidate structures from PubChem (against the local stand-in) and from local files through the index."""

import gzip
import os
import shutil
import time

import pytest
from rdkit import Chem, RDLogger
from rdkit.Chem import rdMolDescriptors

import tessarin
from support.pubchem import pubchem_server  # noqa: F401  (pytest fixture)

FAST = "/rest/pug/compound/fastformula/{}/property/MolecularFormula,IsomericSMILES,Title/JSON?MaxRecords={}"
LIST_KEY = "/rest/pug/compound/listkey/{}/property/MolecularFormula,IsomericSMILES,Title/JSON"

# What a search for C3H7NO2 finds (CIDs and titles as PubChem has them): DL-, L- and D-alanine, the
# zwitterion, a deuterated alanine (PubChem's formula counts D as H), nitropropane, sarcosine,
# beta-alanine, urethane, and two records no structure can be read from.
ALANINES = [
    (5950, "C[C@@H](C(=O)O)N", "L-Alanine"),
    (602, "CC(C(=O)O)N", "DL-Alanine"),
    (71080, "C[C@H](C(=O)O)N", "D-Alanine"),
    (7311724, "C[C@@H](C(=O)[O-])[NH3+]", "L-Alanine zwitterion"),
    (12205419, "[2H][C@@](C)(C(=O)O)N", "L-Alanine-2-d"),
    (398, "CCC[N+](=O)[O-]", "1-Nitropropane"),
    (1088, "CNCC(=O)O", "Sarcosine"),
    (239, "C(CN)C(=O)O", "beta-Alanine"),
    (5641, "CCOC(=O)N", "Urethane"),
    (99999, "C1CC(", "broken record"),
    (99998, "", "no SMILES"),
]
PARENTS = [
    ("NCCC(=O)O", 239, "beta-Alanine"),
    ("CCC[N+](=O)[O-]", 398, "1-Nitropropane"),
    ("CC(N)C(=O)O", 602, "DL-Alanine"),
    ("CNCC(=O)O", 1088, "Sarcosine"),
    ("CCOC(N)=O", 5641, "Urethane"),
]


def found(candidates):
    return [(c.smiles, c.cid, c.name) for c in candidates]


def test_formula_search_reduces_stereoisomers_and_charged_forms_to_one_parent(pubchem_server, tmp_path):
    pubchem_server.add_compounds("C3H7NO2", *ALANINES)
    result = tessarin.pubchem_candidates(formula="C3H7NO2", cache_dir=tmp_path / "cache")
    assert found(result) == PARENTS
    assert {(c.formula, c.nominal_mass, c.line) for c in result} == {("C3H7NO2", 89, None)}
    assert (result.found, result.kept) == (11, 5)
    assert result.dropped == {"duplicates": 2, "salts": 1, "unparsable": 2, "other_formula": 1}
    assert result.formulas == ["C3H7NO2"] and result.truncated == [] and result.requests == 1
    assert pubchem_server.search_paths() == [FAST.format("C3H7NO2", 1000)]
    # What rank_candidates takes.
    assert result.molecules()[2] == ("DL-Alanine", "CC(N)C(=O)O")


def test_list_key_is_polled_until_the_list_is_ready(pubchem_server, tmp_path):
    pubchem_server.add_compounds("C3H7NO2", *ALANINES)
    start = time.monotonic()
    result = tessarin.pubchem_candidates(formula="C3H7NO2", cache_dir=False, route="list_key", wait=0.05)
    assert found(result) == PARENTS
    search = "/rest/pug/compound/formula/C3H7NO2/property/MolecularFormula,IsomericSMILES,Title/JSON?MaxRecords=1000"
    assert pubchem_server.search_paths() == [search] + [LIST_KEY.format(1000)] * 3  # two "Waiting", then the table
    assert time.monotonic() - start >= 0.1

    pubchem_server.polls_before_ready = 10
    with pytest.raises(TimeoutError, match="not ready after 3 polls"):
        tessarin.pubchem_candidates(formula="C3H7NO2", cache_dir=False, route="list_key", wait=0.01, max_polls=3)


def test_the_cache_answers_a_rerun_without_a_request(pubchem_server, tmp_path):
    pubchem_server.add_compounds("C3H7NO2", *ALANINES)
    cache = tmp_path / "cache"
    first = tessarin.pubchem_candidates(formula="C3H7NO2", cache_dir=cache)
    none = tessarin.pubchem_candidates(formula="C99H9", cache_dir=cache)  # 404 PUGREST.NotFound: kept too
    assert len(pubchem_server.paths) == 2 and (none.found, none.kept, none.requests) == (0, 0, 1)
    again = tessarin.pubchem_candidates(formula="C3H7NO2", cache_dir=cache)
    none = tessarin.pubchem_candidates(formula="C99H9", cache_dir=cache)
    assert len(pubchem_server.paths) == 2
    assert found(again) == found(first) and again.dropped == first.dropped
    assert (again.requests, again.cache_hits, none.cache_hits) == (0, 1, 1)
    assert [p.name for p in cache.iterdir() if p.suffix == ".tmp"] == []

    # The default directory is TESSARIN_PUBCHEM_CACHE (the fixture's); False asks every time.
    tessarin.pubchem_candidates(formula="C3H7NO2")
    tessarin.pubchem_candidates(formula="C3H7NO2")
    assert len(pubchem_server.paths) == 3 and len(os.listdir(os.environ["TESSARIN_PUBCHEM_CACHE"])) == 1
    tessarin.pubchem_candidates(formula="C3H7NO2", cache_dir=False)
    assert len(pubchem_server.paths) == 4

    # A reply the cache cannot read is asked for again and replaced.
    (entry,) = [p for p in cache.glob("*.reply") if b"/C3H7NO2/" in p.read_bytes()]
    entry.write_bytes(entry.read_bytes()[:-30])
    for _ in range(2):
        assert found(tessarin.pubchem_candidates(formula="C3H7NO2", cache_dir=cache)) == PARENTS
    assert len(pubchem_server.paths) == 5


def test_faults_busy_service_and_time_outs_are_errors_never_cached(pubchem_server, tmp_path):
    cache = tmp_path / "cache"
    pubchem_server.add_compounds("C3H7NO2", *ALANINES)
    pubchem_server.add("fastformula", "C2H6O", {"Fault": {"Code": "PUGREST.BadRequest", "Message": "Bad"}}, 400)
    for _ in range(2):
        with pytest.raises(ValueError, match=r"^PubChem: PUGREST.BadRequest \(HTTP 400\): Bad$"):
            tessarin.pubchem_candidates(formula="C2H6O", cache_dir=cache)
    assert len(pubchem_server.paths) == 2

    pubchem_server.busy = 2  # throttled twice, then answered
    result = tessarin.pubchem_candidates(formula="C3H7NO2", cache_dir=cache, wait=0.01)
    assert found(result) == PARENTS and len(pubchem_server.paths) == 5
    pubchem_server.busy = 3
    with pytest.raises(ConnectionError, match="too busy.*after 3 tries"):
        tessarin.pubchem_candidates(formula="C3H7NO2", cache_dir=False, wait=0.01, max_retries=2)

    pubchem_server.add("fastformula", "C4H10", {"PropertyTable": {"Properties": []}}, delay=30)
    start = time.monotonic()
    with pytest.raises(TimeoutError):
        tessarin.pubchem_candidates(formula="C4H10", cache_dir=cache, timeout=0.3)
    assert time.monotonic() - start < 5
    pubchem_server.replies.pop(("fastformula", "C4H10"))
    pubchem_server.add_compounds("C4H10", (7843, "CCCC", "Butane"))
    assert found(tessarin.pubchem_candidates(formula="C4H10", cache_dir=cache)) == [("CCCC", 7843, "Butane")]

    with pytest.raises(ValueError, match="not a molecular formula"):
        tessarin.pubchem_candidates(formula="C3H7NO2+", cache_dir=cache)
    with pytest.raises(ValueError, match="formula or a mass"):
        tessarin.pubchem_candidates(cache_dir=cache)
    with pytest.raises(ValueError, match="'Na' is not an element"):
        tessarin.pubchem_candidates(mass=89, elements=["C", "H", "Na"], cache_dir=cache)


def test_a_mass_is_searched_through_the_formulas_it_allows(pubchem_server, tmp_path):
    elements = ["C", "H", "N", "O"]
    formulas = tessarin.candidate_formulas(89, elements, limit=50)
    assert formulas[:2] == ["C4H11NO", "C3H7NO2"] and len(formulas) == 7
    pubchem_server.add_compounds("C3H7NO2", *ALANINES)
    pubchem_server.add_compounds("C4H11NO", (11807, "CC(C)(CO)N", "2-Amino-2-methyl-1-propanol"))
    # A salt found under its own formula has a parent of another mass: dropped.
    pubchem_server.add_compounds("C2H3NO3", (101, "[NH4+].O=CC(=O)[O-]", "ammonium glyoxylate"))

    result = tessarin.pubchem_candidates(mass=89, elements=elements, cache_dir=tmp_path / "c", max_records=5)
    assert result.formulas == formulas and result.formulas_left_out == 0
    assert pubchem_server.search_paths() == [FAST.format(f, 5) for f in formulas]
    # Ascending CID across the formulas; only five records of C3H7NO2 were taken.
    assert found(result) == [
        ("CC(N)C(=O)O", 602, "DL-Alanine"),
        ("CC(C)(N)CO", 11807, "2-Amino-2-methyl-1-propanol"),
    ]
    assert result.truncated == ["C3H7NO2"]
    assert (result.found, result.kept) == (7, 2)
    assert result.dropped == {"duplicates": 2, "salts": 1, "unparsable": 0, "other_formula": 2}

    few = tessarin.pubchem_candidates(mass=89, elements=elements, cache_dir=tmp_path / "c", max_formulas=2)
    assert few.formulas == formulas[:2] and few.formulas_left_out == 5
    assert (few.requests, few.cache_hits) == (2, 0)  # another max_records: other URLs


def nominal_mass(mol):
    return sum(tessarin._nominal_atom_mass(a.GetAtomicNum()) for a in Chem.AddHs(mol).GetAtoms())


@pytest.fixture(scope="module")
def nci_sample():
    """(line, SMILES, name) of the first 400 molecules of the NCI sample, and two that do not parse."""
    rows = []
    with open("/usr/share/RDKit/Data/NCI/first_5K.smi") as f:
        for line_no, line in enumerate(f, 1):
            smiles, _, name = line.rstrip("\n").partition("\t")
            rows.append((smiles, name.strip()))
            if len(rows) == 400:
                break
    rows.insert(7, ("C1CC(", "broken"))
    rows.insert(300, ("[Xx]", "unknown element"))
    return rows


def direct_filter(mols, mass=None, formula=None):
    """The molecules of a mass or formula, read straight from (key, mass, formula) of RDKit Mols in file order."""
    return [key for key, m, f in mols if (mass is None or m == mass) and (formula is None or f == formula)]


def described(keyed_mols):
    return [(key, nominal_mass(mol), rdMolDescriptors.CalcMolFormula(mol)) for key, mol in keyed_mols if mol]


def test_index_of_a_gzip_smiles_file_and_an_sdf_finds_what_filtering_the_file_finds(nci_sample, tmp_path):
    RDLogger.DisableLog("rdApp.*")
    smi = tmp_path / "sample.smi.gz"
    with gzip.open(smi, "wt") as f:
        f.write("SMILES Name\n")
        for smiles, name in nci_sample:
            f.write(f"{smiles}\t{name}\n")
    sdf = tmp_path / "sample.sdf"
    writer = Chem.SDWriter(str(sdf))
    sdf_mols = []
    for smiles, name in nci_sample:
        mol = Chem.MolFromSmiles(smiles)
        if mol is not None:
            mol.SetProp("_Name", name)
            writer.write(mol)
            sdf_mols.append((name, mol))
    writer.close()
    smi_mols = described(((line, smiles), Chem.MolFromSmiles(smiles)) for line, (smiles, _) in enumerate(nci_sample, 2))
    sdf_mols = described(sdf_mols)

    by_smiles = tessarin.CandidateIndex(smi)
    by_sdf = tessarin.CandidateIndex(sdf)
    assert len(by_smiles) == len(nci_sample) - 2 == len(by_sdf)
    assert [(f.line, f.smiles) for f in by_smiles.failed] == [(9, "C1CC("), (302, "[Xx]")]
    masses = {m for _, m, _ in sdf_mols}
    assert len(masses) > 100
    for mass in sorted(masses):
        hits = by_smiles.find(mass=mass)
        assert [(c.line, c.smiles) for c in hits] == direct_filter(smi_mols, mass=mass), mass
        assert [c.name for c in by_sdf.find(mass=mass)] == direct_filter(sdf_mols, mass=mass), mass
        assert {c.nominal_mass for c in hits} == {mass}
    for formula in ("C8H10", "C6H6O", "C7H7NO2", "C10H16"):
        assert [c.name for c in by_sdf.find(formula=formula)] == direct_filter(sdf_mols, formula=formula)
        assert [c.name for c in by_smiles.find(formula=formula, mass=106)] == [
            c.name for c in by_smiles.find(formula=formula) if c.nominal_mass == 106
        ]
    assert by_smiles.find(mass=5000) == [] and by_smiles.find(formula="C99H9") == []

    # rank_candidates keeps the same molecules with the same filter.
    mass = max(masses, key=lambda m: len(by_smiles.find(mass=m)))
    spectrum = tessarin.Spectrum([mass - 15, mass], [50.0, 100.0])
    ranked = tessarin.rank_candidates(spectrum, by_smiles.find(mass=mass).molecules(), jobs=1)
    assert sorted(r.smiles for r in ranked) == sorted(c.smiles for c in by_smiles.find(mass=mass))
    direct = tessarin.rank_candidates(spectrum, smi, mass=mass, jobs=1)
    assert sorted(r.smiles for r in direct) == sorted(r.smiles for r in ranked)


def test_saved_index_is_used_only_for_the_very_file_it_was_made_from(tmp_path):
    path = tmp_path / "lib.smi"
    text = "CCO ethanol\nc1ccccc1 benzene\nCCCC butane\nC1CC( broken\nCC(C)O isopropanol\n*CC* polymer\n"
    path.write_text(text)
    first = tessarin.CandidateIndex(path, save=True)
    saved = tmp_path / "lib.smi.tessarin-index"
    assert first.saved and not first.from_saved and saved.exists() and len(first) == 5
    assert [c.name for c in first.find(formula="C4H10")] == ["butane"]
    again = tessarin.CandidateIndex(path, save=True)
    assert again.from_saved and not again.saved and len(again) == 5
    assert again.find(mass=58) == first.find(mass=58) and [c.name for c in again.find(mass=58)] == ["butane"]
    assert [(f.line, f.reason) for f in again.failed] == [(f.line, f.reason) for f in first.failed] != []
    assert tessarin.CandidateIndex(path).from_saved is False  # not asked to use it

    # The same size, another molecule and modification time: read again, never the stale index.
    stamp = path.stat().st_mtime_ns
    path.write_text(text.replace("CCCC butane", "CCCN propyl"))
    os.utime(path, ns=(stamp, stamp + 1))
    changed = tessarin.CandidateIndex(path, save=True)
    assert not changed.from_saved and changed.saved
    assert changed.find(mass=58) == [] and [c.name for c in changed.find(mass=59)] == ["propyl"]
    assert tessarin.CandidateIndex(path, save=True).from_saved

    # A copy elsewhere (another path) does not use it; a damaged saved index is not used either.
    other = tmp_path / "copy.smi"
    shutil.copy2(path, other)
    shutil.copy2(saved, tmp_path / "copy.smi.tessarin-index")
    assert not tessarin.CandidateIndex(other, save=True).from_saved
    saved.write_bytes(saved.read_bytes()[:-20])
    damaged = tessarin.CandidateIndex(path, save=True)
    assert not damaged.from_saved and [c.name for c in damaged.find(mass=59)] == ["propyl"]
