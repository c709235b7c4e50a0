"""The tessarin command's identify, search and evaluate: the same answers as the Python functions, the error
files, the exit statuses."""

import csv
import os
import subprocess
from pathlib import Path

import numpy as np
import pytest

import tessarin
from tessarin import Spectrum

ROOT = Path(__file__).resolve().parents[2]

ESTERS = [
    ("methyl butanoate", "CCCC(=O)OC"),
    ("ethyl propanoate", "CCOC(=O)CC"),
    ("propyl acetate", "CCCOC(=O)C"),
    ("broken", "C1CC"),
    ("ethyl acetate", "CCOC(=O)C"),
    ("methyl propanoate", "CCC(=O)OC"),
]


@pytest.fixture(scope="module")
def cli():
    exe = Path(os.environ.get("TESSARIN_CLI") or ROOT / "build" / "tessarin")
    assert exe.is_file(), f"{exe} is not built"
    return str(exe)


def run(cli, *args, timeout=300):
    return subprocess.run([cli, *map(str, args)], capture_output=True, timeout=timeout, text=True)


def table(text):
    return list(csv.DictReader(text.splitlines(), delimiter="\t"))


def measured_like(smiles, name):
    """A 'measured' spectrum: the predicted peaks with other intensities, plus a peak the prediction lacks."""
    p = tessarin.predict_spectrum(smiles)
    mz = np.append(p.mz, 29.0)
    return Spectrum(
        mz,
        np.linspace(200, 999, len(mz)),
        metadata={"name": name, "smiles": smiles, "mol_mass": p.metadata["mol_mass"]},
    )


def test_identify_ranks_like_rank_candidates_filters_and_plots(cli, tmp_path):
    spectrum = tmp_path / "unknown.msp"
    tessarin.write_spectra([measured_like("CCOC(=O)C", "x"), measured_like("CCOC(=O)CC", "unknown")], spectrum)
    candidates = tmp_path / "candidates.tsv"
    candidates.write_text("name\tsmiles\n" + "".join(f"{n}\t{s}\n" for n, s in ESTERS))
    out = tmp_path / "ranking.tsv"

    result = run(cli, "identify", spectrum, "--record", "2", "--candidates", candidates, "-o", out, "--jobs", "2")
    assert result.returncode == 1 and "1 candidates could not be predicted" in result.stderr  # the broken one
    measured = list(tessarin.read_spectra(spectrum))[1]
    expected = tessarin.rank_candidates(measured, [(n, s) for n, s in ESTERS])
    rows = table(out.read_text())
    assert [(r["rank"], r["score"], r["matched"], r["name"], r["smiles"], r["formula"]) for r in rows] == [
        (str(e.rank), f"{e.score:.4f}", str(e.matched), e.name, e.smiles, e.formula) for e in expected
    ]
    assert rows[0]["name"] == "ethyl propanoate"
    errors = table((tmp_path / "ranking.tsv.errors.tsv").read_text())
    assert [(e["line"], e["smiles"]) for e in errors] == [("5", "C1CC")]

    # Only the spectrum's molecular mass (102), to standard output, the best two drawn.
    plot = tmp_path / "best.png"
    result = run(
        cli,
        "identify",
        spectrum,
        "--record",
        "2",
        "--candidates",
        candidates,
        "--same-mass",
        "--top",
        "2",
        "--plot",
        plot,
        "--plot-count",
        "2",
    )
    assert result.returncode == 1, result.stderr  # still the broken candidate, now on standard error
    rows = table(result.stdout)
    assert [r["smiles"] for r in rows] == [e.smiles for e in expected if e.spectrum.metadata["mol_mass"] == "102"][:2]
    assert "C1CC" in result.stderr
    assert plot.read_bytes()[:8] == b"\x89PNG\r\n\x1a\n"

    formula = run(cli, "identify", spectrum, "--candidates", candidates, "--formula", "C4H8O2", "--top", "1")
    assert table(formula.stdout)[0]["formula"] == "C4H8O2"

    for args, message in [
        (["--mass", "88", "--same-mass"], "excludes"),
        (["--formula", "C4H8O2+"], "--formula"),
        (["--record", "3"], "holds only 2 spectra"),
    ]:
        bad = run(cli, "identify", spectrum, "--candidates", candidates, *args)
        assert bad.returncode == 2 and message in bad.stderr, (args, bad.stderr)
    no_mass = tmp_path / "no_mass.msp"
    tessarin.write_spectra([Spectrum([43, 88], [999, 100], metadata={"name": "no mass"})], no_mass)
    bad = run(cli, "identify", no_mass, "--candidates", candidates, "--same-mass")
    assert bad.returncode == 2 and "no molecular mass" in bad.stderr


def test_search_hits_equal_search_library_and_broken_records_go_to_the_error_file(cli, tmp_path):
    library = [tessarin.predict_spectrum(s, ring_fragmentation=True) for _, s in ESTERS if s != "C1CC"]
    library += [tessarin.predict_spectrum(s) for s in ("ClCCO", "ClCCCCO", "OCCOCCO", "c1ccccc1CCl")]
    for k, s in enumerate(library):
        s.metadata["name"] = f"entry {k}"
    lib_path = tmp_path / "lib.msp"
    tessarin.write_spectra(library, lib_path)
    with open(lib_path, "a") as f:
        f.write("Name: broken entry\nNum Peaks: 2\n15 7\n\n")
    queries = [measured_like(s, n) for n, s in ESTERS if s != "C1CC"] + [measured_like("ClCCCCO", "chlorobutanol")]
    q1, q2 = tmp_path / "q1.mgf", tmp_path / "q2.jsonl"
    tessarin.write_spectra(queries[:3], q1)
    tessarin.write_spectra(queries[3:], q2)
    out = tmp_path / "hits.tsv"

    result = run(cli, "search", q1, q2, "--library", lib_path, "--top", "3", "--method", "composite", "-o", out)
    assert result.returncode == 1, result.stderr  # the broken library entry
    expected = tessarin.search_library(queries, library, top=3, method="composite", measured_range=True)
    rows = table(out.read_text())
    assert [(r["query"], r["query_name"], r["rank"], r["library_index"], r["score"], r["name"]) for r in rows] == [
        (str(q + 1), queries[q].name, str(k + 1), str(h.index + 1), f"{h.score:.4f}", f"entry {h.index}")
        for q, res in enumerate(expected)
        for k, h in enumerate(res.hits)
    ]
    errors = table((tmp_path / "hits.tsv.errors.tsv").read_text())
    assert len(errors) == 1 and errors[0]["file"] == str(lib_path) and "Num Peaks" in errors[0]["reason"]

    clean_lib = tmp_path / "clean.msp"
    tessarin.write_spectra(library, clean_lib)
    ok = run(cli, "search", q1, "--library", clean_lib, "--top", "1", "--mass-tolerance", "0.5")
    assert ok.returncode == 0 and ok.stderr == ""
    assert [r["name"] for r in table(ok.stdout)] == [f"entry {k}" for k in range(3)]  # each query's own structure
    missing = run(cli, "search", tmp_path / "none.msp", "--library", clean_lib)
    assert missing.returncode == 2 and "none.msp" in missing.stderr


def test_evaluate_reports_what_evaluate_computes(cli, tmp_path):
    spectra = [measured_like(s, n) for n, s in ESTERS if s != "C1CC"]
    spectra.append(Spectrum([10, 20], [1, 2], metadata={"name": "no structure"}))
    path = tmp_path / "measured.jsonl"
    tessarin.write_spectra(spectra, path)
    out = tmp_path / "evaluation.tsv"

    result = run(cli, "evaluate", path, "-o", out, "--jobs", "2", "--ring")
    assert result.returncode == 1  # the spectrum without SMILES
    ev = tessarin.evaluate(spectra, ring_fragmentation=True)
    assert result.stdout == ev.report
    rows = table(out.read_text())
    assert len(rows) == 6 and rows[5]["error"] == "no SMILES" and rows[5]["score"] == ""
    for k, (row, mine) in enumerate(zip(rows[:5], ev.spectra[:5])):
        assert row["name"] == mine["name"] and row["candidates"] == str(mine["candidates"])
        assert row["score"] == f"{mine['score']:.4f}" and row["recall_at_5"] == f"{mine['recall_at_5']:.4f}"
        assert float(row["rank"]) == mine["rank"] and (row["file"], row["line"]) == (str(path), str(k + 1))
    assert "candidates       2.6 on average" in result.stdout  # three of mass 102, two of 88
