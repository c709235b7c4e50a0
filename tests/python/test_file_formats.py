"""Library and spectrum files on any disk and in any shape: whole records when the disk fills up, the format
told by the output's name, files converted between formats, and the OSError of a path that cannot be used."""

import contextlib
import gzip
import json
import os
import resource
import shutil
import signal
import subprocess
from pathlib import Path

import pytest

import tessarin

ROOT = Path(__file__).resolve().parents[2]
NCI = Path("/usr/share/RDKit/Data/NCI/first_5K.smi")


@pytest.fixture(scope="module")
def cli():
    exe = Path(os.environ.get("TESSARIN_CLI") or ROOT / "build" / "tessarin")
    assert exe.is_file(), f"{exe} is not built"
    return str(exe)


def run(cli, *args, preexec_fn=None):
    return subprocess.run([cli, *map(str, args)], capture_output=True, text=True, timeout=300, preexec_fn=preexec_fn)


def molecules(path, count):
    path.write_text("".join(NCI.read_text().splitlines(keepends=True)[:count]))
    return path


@contextlib.contextmanager
def small_disk(directory, how, size):
    """A directory where writing stops after about `size` bytes: a tmpfs of that size (when this process may
    mount one), or a file-size limit set in the child process (SIGXFSZ ignored, so a write fails with EFBIG)."""
    directory.mkdir()
    if how == "rlimit":

        def limit():
            resource.setrlimit(resource.RLIMIT_FSIZE, (size, size))
            signal.signal(signal.SIGXFSZ, signal.SIG_IGN)

        yield limit
        return
    mounted = subprocess.run(
        ["mount", "-t", "tmpfs", "-o", f"size={size}", "tmpfs", str(directory)], capture_output=True
    )
    if mounted.returncode != 0:
        pytest.skip("cannot mount a tmpfs here: " + mounted.stderr.decode().strip())
    try:
        yield None
    finally:
        subprocess.run(["umount", str(directory)], check=True)


@pytest.mark.parametrize("fmt", ["msp", "jsonl"])
@pytest.mark.parametrize("how", ["tmpfs", "rlimit"])
def test_a_full_disk_leaves_whole_records_and_resume_completes_the_file(cli, tmp_path, how, fmt):
    smi = molecules(tmp_path / "mols.smi", 300)
    reference = tmp_path / f"reference.{fmt}"
    whole = run(cli, "predict", smi, "-o", reference, "--jobs", "2")
    assert whole.returncode in (0, 1), whole.stderr

    with small_disk(tmp_path / "small", how, 64 * 1024) as limit:
        out = tmp_path / "small" / f"lib.{fmt}"
        full = run(cli, "predict", smi, "-o", out, "--jobs", "2", preexec_fn=limit)
        assert full.returncode == 2, full.stderr
        assert f"tessarin: cannot write {out}: " in full.stderr
        assert "No space left on device" in full.stderr or "File too large" in full.stderr
        cut = out.read_bytes()
        resumed = tmp_path / "resumed"
        resumed.mkdir()
        for f in (tmp_path / "small").iterdir():
            shutil.copy(f, resumed / f.name)
    expected = reference.read_bytes()
    # What the full disk left is the start of the whole file, cut after a record.
    assert 0 < len(cut) < len(expected) and expected.startswith(cut)
    assert cut.endswith(b"\n\n" if fmt == "msp" else b"\n")

    again = run(cli, "predict", smi, "-o", resumed / f"lib.{fmt}", "--jobs", "2", "--resume")
    assert again.returncode == whole.returncode, again.stderr
    assert (resumed / f"lib.{fmt}").read_bytes() == expected
    errors = Path(str(reference) + ".errors.tsv")
    if errors.exists():
        assert (resumed / f"lib.{fmt}.errors.tsv").read_bytes() == errors.read_bytes()


def test_predict_writes_the_format_its_output_is_named_for(cli, tmp_path):
    smi = molecules(tmp_path / "mols.smi", 3)
    starts = {
        "lib.jsonl": '{"line":1,',
        "lib.csv": "line,name,smiles,mz,intensity,formula\n",
        "lib.mgf": "BEGIN IONS\n",
    }
    starts |= {"lib.msp": "Name: ", "lib.out": "Name: "}
    for name, start in starts.items():
        result = run(cli, "predict", smi, "-o", tmp_path / name, "--jobs", "1")
        assert result.returncode == 0, result.stderr
        assert (tmp_path / name).read_text().startswith(start), name
    assert run(cli, "predict", smi, "-o", tmp_path / "asked.jsonl", "--format", "msp").returncode == 0
    assert (tmp_path / "asked.jsonl").read_text().startswith("Name: ")
    # Python follows the same names, into the same bytes.
    tessarin.predict_library(smi, output=tmp_path / "python.mgf", jobs=1, progress=False)
    assert (tmp_path / "python.mgf").read_bytes() == (tmp_path / "lib.mgf").read_bytes()
    assert "--format FORMAT" in run(cli, "predict", "--help").stdout


def test_convert_turns_any_readable_file_into_any_writable_one(cli, tmp_path):
    smi = molecules(tmp_path / "mols.smi", 12)
    library = tmp_path / "lib.jsonl"
    assert run(cli, "predict", smi, "-o", library, "--jobs", "1", "--model", "ei").returncode == 0
    spectra = list(tessarin.read_spectra(library))

    # An MGF header holds what MGF readers look for; the eigenvalues and fragments stay in JSON Lines.
    mgf = tmp_path / "lib.mgf"
    assert run(cli, "convert", library, mgf).returncode == 0
    text = mgf.read_text()
    first = text.split("END IONS")[0]
    for field in ("TITLE=", "MW=", "SMILES=", "FORMULA=", "COMMENTS="):
        assert field in first, field
    assert "eigenvalues" not in text and "soft_bonds" not in text
    tessarin.write_spectra(spectra, tmp_path / "python.mgf")
    assert (tmp_path / "python.mgf").read_text() == text

    # Old Mac line breaks, gzip told by the content, and a record that cannot be read.
    msp = run(cli, "convert", mgf, "-", "--format", "msp").stdout
    records = msp.split("\n\n")
    records.insert(2, "Name: broken\nNum Peaks: 2\n41 999\n43 NaN")
    joined = "\n\n".join(records)
    packed = tmp_path / "packed"
    packed.write_bytes(gzip.compress(joined.replace("\n", "\r").encode()))
    back = tmp_path / "back.jsonl"
    result = run(cli, "convert", packed, back)
    assert result.returncode == 1, result.stderr
    errors = Path(str(back) + ".errors.tsv").read_text().splitlines()
    broken_line = joined.count("\n", 0, joined.index("Name: broken")) + 4  # its "43 NaN" line
    assert errors == ["file\tline\treason", f"{packed}\t{broken_line}\tthe value 'NaN' is not a finite number"]
    again = list(tessarin.read_spectra(back))
    assert [(s.name, list(s.mz), list(s.intensities)) for s in again] == [
        (s.name, list(s.mz), list(s.intensities)) for s in spectra
    ]
    assert [json.loads(line)["smiles"] for line in back.read_text().splitlines()] == [
        s.metadata["smiles"] for s in spectra
    ]

    assert run(cli, "convert", library, tmp_path / "x.jdx").returncode == 2  # JCAMP-DX is read, not written
    assert run(cli, "convert", tmp_path / "missing.msp", tmp_path / "y.msp").returncode == 2


def test_paths_that_cannot_be_used_raise_the_oserror_of_the_reason(tmp_path):
    spectrum = tessarin.predict_spectrum("CCO")
    library = tmp_path / "lib.msp"
    tessarin.write_spectra([spectrum], library)
    missing = tmp_path / "missing.msp"
    nowhere = tmp_path / "no" / "such" / "lib.msp"
    smi = molecules(tmp_path / "mols.smi", 2)
    failing = [
        (FileNotFoundError, lambda: tessarin.read_spectra(missing)),
        (IsADirectoryError, lambda: tessarin.read_spectra(tmp_path, format="msp")),
        (FileNotFoundError, lambda: tessarin.write_spectra([spectrum], nowhere)),
        (IsADirectoryError, lambda: tessarin.write_spectra([spectrum], tmp_path, format="msp")),
        (FileNotFoundError, lambda: tessarin.predict_library(tmp_path / "missing.smi", progress=False)),
        (IsADirectoryError, lambda: tessarin.predict_library(tmp_path, progress=False)),
        (FileNotFoundError, lambda: tessarin.predict_library(smi, output=nowhere, progress=False)),
        (IsADirectoryError, lambda: tessarin.predict_library(["CCO"], output=tmp_path, progress=False)),
        (FileNotFoundError, lambda: tessarin.search_library(missing, library)),
        (FileNotFoundError, lambda: tessarin.search_library(library, missing)),
        (FileNotFoundError, lambda: tessarin.rank_candidates(spectrum, tmp_path / "missing.smi")),
        (IsADirectoryError, lambda: tessarin.rank_candidates(spectrum, str(tmp_path))),
        (FileNotFoundError, lambda: tessarin.evaluate(missing)),
    ]
    for error, call in failing:
        with pytest.raises(error) as caught:
            call()
        assert caught.value.filename is not None, caught.value
