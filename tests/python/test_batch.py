"""predict_library: spectra from any iterable, in input order, failures in place, files and argument checks."""

import json
import os
import signal
import subprocess
import sys
import time
from pathlib import Path

import pytest

import tessarin


def test_spectra_come_back_in_input_order_with_failures_in_place():
    def molecules():  # a generator works as well as a list
        yield "CCO"
        yield ("acetone", "CC(=O)C")
        yield "C1CC"
        yield ["star", "C*"]
        yield "c1ccccc1[N+](=O)[O-]"

    spectra = tessarin.predict_library(molecules(), jobs=3)
    assert [s["line"] for s in spectra] == [1, 2, 3, 4, 5]
    assert [s["name"] for s in spectra] == ["", "acetone", "", "star", ""]
    assert spectra[2] == {
        "line": 3,
        "name": "",
        "smiles": "C1CC",
        "error": "SMILES Parse Error: unclosed ring for input: 'C1CC'",
    }
    assert "element" in spectra[3]["error"]
    for s in (spectra[0], spectra[1], spectra[4]):
        a = tessarin.VIF(s["smiles"], draw=False, verbose=False)
        assert s["mol_mass"] == a["mol_mass"]
        assert s["lpi"]["n+"] == a["lpi"]["n+"] and s["lpi"]["n-"] == a["lpi"]["n-"]
        mzs = {a["mol_mass"]} | {t[2] for f in a["fragments"] if f["split"] for t in f["fragments"]}
        assert [p["mz"] for p in s["peaks"]] == sorted(mzs)
        assert [p["intensity"] for p in s["peaks"]] == [999 if p["mz"] == a["mol_mass"] else 599 for p in s["peaks"]]
    assert spectra[4]["formula"] == "C6H5NO2"


def test_writing_a_file_returns_a_summary(tmp_path):
    out = tmp_path / "lib.jsonl"
    summary = tessarin.predict_library(["CCO", "C1CC", "CCN"], output=out, fmt="jsonl", jobs=2)
    assert summary == {"written": 2, "failed": 1, "errors": str(out) + ".errors.tsv"}
    lines = out.read_text().splitlines()
    assert [json.loads(line)["smiles"] for line in lines] == ["CCO", "CCN"]
    assert (
        tmp_path / "lib.jsonl.errors.tsv"
    ).read_text() == "line\tsmiles\treason\n2\tC1CC\tSMILES Parse Error: unclosed ring for input: 'C1CC'\n"
    assert tessarin.predict_library(["C"], output=str(tmp_path / "m.msp")) == {
        "written": 1,
        "failed": 0,
        "errors": None,
    }
    assert (tmp_path / "m.msp").read_text().startswith("Name: C\nFormula: CH4\nMW: 16\n")
    assert tessarin.predict_library([]) == []


def test_bad_arguments_raise_python_exceptions(tmp_path):
    with pytest.raises(TypeError, match="one string"):
        tessarin.predict_library("CCO")
    with pytest.raises(TypeError, match="iterable"):
        tessarin.predict_library(42)
    with pytest.raises(TypeError, match="molecule 2"):
        tessarin.predict_library(["CCO", ("a", "b", "c")])
    with pytest.raises(TypeError, match="molecule 1"):
        tessarin.predict_library([b"CCO"])
    with pytest.raises(ValueError, match="fmt"):
        tessarin.predict_library(["CCO"], fmt="sdf")
    with pytest.raises(ValueError, match="jobs"):
        tessarin.predict_library(["CCO"], jobs=0)
    with pytest.raises(TypeError, match="jobs"):
        tessarin.predict_library(["CCO"], jobs=1.5)
    with pytest.raises(FileNotFoundError, match="x.msp"):
        tessarin.predict_library(["CCO"], output=tmp_path / "missing" / "x.msp")


def test_recursive_peaks_come_with_their_generations():
    plain = tessarin.predict_library(["ClCC(=O)OCC"])[0]
    deep = tessarin.predict_library(["ClCC(=O)OCC"], recursive_ms=True)[0]
    a = tessarin.VIF("ClCC(=O)OCC", draw=False, verbose=False, recursive_ms=True)
    assert plain["recursive_peaks"] is None
    assert [(p["mz"], p["formula"], p["generation"]) for p in deep["recursive_peaks"]] == [
        (mz, v["formula"], v["generation"]) for mz, v in a["recursive_peaks"].items()
    ]
    assert {p["mz"] for p in deep["peaks"]} == {p["mz"] for p in plain["peaks"]} | set(a["recursive_peaks"])


def test_ctrl_c_raises_keyboard_interrupt_and_leaves_a_valid_file(tmp_path):
    out = tmp_path / "nci.jsonl"
    script = (
        "import signal, sys, tessarin\n"
        "signal.signal(signal.SIGINT, signal.default_int_handler)\n"  # even when started with SIGINT ignored
        "smiles = [l.split()[0] for l in open('/usr/share/RDKit/Data/NCI/first_5K.smi')]\n"
        "try:\n"
        f"    tessarin.predict_library(smiles, output={str(out)!r}, fmt='jsonl', jobs=2)\n"
        "except KeyboardInterrupt:\n"
        "    sys.exit(42)\n"
    )
    root = Path(__file__).resolve().parents[2]
    # The child imports the same build of the package as this process, in the same environment.
    package_root = str(Path(tessarin.__file__).parent.parent)
    proc = subprocess.Popen(
        [sys.executable, "-c", script], cwd=root, env={**os.environ, "PYTHONPATH": package_root}, stderr=subprocess.PIPE
    )
    deadline = time.time() + 60
    while time.time() < deadline and (not out.exists() or out.stat().st_size < 20000):
        time.sleep(0.05)
    proc.send_signal(signal.SIGINT)
    proc.communicate(timeout=120)
    assert proc.returncode == 42
    lines = out.read_text().splitlines()
    assert 0 < len(lines) < 4999
    assert [json.loads(line)["line"] for line in lines] == list(range(1, len(lines) + 1))
