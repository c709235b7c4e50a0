"""What a user of the command line meets when there is nothing to do or something is wrong: one plain line on
standard error and exit status 2 before any work, never a traceback; RDKit's own reason for a molecule that
fails; a SMILES file's whole name."""

import csv
import json
import os
import subprocess
import sys
import time
from pathlib import Path

import pytest
from rdkit import RDLogger

import tessarin
from tessarin import Spectrum

ROOT = Path(__file__).resolve().parents[2]
PYTHON = str(ROOT / ".venv" / "bin" / "python") if (ROOT / ".venv" / "bin" / "python").exists() else sys.executable


@pytest.fixture(scope="module")
def cli():
    exe = Path(os.environ.get("TESSARIN_CLI") or ROOT / "build" / "tessarin")
    assert exe.is_file(), f"{exe} is not built"
    return str(exe)


def run(command, *args, timeout=300):
    return subprocess.run([*command, *map(str, args)], capture_output=True, timeout=timeout, text=True)


@pytest.fixture(scope="module")
def files(tmp_path_factory):
    d = tmp_path_factory.mktemp("messages")
    measured = tessarin.predict_spectrum("CCOC(=O)CC", model="ei")
    measured.metadata.update(name="unknown", smiles="CCOC(=O)CC")
    tessarin.write_spectra([measured], d / "unknown.msp")
    (d / "candidates.smi").write_text("CCOC(=O)CC ethyl propanoate\nCCCC(=O)OC methyl butanoate\n")
    (d / "empty.smi").write_text("# no molecule here\n\n")
    (d / "empty.msp").write_text("")
    tessarin.predict_library(["CCOC(=O)CC", "CCCC(=O)OC", "CCO"], d / "library.msp", model="ei")
    return d


NOTHING_TO_DO = [
    # (arguments, what the one line says); {d} is the directory of the files
    (["identify", "{d}/unknown.msp", "--candidates", "{d}/candidates.smi", "--mass", "500"], "none of the 2"),
    (["identify", "{d}/unknown.msp", "--candidates", "{d}/empty.smi"], "empty.smi holds no molecule"),
    (["identify", "{d}/empty.msp", "--candidates", "{d}/candidates.smi"], "empty.msp holds no spectrum"),
    (["identify", "{d}/unknown.msp", "--record", "2", "--candidates", "{d}/candidates.smi"], "holds only 1 spectrum"),
    (["search", "{d}/unknown.msp", "--library", "{d}/empty.msp"], "library {d}/empty.msp holds no spectrum"),
    (["search", "{d}/empty.msp", "--library", "{d}/library.msp"], "empty.msp holds no spectrum"),
    (["evaluate", "{d}/empty.msp"], "the files hold no spectrum"),
    (["predict", "{d}/empty.smi"], "nothing to predict: {d}/empty.smi holds no molecule"),
    (
        ["identify", "{d}/unknown.msp", "--candidates", "{d}/candidates.smi", "--plot", "/nonexistent/dir/p.png"],
        "--plot: cannot write /nonexistent/dir/p.png: no such directory /nonexistent/dir",
    ),
    (["identify", "{d}/unknown.msp", "--candidates", "{d}/candidates.smi", "--plot", "{d}"], "it is a directory"),
    (["explain", "{d}/unknown.msp", "--smiles", "CCO", "--plot", "{d}"], "it is a directory"),
    (["help", "nosuch"], "unknown command 'nosuch'"),
]


@pytest.mark.parametrize("args, message", NOTHING_TO_DO, ids=lambda v: " ".join(v[:2]) if isinstance(v, list) else "")
def test_nothing_to_do_is_one_line_and_exit_status_2(cli, files, args, message):
    out = files / "out.tsv"
    out.unlink(missing_ok=True)
    args = [a.format(d=files) for a in args]
    if args[0] != "help":
        args += ["-o", out]
    started = time.monotonic()
    result = run([cli], *args)
    lines = result.stderr.splitlines()
    assert result.returncode == 2, (args, result.stderr)
    assert lines and lines[0].startswith("tessarin: ") and message.format(d=files) in lines[0], lines
    assert "Traceback" not in result.stderr and result.stdout == ""
    assert not out.exists() or out.read_text() == "", "a table was begun where nothing was done"
    if "--plot" in args:  # refused before any candidate was predicted: no table, at once
        assert not out.exists() and time.monotonic() - started < 10


def test_python_entry_points_say_failures_in_one_line(files, tmp_path):
    wrong = run([PYTHON, "-m", "tessarin", "--frobnicate"])
    assert wrong.returncode == 2 and "unexpected argument '--frobnicate'" in wrong.stderr
    assert "Traceback" not in wrong.stderr
    # The plot drawer the command runs: a file without predictions, an unwritable output.
    pair = tmp_path / "pair.msp"
    tessarin.write_spectra(list(tessarin.read_spectra(files / "unknown.msp")) * 2, pair)
    for spectra, message in [(files / "unknown.msp", "holds no predicted spectrum"), (pair, "No such file")]:
        plot = run([PYTHON, "-m", "tessarin.figures.mirror_file", spectra, "/nonexistent/p.png"])
        assert plot.returncode == 1 and len(plot.stderr.splitlines()) == 1 and message in plot.stderr, plot.stderr


def test_top_0_means_every_hit_and_every_candidate(cli, files):
    every = run([cli], "search", files / "unknown.msp", "--library", files / "library.msp", "--top", "0")
    many = run([cli], "search", files / "unknown.msp", "--library", files / "library.msp", "--top", "1000")
    assert every.returncode == 0 and every.stdout == many.stdout and len(every.stdout.splitlines()) == 1 + 3
    hits = tessarin.search_library(files / "unknown.msp", files / "library.msp", top=0)
    assert len(hits[0].hits) == 3
    ranked = run([cli], "identify", files / "unknown.msp", "--candidates", files / "candidates.smi", "--top", "0")
    assert ranked.returncode == 0 and len(ranked.stdout.splitlines()) == 1 + 2


def test_same_mass_takes_the_mass_of_a_jcamp_formula(cli, files, tmp_path):
    jdx = tmp_path / "unknown.jdx"
    jdx.write_text(
        "##TITLE=unknown\n##JCAMP-DX=4.24\n##DATA TYPE=MASS SPECTRUM\n##MOLFORM=C 5 H 10 O 2\n"
        "##NPOINTS=3\n##PEAK TABLE=(XY..XY)\n29,100 57,999 102,80\n##END=\n"
    )
    candidates = tmp_path / "candidates.smi"
    candidates.write_text("CCOC(=O)CC ethyl propanoate\nCCOC(=O)C ethyl acetate\nCCCCCC(=O)O hexanoic acid\n")
    result = run([cli], "identify", jdx, "--candidates", candidates, "--same-mass")
    assert result.returncode == 0, result.stderr
    rows = list(csv.DictReader(result.stdout.splitlines(), delimiter="\t"))
    assert [r["name"] for r in rows] == ["ethyl propanoate"]  # C5H10O2: 102; the others 88 and 116
    spectrum = next(tessarin.read_spectra(jdx))
    assert [r.name for r in tessarin.rank_candidates(spectrum, candidates, mass="molecular_ion")] == [
        "ethyl propanoate"
    ]


def test_failures_carry_rdkits_reason_per_molecule_and_names_keep_tabs(cli, tmp_path):
    # Many failing molecules of different kinds on two threads: each reason is its own molecule's.
    broken = [f"C{k}CC" for k in range(1, 8)] + [f"CC({'C' * k}" for k in range(1, 8)] + ["C[Xx]C"]
    smi = tmp_path / "mixed.smi"
    lines = []
    for k, s in enumerate(broken):
        lines += [f"{s}\tbroken {k}", "CCO\tethyl\talcohol name"]
    smi.write_text("\n".join(lines) + "\n")
    out = tmp_path / "mixed.jsonl"
    result = run([cli], "predict", smi, "-o", out, "--jobs", "2")
    assert result.returncode == 1 and "Traceback" not in result.stderr
    reasons = {r["smiles"]: r["reason"] for r in csv.DictReader(open(f"{out}.errors.tsv"), delimiter="\t")}
    assert set(reasons) == set(broken)
    for s, reason in reasons.items():
        kind = "unclosed ring" if s[1].isdigit() else "extra open parentheses" if "(" in s else "syntax error"
        assert reason.startswith("SMILES Parse Error: " + kind) and f"'{s}'" in reason, (s, reason)
    names = {json.loads(line)["name"] for line in out.read_text().splitlines()}
    assert names == {"ethyl\talcohol name"}

    # identify's errors file, and rank_candidates given an open file of SMILES.
    spectrum = tmp_path / "one.msp"
    tessarin.write_spectra([Spectrum([29, 45, 46], [300, 999, 200], metadata={"name": "x"})], spectrum)
    ranking = tmp_path / "ranking.tsv"
    result = run([cli], "identify", spectrum, "--candidates", smi, "-o", ranking, "--jobs", "2")
    assert result.returncode == 1
    rows = list(csv.DictReader(open(f"{ranking}.errors.tsv"), delimiter="\t"))
    assert {r["smiles"]: r["reason"] for r in rows} == reasons
    assert {r["name"] for r in csv.DictReader(open(ranking), delimiter="\t")} == {"ethyl alcohol name"}
    RDLogger.EnableLog("rdApp.error")  # RDKit says why only when its error log is on
    with open(smi) as stream:
        ranked = tessarin.rank_candidates(next(tessarin.read_spectra(spectrum)), stream, jobs=2)
    assert {r.name for r in ranked} == {"ethyl\talcohol name"} and len(ranked) == len(broken)
    assert {f.smiles: f.reason for f in ranked.failed} == reasons
