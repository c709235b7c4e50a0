"""An unknown spectrum from its peaks to a ranked answer: --mass auto in search and identify (command and
Python alike), and identify's candidates from PubChem (the local stand-in) with its reply cache."""

import csv
import gzip
import os
import subprocess
from pathlib import Path

import numpy as np
import pytest

import tessarin
from support.pubchem import pubchem_server  # noqa: F401  (pytest fixture)

ROOT = Path(__file__).resolve().parents[2]

# Isomers and neighbours of three masses (106, 120, 134) and two others.
STRUCTURES = [
    ("ethylbenzene", "CCc1ccccc1"),
    ("o-xylene", "Cc1ccccc1C"),
    ("p-xylene", "Cc1ccc(C)cc1"),
    ("benzaldehyde", "O=Cc1ccccc1"),
    ("propylbenzene", "CCCc1ccccc1"),
    ("mesitylene", "Cc1cc(C)cc(C)c1"),
    ("acetophenone", "CC(=O)c1ccccc1"),
    ("butylbenzene", "CCCCc1ccccc1"),
    ("toluene", "Cc1ccccc1"),
    ("hexanal", "CCCCCC=O"),
]


@pytest.fixture(scope="module")
def cli():
    exe = Path(os.environ.get("TESSARIN_CLI") or ROOT / "build" / "tessarin")
    assert exe.is_file(), f"{exe} is not built"
    return str(exe)


def run(cli, *args):
    return subprocess.run([cli, *map(str, args)], capture_output=True, timeout=300, text=True)


def table(text):
    return list(csv.DictReader(text.splitlines(), delimiter="\t"))


def unknown(smiles, name, seed):
    """A 'measured' spectrum with no metadata but its name: the EI prediction, intensities perturbed."""
    p = tessarin.predict_spectrum(smiles, model="ei")
    rng = np.random.default_rng(seed)
    return tessarin.Spectrum(p.mz, p.intensities * rng.uniform(0.7, 1.3, len(p.mz)), metadata={"name": name})


@pytest.fixture(scope="module")
def files(tmp_path_factory):
    d = tmp_path_factory.mktemp("unknown")
    library = d / "library.msp"
    tessarin.predict_library(STRUCTURES, library, model="ei", jobs=1)
    queries = d / "queries.msp"
    tessarin.write_spectra([unknown("CCc1ccccc1", "q1", 1), unknown("CCCc1ccccc1", "q2", 2)], queries)
    candidates = d / "candidates.smi.gz"
    with gzip.open(candidates, "wt") as f:
        f.write("".join(f"{s} {n}\n" for n, s in STRUCTURES) + "C1CC( broken\n")
    return library, queries, candidates


def test_mass_auto_searches_and_ranks_across_the_plausible_masses_in_command_and_python(cli, files):
    library, queries, candidates = files
    entries = list(tessarin.read_spectra(library))
    spectra = list(tessarin.read_spectra(queries))
    estimates = tessarin.estimate_molecular_mass(spectra, library=library)

    plain = run(cli, "search", queries, "--library", library)
    assert plain.returncode == 0, plain.stderr
    assert plain.stdout.splitlines()[0].split("\t")[-1] == "formula"  # the default table has no mass columns

    result = run(cli, "search", queries, "--library", library, "--mass", "auto", "--top", "4")
    assert result.returncode == 0, result.stderr
    assert result.stdout.splitlines()[0].split("\t")[-3:] == ["mass_hypothesis", "mass_score", "rank_score"]
    rows = table(result.stdout)
    python = tessarin.search_library(spectra, library, top=4, mass="auto", measured_range=True)
    for q, (estimate, found) in enumerate(zip(estimates, python)):
        mine = [r for r in rows if r["query"] == str(q + 1)]
        # Each hit is an entry of the plausible mass it names, the same in the command and in Python, and
        # the rows follow the rank score they show.
        assert [
            (int(r["library_index"]) - 1, r["score"], int(r["mass_hypothesis"]), r["rank_score"]) for r in mine
        ] == [(h.index, f"{h.score:.4f}", h.mass_hypothesis[0], f"{h.rank_score:.4f}") for h in found.hits]
        assert [h.rank_score for h in found.hits] == sorted((h.rank_score for h in found.hits), reverse=True)
        plausible = {h.mass: h.score for h in estimate if h.mass in estimate.plausible}
        for h in found.hits:
            mass, score = h.mass_hypothesis
            assert mass in plausible and score == pytest.approx(plausible[mass])
            assert int(entries[h.index].metadata["mol_mass"]) == mass
    # The ranking across masses takes every entry of each mass: the first hit does not depend on --top.
    first = tessarin.search_library(spectra, library, top=1, mass="auto", measured_range=True)
    assert [r.hits[:1] for r in first] == [r.hits[:1] for r in python]
    assert [r["name"] for r in rows if r["rank"] == "1"] == ["ethylbenzene", "propylbenzene"]
    assert run(cli, "search", queries, "--library", library, "--mass", "106").returncode == 2
    assert run(cli, "search", queries, "--library", library, "--mass", "auto", "--mass-tolerance", "1").returncode == 2

    # identify: the candidates of a gzip file read once into an index, those of the plausible masses kept.
    out = run(cli, "identify", queries, "--candidates", candidates, "--mass", "auto", "--model", "ei", "--jobs", "1")
    assert out.returncode == 1, out.stderr  # the broken line
    assert "plausible molecular masses (the peaks, with the candidates' predictions as evidence): 106" in out.stderr
    rows = table(out.stdout)
    ranking = tessarin.rank_candidates(
        spectra[0], [(n, s) for n, s in STRUCTURES], mass="auto", model="ei", jobs=1, measured_range=True
    )
    assert [(r["name"], r["score"], r["mass_hypothesis"], r["rank_score"]) for r in rows] == [
        (c.name, f"{c.score:.4f}", str(c.mass_hypothesis[0]), f"{c.rank_score:.4f}") for c in ranking
    ]
    assert [c.rank_score for c in ranking] == sorted((c.rank_score for c in ranking), reverse=True)
    assert ranking[0].name == "ethylbenzene" and ranking.filtered_out > 0


def test_identify_mass_auto_lets_the_candidates_choose_a_mass_the_peaks_alone_miss(cli, tmp_path):
    # Dipropyl ether without its molecular ion (m/z 102) and cluster, as ethers often show: the peaks alone
    # put 88 first (102 - CH2, the highest fragment); the candidates' predictions then weigh for 102.
    candidates = [("1-hexanol", "CCCCCCO"), ("2-hexanol", "CCCCC(C)O"), ("3-hexanol", "CCCC(O)CC")]
    candidates += [("1-hexene", "C=CCCCC"), ("cyclohexane", "C1CCCCC1"), ("dipropyl ether", "CCCOCCC")]
    candidates += [("hexanal", "CCCCCC=O"), ("1-pentanol", "CCCCCO"), ("pentanal", "CCCCC=O")]
    p = tessarin.predict_spectrum("CCCOCCC", model="ei")
    keep = p.mz < 99
    noise = np.random.default_rng(1).uniform(0.8, 1.2, keep.sum())
    measured = tessarin.Spectrum(p.mz[keep], p.intensities[keep] * noise, metadata={"name": "unknown"})
    assert tessarin.estimate_molecular_mass(measured)[0].mass == 88
    ranking = tessarin.rank_candidates(measured, candidates, mass="auto", jobs=1)
    assert (ranking[0].name, ranking[0].mass_hypothesis[0]) == ("dipropyl ether", 102)
    spectrum, smi = tmp_path / "unknown.msp", tmp_path / "candidates.smi"
    tessarin.write_spectra([measured], spectrum)
    smi.write_text("".join(f"{s} {n}\n" for n, s in candidates))
    out = run(cli, "identify", spectrum, "--candidates", smi, "--mass", "auto", "--jobs", "1")
    assert out.returncode == 0, out.stderr
    assert [(r["name"], r["mass_hypothesis"]) for r in table(out.stdout)][:1] == [("dipropyl ether", "102")]


def test_identify_asks_pubchem_for_the_formula_once_and_reruns_from_the_cache(cli, files, pubchem_server, tmp_path):
    _, queries, _ = files
    pubchem_server.add_compounds(
        "C8H10",
        (7500, "CCC1=CC=CC=C1", "Ethylbenzene"),
        (7237, "CC1=CC=CC=C1C", "o-Xylene"),
        (7809, "CC1=CC=C(C=C1)C", "p-Xylene"),
        (999001, "C1=CC=C(C=C1)CC", "Ethylbenzene, another record"),
        (999002, "C1CC(", "broken record"),
    )
    cache = tmp_path / "cache"
    args = ("identify", queries, "--candidates", "pubchem", "--formula", "C8H10", "--model", "ei", "--jobs", "1")
    args += ("--pubchem-rest", pubchem_server.base, "--pubchem-cache", cache)
    first = run(cli, *args)
    assert first.returncode == 0, first.stderr
    assert "5 compounds found for 1 formulas, 3 candidates kept (1 duplicates, 0 salts or charged forms, 1 unread" in (
        first.stderr
    )
    assert "1 requests, 0 formulas from the cache" in first.stderr
    rows = table(first.stdout)
    assert [r["name"] for r in rows][0] == "Ethylbenzene" and len(rows) == 3
    assert {r["smiles"] for r in rows} == {"CCc1ccccc1", "Cc1ccccc1C", "Cc1ccc(C)cc1"}
    assert len(pubchem_server.search_paths()) == 1

    again = run(cli, *args)
    assert again.returncode == 0 and again.stdout == first.stdout
    assert "0 requests, 1 formulas from the cache" in again.stderr and len(pubchem_server.search_paths()) == 1

    # A service that fails is said so; nothing is ranked.
    failed = run(cli, *args[:-4], "--pubchem-rest", pubchem_server.base + "/nowhere", "--pubchem-cache", cache)
    assert failed.returncode == 2 and "PubChem" in failed.stderr and failed.stdout == ""
    assert run(cli, "identify", queries, "--candidates", "pubchem").returncode == 2  # no formula or mass

    # --mass auto: PubChem's compounds of every formula of the plausible masses of the peaks (30: C2H6 and
    # CH2O), ranked across them with their predictions as the evidence of each mass.
    pubchem_server.add_compounds("C2H6", (6324, "CC", "Ethane"))
    pubchem_server.add_compounds("CH2O", (712, "C=O", "Formaldehyde"))
    ethane = tmp_path / "ethane.msp"
    tessarin.write_spectra([unknown("CC", "unknown", 4)], ethane)
    auto = run(cli, "identify", ethane, "--candidates", "pubchem", "--mass", "auto", *args[6:])
    assert auto.returncode == 0, auto.stderr
    assert "plausible molecular masses of the peaks: 30" in auto.stderr and "for 2 formulas" in auto.stderr
    assert [(r["name"], r["mass_hypothesis"]) for r in table(auto.stdout)] == [("Ethane", "30"), ("Formaldehyde", "30")]


def test_explain_names_the_ions_of_each_measured_peak_and_the_strong_peaks_nothing_explains(cli, tmp_path):
    base = unknown("CCc1ccccc1", "ethylbenzene", 3)
    strongest = float(base.intensities.max())
    # A strong peak the model cannot explain: m/z 44 at half the base peak (no ion of C8H10 has mass 44).
    mz = list(base.mz) + [44.0]
    intensities = list(base.intensities) + [strongest / 2]
    order = sorted(range(len(mz)), key=mz.__getitem__)
    measured = tessarin.Spectrum([mz[k] for k in order], [intensities[k] for k in order], metadata={"name": "x"})
    why = tessarin.explain(measured, "CCc1ccccc1", plot=tmp_path / "py.png")
    assert (tmp_path / "py.png").stat().st_size > 0
    by_mz = {p.mz: p for p in why.peaks}
    molecular = by_mz[106.0].ions[0]
    assert (molecular.formula, molecular.isotope_offset, molecular.molecular) == ("C8H10", 0, True)
    assert molecular.reasons and all(" " in r for r in molecular.reasons)
    assert any(i.formula == "C8H10" and i.isotope_offset == 1 for i in by_mz[107.0].ions)
    assert [p.mz for p in why.unexplained] == [44.0] and by_mz[44.0].ions == ()
    total = sum(p.intensity for p in why.peaks)
    assert why.explained_share == pytest.approx(sum(p.intensity for p in why.peaks if p.ions) / total)
    assert 0 < why.explained_share < 1 and why.score == pytest.approx(
        tessarin.similarity(measured, why.predicted, intensity_power=0.5, measured_range=True).score
    )

    path = tmp_path / "x.msp"
    tessarin.write_spectra([measured], path)
    result = run(cli, "explain", path, "--smiles", "CCc1ccccc1", "--plot", tmp_path / "cli.png")
    assert result.returncode == 0, result.stderr
    rows = table(result.stdout)
    assert [(float(r["mz"]), r["intensity"]) for r in rows] == [(p.mz, f"{p.relative:.1f}") for p in why.peaks]
    assert rows[[float(r["mz"]) for r in rows].index(106.0)]["ions"].startswith("C8H10 (M)")
    assert f"explained {100 * why.explained_share:.1f} % of the measured intensity" in result.stderr
    assert "strong peaks nothing explains: m/z 44 (50.0 %)" in result.stderr
    assert (tmp_path / "cli.png").stat().st_size > 0
    # A plot that cannot be drawn (its interpreter fails) is said so and exits 1, the table written whole.
    env = dict(os.environ, TESSARIN_PYTHON="/bin/false")
    no_plot = subprocess.run(
        [cli, "explain", str(path), "--smiles", "CCc1ccccc1", "--plot", str(tmp_path / "none.png")],
        capture_output=True,
        timeout=300,
        text=True,
        env=env,
    )
    assert no_plot.returncode == 1 and no_plot.stdout == result.stdout
    assert "tessarin: the plot was not drawn" in no_plot.stderr and not (tmp_path / "none.png").exists()
    assert run(cli, "explain", path, "--smiles", "C1CC(").returncode == 2
    with pytest.raises(ValueError):
        tessarin.explain(measured, "C1CC(")
