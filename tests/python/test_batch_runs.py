"""Batch runs that survive signals, hard kills, dead workers, slow depictions and inputs as people have them."""

import csv
import gzip
import io
import json
import os
import random
import signal
import subprocess
import sys
import time
from pathlib import Path

import pytest

import support
import tessarin

ROOT = Path(__file__).resolve().parents[2]
NCI_LINES = Path(support.NCI_SMILES).read_text().splitlines()


@pytest.fixture(scope="module")
def cli():
    exe = Path(os.environ.get("TESSARIN_CLI") or ROOT / "build" / "tessarin")
    assert exe.is_file(), f"{exe} is not built"
    return str(exe)


@pytest.fixture(scope="module")
def sample(tmp_path_factory):
    """The first 240 NCI molecules, with one that fails on line 7."""
    lines = NCI_LINES[:240]
    lines[6] = "C1CC\tbroken"
    path = tmp_path_factory.mktemp("sample") / "nci.smi"
    path.write_text("\n".join(lines) + "\n")
    return path


def msp_records(text):
    """The records of an MSP file; fails on a record that is not whole."""
    records = []
    for block in text.split("\n\n"):
        if not block:
            continue
        rows = block.split("\n")
        assert rows[0].startswith("Name: "), block
        count = int(next(r for r in rows if r.startswith("Num Peaks: "))[11:])
        assert len(rows) == rows.index(f"Num Peaks: {count}") + 1 + count, block
        records.append(block)
    assert text == "" or text.endswith("\n\n")
    return records


def done_lines(out, fmt):
    """The input lines a stopped run finished: its output records and error rows, which must be a prefix."""
    text = out.read_text()
    if fmt == "jsonl":
        lines = [json.loads(row)["line"] for row in text.splitlines()]
    else:
        lines = [None] * len(msp_records(text))
    errors = Path(str(out) + ".errors.tsv")
    failed = [int(row.split("\t")[0]) for row in errors.read_text().splitlines()[1:]] if errors.exists() else []
    return len(lines) + len(failed), lines, failed


def reference(cli, sample, tmp_path, fmt, *options):
    out = tmp_path / f"reference.{fmt}"
    proc = subprocess.run(
        [cli, "predict", str(sample), "-o", str(out), "--format", fmt, "-j", "2", *options],
        capture_output=True,
        timeout=300,
    )
    assert proc.returncode == 1, proc.stderr  # line 7 fails
    return out


def test_signals_at_random_moments_leave_whole_records_and_say_which_signal(cli, sample, tmp_path):
    rng = random.Random(16)
    for run in range(9):
        sig = (signal.SIGINT, signal.SIGTERM, signal.SIGHUP)[run % 3]
        fmt = ("jsonl", "msp")[run % 2]
        out = tmp_path / f"run{run}.{fmt}"
        proc = subprocess.Popen(
            [cli, "predict", str(sample), "-o", str(out), "--format", fmt, "-j", "2"], stderr=subprocess.PIPE
        )
        time.sleep(rng.uniform(0.05, 1.5))
        proc.send_signal(sig)
        _, err = proc.communicate(timeout=60)
        if not out.exists():  # stopped while starting, before the output was made
            assert proc.returncode in (-sig, 128 + sig)
            continue
        n, lines, failed = done_lines(out, fmt)
        if proc.returncode in (0, 1):  # finished before the signal came
            assert n == 240
            continue
        assert proc.returncode == 128 + sig, err
        assert signal.Signals(sig).name.encode() in err
        assert n < 240
        if fmt == "jsonl":
            assert sorted(lines + failed) == list(range(1, n + 1))


def test_a_stop_the_moment_the_output_appears_is_still_caught(cli, sample, tmp_path):
    # The output is begun only once a stop is caught, so a run never dies of the signal with a file begun.
    for fmt in ("jsonl", "msp"):
        out = tmp_path / f"early.{fmt}"
        proc = subprocess.Popen(
            [cli, "predict", str(sample), "-o", str(out), "--format", fmt, "-j", "2"], stderr=subprocess.PIPE
        )
        while not out.exists() and proc.poll() is None:
            pass
        proc.send_signal(signal.SIGHUP)
        _, err = proc.communicate(timeout=60)
        assert proc.returncode == 128 + signal.SIGHUP and b"SIGHUP" in err, (proc.returncode, err)
        assert done_lines(out, fmt)[0] < 240


@pytest.mark.parametrize("fmt", ["msp", "csv"])
def test_resume_after_a_hard_kill_gives_the_uninterrupted_file(cli, sample, tmp_path, fmt):
    expected = reference(cli, sample, tmp_path, fmt)
    out = tmp_path / f"lib.{fmt}"
    base = [cli, "predict", str(sample), "-o", str(out), "--format", fmt, "-j", "2"]
    rng = random.Random(fmt)
    for attempt in range(3):
        proc = subprocess.Popen(base + (["--resume"] if attempt else []), stderr=subprocess.DEVNULL)
        time.sleep(rng.uniform(0.2, 1.0))
        proc.kill()
        proc.wait()
        with open(out, "ab") as f:  # as a kill in the middle of a write leaves it
            f.write(b"Name: half a rec" if fmt == "msp" else b"999,half")
    proc = subprocess.run(base + ["--resume"], capture_output=True, timeout=300)
    assert proc.returncode == 1, proc.stderr
    assert out.read_bytes() == expected.read_bytes()
    assert Path(str(out) + ".errors.tsv").read_bytes() == Path(str(expected) + ".errors.tsv").read_bytes()

    refused = subprocess.run(base + ["--resume", "--ring"], capture_output=True, timeout=60)
    assert refused.returncode == 2
    assert b"cannot resume" in refused.stderr and b"ring" in refused.stderr
    assert out.read_bytes() == expected.read_bytes()


def worker_pids(pid):
    children = Path(f"/proc/{pid}/task/{pid}/children")
    return [int(p) for p in children.read_text().split()] if children.exists() else []


def test_a_worker_killed_mid_molecule_costs_that_molecule_only(cli, sample, tmp_path):
    expected = msp_records(reference(cli, sample, tmp_path, "msp").read_text())
    out = tmp_path / "lib.msp"
    proc = subprocess.Popen([cli, "predict", str(sample), "-o", str(out), "-j", "1"], stderr=subprocess.PIPE)
    deadline = time.monotonic() + 60
    while not (out.exists() and out.stat().st_size > 20000) and time.monotonic() < deadline:
        time.sleep(0.02)
    (worker,) = worker_pids(proc.pid)
    os.kill(worker, signal.SIGKILL)
    _, err = proc.communicate(timeout=300)
    assert proc.returncode == 1, err
    rows = Path(str(out) + ".errors.tsv").read_text().splitlines()[1:]
    assert len(rows) == 2 and rows[0].startswith("7\t")
    assert "worker process died" in rows[1] and "signal 9" in rows[1]
    got = msp_records(out.read_text())
    assert len(got) == len(expected) - 1 and all(record in expected for record in got)


def test_a_time_limit_holds_inside_the_depiction(cli, tmp_path):
    # CoordGen takes many seconds over a long chain and never looks at the clock.
    sample = tmp_path / "slow.smi"
    sample.write_text("C" * 2500 + " chain\nCCO ethanol\n")
    out = tmp_path / "lib.jsonl"
    start = time.monotonic()
    proc = subprocess.run(
        [cli, "predict", str(sample), "-o", str(out), "--format", "jsonl", "-j", "1", "--timeout-per-molecule", "1"],
        capture_output=True,
        timeout=120,
    )
    elapsed = time.monotonic() - start
    assert proc.returncode == 1, proc.stderr
    (row,) = Path(str(out) + ".errors.tsv").read_text().splitlines()[1:]
    assert row.startswith("1\t") and "time limit exceeded (1 s" in row
    assert [json.loads(r)["name"] for r in out.read_text().splitlines()] == ["ethanol"]
    assert elapsed < 1 * 1.1 + 0.5 + 3  # the limit's allowance, and the start of the program and its worker


def test_inputs_as_people_have_them(cli, tmp_path):
    smi = tmp_path / "named.smi.gz"
    with gzip.open(smi, "wt") as f:
        f.write("CCO ethyl alcohol, absolute\nCC(=O)C\tacetone\tsolvent\n")
    out = tmp_path / "a.jsonl"
    assert subprocess.run([cli, "predict", str(smi), "-o", str(out), "--format", "jsonl"], timeout=60).returncode == 0
    assert [json.loads(r)["name"] for r in out.read_text().splitlines()] == [
        "ethyl alcohol, absolute",
        "acetone\tsolvent",
    ]

    table = tmp_path / "t.csv"
    table.write_text('ID,"CAS No.",Canonical_SMILES\nX-1,64-17-5,CCO\n')
    out = tmp_path / "t.msp"
    assert subprocess.run([cli, "predict", str(table), "-o", str(out)], timeout=60).returncode == 0
    assert out.read_text().startswith("Name: X-1\nFormula: C2H6O\nMW: 46\nCASNO: 64-17-5\nID: X-1\n")

    sdf = tmp_path / "m.sdf"
    ethanol = (
        "ethanol\n  tessarin\n\n  3  2  0  0  0  0  0  0  0  0999 V2000\n"
        + "".join(f"    0.0000    0.0000    0.0000 {a}   0  0  0  0  0  0  0  0  0  0  0  0\n" for a in "CCO")
        + "  1  2  1  0\n  2  3  1  0\nM  END\n"
    )
    broken = ethanol.replace(" 3  2  0  0  0  0  0  0  0  0999 V2000", " 3")  # on line 18 of the file
    sdf.write_text(ethanol + "> <CAS>\n64-17-5\n\n$$$$\n" + broken + "$$$$\n")
    out = tmp_path / "m.msp"
    assert subprocess.run([cli, "predict", str(sdf), "-o", str(out)], timeout=60).returncode == 1
    assert "CASNO: 64-17-5\n" in out.read_text()
    (row,) = Path(str(out) + ".errors.tsv").read_text().splitlines()[1:]
    assert row.startswith("15\t") and "on line 18" in row

    options = tmp_path / "o.msp"
    assert (
        subprocess.run(
            [cli, "predict", str(table), "-o", str(options), "--ring", "--recursive", "--max-generations", "1"],
            timeout=60,
        ).returncode
        == 0
    )
    assert '"options=--ring --recursive --max-generations 1"' in options.read_text()

    binary = tmp_path / "x.smi"
    binary.write_bytes(bytes(range(256)) * 4)
    refused = subprocess.run(
        [cli, "predict", str(binary), "-o", str(tmp_path / "x.msp")], capture_output=True, timeout=60
    )
    assert refused.returncode == 2 and b"not a file of molecules" in refused.stderr

    # A spectral library where molecules are read is refused whole, by its name or by its first line,
    # rather than failing line by line as SMILES; so is an unusable candidate file of identify --mass.
    library = tmp_path / "lib.msp"
    library.write_text("Name: ethanol\nMW: 46\nNum Peaks: 1\n31 999\n")
    unnamed = tmp_path / "lib.txt"
    unnamed.write_text(library.read_text())
    for given in (library, unnamed):
        refused = subprocess.run([cli, "predict", str(given), "-o", str(tmp_path / "y.msp")], capture_output=True)
        assert refused.returncode == 2 and b"is a spectrum file (msp)" in refused.stderr
        assert not (tmp_path / "y.msp").exists()
    for mass in ("46", "auto"):
        refused = subprocess.run(
            [cli, "identify", str(library), "--candidates", str(binary), "--mass", mass], capture_output=True
        )
        assert refused.returncode == 2 and b"not a file of molecules" in refused.stderr, mass


def test_predict_library_on_a_par_with_the_command(tmp_path):
    from rdkit import Chem

    out = tmp_path / "lib.csv"
    mols = [("ethanol", Chem.MolFromSmiles("OCC")), "C" * 2500, "CC(=O)OCCCl"]
    summary = tessarin.predict_library(
        mols, output=out, timeout_per_molecule=1, recursive_ms=True, max_generations=1, progress=False
    )
    assert summary["written"] == 2 and summary["failed"] == 1
    rows = list(csv.DictReader(io.StringIO(out.read_text())))
    assert rows[0]["name"] == "ethanol" and rows[0]["smiles"] == "CCO"
    assert "time limit exceeded (1 s" in Path(summary["errors"]).read_text()
    (deep,) = tessarin.predict_library(["CC(=O)OCCCl"], recursive_ms=True, max_generations=1)
    assert max(p["generation"] for p in deep["recursive_peaks"]) == 1
    assert deep["options"] == {"recursive": True, "max_generations": 1}


def test_ctrl_c_stops_the_depiction_of_a_large_molecule_at_once(tmp_path):
    script = tmp_path / "interrupt.py"
    script.write_text(
        "import os, signal, sys, threading, time\n"
        "signal.signal(signal.SIGINT, signal.default_int_handler)\n"  # even when started with SIGINT ignored
        "import tessarin\n"
        "sent = []\n"
        "def fire():\n"
        "    sent.append(time.monotonic())\n"
        "    os.kill(os.getpid(), signal.SIGINT)\n"
        "threading.Timer(1.5, fire).start()\n"
        "try:\n"
        "    tessarin.VIF('C' * 3000, draw=False, verbose=False)\n"  # CoordGen alone takes minutes here
        "except KeyboardInterrupt:\n"
        "    print(time.monotonic() - sent[0])\n"
        "    sys.exit(42)\n"
    )
    package_root = str(Path(tessarin.__file__).parent.parent)
    proc = subprocess.run(
        [sys.executable, str(script)], capture_output=True, timeout=120, env={**os.environ, "PYTHONPATH": package_root}
    )
    assert proc.returncode == 42, proc.stderr
    assert float(proc.stdout) < 1.0
