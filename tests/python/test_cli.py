"""The tessarin command: vif and validate reports, predict into MSP, JSON Lines and CSV,
ordering under threads, the error file, interruption, bad arguments, help and version."""

import contextlib
import csv
import inspect
import io
import json
import os
import re
import signal
import subprocess
import time
from pathlib import Path

import pytest

import support
import tessarin

ROOT = Path(__file__).resolve().parents[2]
NCI = Path(support.NCI_SMILES)
NCI_SDF = Path(support.NCI_SDF)


@pytest.fixture(scope="module")
def cli():
    # TESSARIN_CLI names another build of the program (the sanitizer build sets it).
    exe = Path(os.environ.get("TESSARIN_CLI") or ROOT / "build" / "tessarin")
    assert exe.is_file(), f"{exe} is not built"
    return str(exe)


def run(cli, *args, stdin=None, timeout=300):
    return subprocess.run([cli, *map(str, args)], input=stdin, capture_output=True, timeout=timeout)


def python_report(smiles, **options):
    buf = io.StringIO()
    with contextlib.redirect_stdout(buf):
        tessarin.VIF(smiles, draw=False, **options)
    return buf.getvalue().encode("utf-8")


def parse_msp(text):
    """Entries of an MSP file, each a dict of its fields and its peak list."""
    entries = []
    blocks = text.split("\n\n")
    assert blocks[-1] == "", "the file must end with a blank line after its last entry"
    for block in blocks[:-1]:
        lines = block.split("\n")
        fields = {}
        i = 0
        while not re.match(r"^\d", lines[i]):
            key, value = lines[i].split(": ", 1)
            fields[key] = value
            i += 1
        comments = dict(re.findall(r'"([A-Z]+)=([^"]*)"', fields["Comments"]))
        peaks = []
        for line in lines[i:]:
            m = re.fullmatch(r'(\d+) (\d+) "([^"]*)"', line)
            assert m, f"bad peak line {line!r}"
            peaks.append({"mz": int(m[1]), "intensity": int(m[2]), "formula": m[3]})
        assert int(fields["Num Peaks"]) == len(peaks)
        entries.append(
            {
                "name": fields["Name"],
                "formula": fields["Formula"],
                "mw": int(fields["MW"]),
                "smiles": comments["SMILES"],
                "lpi": comments["LPI"],
                "peaks": peaks,
            }
        )
    return entries


SAMPLE = (
    "SMILES Name\n"
    "CCO ethanol\n"
    "\n"
    "# a comment line\n"
    "C1CC broken-ring\n"
    "c1ccccc1[N+](=O)[O-] nitrobenzene\n"
    "C* dummy\n"
    "CC(=O)C acetone\n"
    "CC(C)=NO\n"
)


@pytest.fixture()
def sample(tmp_path):
    path = tmp_path / "sample.smi"
    path.write_text(SAMPLE)
    return path


@pytest.mark.parametrize(
    "smiles, args, options",
    [
        ("CCO", [], {}),
        ("c1ccccc1[N+](=O)[O-]", [], {}),
        ("C1CCC2CCCCC2C1", ["--ring"], {"ring_fragmentation": True}),
        ("CC(=O)Cl", ["--bond-kappa", "0.7"], {"bond_kappa": 0.7}),
        ("C", [], {}),
    ],
)
def test_vif_report_is_byte_identical_to_the_python_report(cli, smiles, args, options):
    result = run(cli, "vif", smiles, *args)
    assert result.returncode == 0, result.stderr
    assert result.stdout == python_report(smiles, **options)
    assert result.stderr == b""


def test_vif_failures_give_a_message_and_a_failing_status(cli):
    unreadable = run(cli, "vif", "C1CC(")
    assert unreadable.returncode == 1
    assert unreadable.stdout == b""
    assert unreadable.stderr.decode("utf-8").startswith("SMILES okunamadı!\n")
    dummy = run(cli, "vif", "C*")
    assert dummy.returncode == 1
    assert b"element" in dummy.stderr
    for bad in (
        ["vif"],
        ["vif", "C", "--bond-kappa", "nan"],
        ["vif", "C", "--max-generations", "-1"],
        ["vif", "C", "--frobnicate"],
        ["frobnicate"],
    ):
        result = run(cli, *bad)
        assert result.returncode == 2, bad
        assert b"usage: tessarin" in result.stderr, bad


def test_recursive_peaks_join_the_spectrum(cli, tmp_path):
    smiles = "ClCC(=O)OCC"
    for generations in (2, 3):
        result = run(cli, "vif", smiles, "--recursive", "--max-generations", generations)
        assert result.stdout == python_report(smiles, recursive_ms=True, max_generations=generations)
    src = tmp_path / "ester.smi"
    src.write_text(smiles + " ester\n")
    assert run(cli, "predict", src, "-o", tmp_path / "r.msp", "--recursive").returncode == 0
    peaks = parse_msp((tmp_path / "r.msp").read_text())[0]["peaks"]
    a = tessarin.VIF(smiles, draw=False, verbose=False, recursive_ms=True)
    expected = {a["mol_mass"]} | {t[2] for f in a["fragments"] if f["split"] for t in f["fragments"]}
    assert not set(a["recursive_peaks"]) <= expected
    assert [p["mz"] for p in peaks] == sorted(expected | set(a["recursive_peaks"]))


def test_validate_prints_the_python_report_and_passes(cli):
    result = run(cli, "validate")
    buf = io.StringIO()
    with contextlib.redirect_stdout(buf):
        assert tessarin.validate() is True
    assert result.returncode == 0
    assert result.stdout == buf.getvalue().encode("utf-8")


def test_predict_msp_fields_match_the_analysis(cli, sample, tmp_path):
    out = tmp_path / "lib.msp"
    result = run(cli, "predict", sample, "-o", out, "--jobs", "2")
    assert result.returncode == 1  # two molecules fail
    entries = parse_msp(out.read_text())
    assert [e["name"] for e in entries] == ["ethanol", "nitrobenzene", "acetone", "CC(C)=NO"]
    for e in entries:
        a = tessarin.VIF(e["smiles"], draw=False, verbose=False)
        assert e["mw"] == a["mol_mass"]
        lpi = a["lpi"]
        assert e["lpi"] == f"{{n+={lpi['n+']}, n0={lpi['n0']}, n-={lpi['n-']}}}"
        expected = {a["mol_mass"]: e["formula"]}
        for entry in a["fragments"]:
            if entry["split"]:
                for formula, _, mz in entry["fragments"]:
                    expected.setdefault(mz, formula)
        assert [p["mz"] for p in e["peaks"]] == sorted(expected)
        for p in e["peaks"]:
            assert p["formula"] == expected[p["mz"]]
            assert p["intensity"] == (999 if p["mz"] == a["mol_mass"] else 599)
    nitro = entries[1]
    assert nitro["formula"] == "C6H5NO2" and nitro["mw"] == 123
    assert {"mz": 77, "intensity": 599, "formula": "C6H5"} in nitro["peaks"]

    errors = (tmp_path / "lib.msp.errors.tsv").read_text().splitlines()
    assert errors[0] == "line\tsmiles\treason"
    rows = [row.split("\t") for row in errors[1:]]
    assert [r[:2] for r in rows] == [["5", "C1CC"], ["7", "C*"]]
    assert rows[0][2] == "SMILES Parse Error: unclosed ring for input: 'C1CC'"
    assert "element" in rows[1][2]
    assert b"2 of 6 molecules failed" in result.stderr


def test_predict_jsonl_and_csv_carry_the_same_spectra(cli, sample, tmp_path):
    run(cli, "predict", sample, "-o", tmp_path / "lib.jsonl", "--format", "jsonl")
    run(cli, "predict", sample, "-o", tmp_path / "lib.csv", "--format=csv")
    records = [json.loads(line) for line in (tmp_path / "lib.jsonl").read_text().splitlines()]
    assert [r["line"] for r in records] == [2, 6, 8, 9]
    ethanol = records[0]
    assert set(ethanol) == {
        "line",
        "name",
        "smiles",
        "formula",
        "mol_mass",
        "mol_mass_avg",
        "lpi",
        "soft_bonds",
        "fragments",
        "recursive_peaks",
        "peaks",
    }
    a = tessarin.VIF("CCO", draw=False, verbose=False)
    assert ethanol["lpi"]["eigenvalues"] == pytest.approx(list(a["lpi"]["eigenvalues"]), abs=0)
    assert ethanol["soft_bonds"] == a["soft_bonds"]
    assert ethanol["fragments"] == [
        dict(f, fragments=None if f["fragments"] is None else [list(t) for t in f["fragments"]]) for f in a["fragments"]
    ]
    with open(tmp_path / "lib.csv", newline="") as f:
        rows = list(csv.DictReader(f))
    assert list(rows[0]) == ["line", "name", "smiles", "mz", "intensity", "formula"]
    from_jsonl = [
        (str(r["line"]), r["name"], r["smiles"], str(p["mz"]), str(p["intensity"]), p["formula"])
        for r in records
        for p in r["peaks"]
    ]
    assert [tuple(row.values()) for row in rows] == from_jsonl


def test_predict_keeps_input_order_under_threads(cli, tmp_path):
    src = tmp_path / "nci.smi"
    src.write_text("".join(NCI.read_text().splitlines(keepends=True)[:150]))
    one = run(cli, "predict", src, "-o", tmp_path / "one.jsonl", "--format", "jsonl", "--jobs", "1")
    four = run(cli, "predict", src, "-o", tmp_path / "four.jsonl", "--format", "jsonl", "--jobs", "4")
    assert one.returncode == four.returncode == 0
    assert (tmp_path / "one.jsonl").read_bytes() == (tmp_path / "four.jsonl").read_bytes()
    names = [json.loads(line)["name"] for line in (tmp_path / "four.jsonl").read_text().splitlines()]
    assert names == [line.split("\t")[1] for line in src.read_text().splitlines()]


def test_predict_reads_standard_input_as_smiles_or_sdf(cli, tmp_path):
    result = run(cli, "predict", "-", "-o", tmp_path / "in.msp", stdin=b"CCO ethanol\nCC(=O)O acetic\n")
    assert result.returncode == 0
    assert [e["name"] for e in parse_msp((tmp_path / "in.msp").read_text())] == ["ethanol", "acetic"]

    records = NCI_SDF.read_text().split("$$$$\n")[:5]
    sdf = "$$$$\n".join(records) + "$$$$\n"
    result = run(cli, "predict", "-", "-o", tmp_path / "sdf.jsonl", "--format", "jsonl", stdin=sdf.encode())
    assert result.returncode == 0, result.stderr
    got = [json.loads(line) for line in (tmp_path / "sdf.jsonl").read_text().splitlines()]
    assert len(got) == 5
    from rdkit import Chem

    expected = [Chem.MolToSmiles(m) for m in Chem.SDMolSupplier(str(NCI_SDF))][:5]
    assert [r["smiles"] for r in got] == expected
    assert got[1]["line"] == len(records[0].splitlines()) + 2


def test_predict_replaces_a_stale_error_file_and_reports_time_limits(cli, tmp_path):
    src = tmp_path / "ok.smi"
    src.write_text("CCO\nCCN\n")
    stale = tmp_path / "ok.msp.errors.tsv"
    stale.write_text("old run\n")
    assert run(cli, "predict", src, "-o", tmp_path / "ok.msp").returncode == 0
    assert not stale.exists()

    result = run(cli, "predict", src, "-o", tmp_path / "ok.msp", "--timeout-per-molecule", "0.000001")
    assert result.returncode == 1
    assert (tmp_path / "ok.msp").read_text() == ""
    rows = stale.read_text().splitlines()[1:]
    assert len(rows) == 2 and all("time limit exceeded" in r for r in rows)


def test_predict_rejects_bad_arguments_and_unusable_files(cli, sample, tmp_path):
    cases = [
        ["predict", sample],
        ["predict", sample, "-o", tmp_path / "x", "--format", "sdf"],
        ["predict", sample, "-o", tmp_path / "x.msp.gz"],  # libraries are written uncompressed
        ["predict", sample, "-o", tmp_path / "x", "--jobs", "0"],
        ["predict", sample, "-o", tmp_path / "x", "--jobs", "two"],
        ["predict", sample, "-o", tmp_path / "x", "--timeout-per-molecule", "-1"],
        ["predict", tmp_path / "missing.smi", "-o", tmp_path / "x"],
        ["predict", sample, "-o", tmp_path / "no" / "such" / "dir.msp"],
        ["predict", sample, "-o", sample],
    ]
    for args in cases:
        result = run(cli, *args)
        assert result.returncode == 2, args
        assert result.stderr.startswith(b"tessarin: "), args
    assert sample.read_text() == SAMPLE  # never truncated


def test_ctrl_c_leaves_a_valid_file_of_the_molecules_finished_so_far(cli, tmp_path):
    out = tmp_path / "nci.msp"
    proc = subprocess.Popen(
        [cli, "predict", str(NCI), "-o", str(out), "--jobs", "2"], stdout=subprocess.PIPE, stderr=subprocess.PIPE
    )
    deadline = time.time() + 60
    while time.time() < deadline and (not out.exists() or out.stat().st_size < 20000):
        time.sleep(0.05)
    proc.send_signal(signal.SIGINT)
    _, err = proc.communicate(timeout=120)
    assert proc.returncode == 130
    assert b"interrupted" in err
    entries = parse_msp(out.read_text())
    ids = [line.split("\t")[1] for line in NCI.read_text().splitlines()]
    assert 0 < len(entries) < len(ids)
    assert [e["name"] for e in entries] == ids[: len(entries)]


def test_progress_line_only_on_a_terminal(cli, sample, tmp_path):
    import pty

    assert b"mol/s" not in run(cli, "predict", sample, "-o", tmp_path / "q.msp").stderr
    leader, follower = pty.openpty()
    with os.fdopen(leader, "rb", buffering=0) as terminal:
        proc = subprocess.run(
            [cli, "predict", str(sample), "-o", str(tmp_path / "t.msp")], stderr=follower, timeout=120
        )
        os.close(follower)
        shown = terminal.read(65536)
    assert proc.returncode == 1
    assert re.search(rb"\r  6/6 \[#+\] 100%  [0-9.]+ mol/s  2 failed", shown), shown


def help_options(text):
    """{option: default} of the options listed in a help text ('required' for a required option)."""
    section = text.split("\noptions:\n", 1)[1].split("\n\n", 1)[0]
    options = {}
    for line in section.splitlines():
        m = re.fullmatch(r"  (-\S+)(?: [A-Z-]+)? {2,}.*?(?: \[default: ([^]]+)\]| \((required)\))?", line)
        assert m, line
        options[m[1]] = m[2] or m[3]
    return options


def test_help_lists_every_command_and_every_option_with_its_default(cli):
    top = run(cli, "--help")
    assert top.returncode == 0 and top.stderr == b""
    commands = top.stdout.decode().split("\ncommands:\n", 1)[1].split("\n\n", 1)[0]
    assert [line.split()[0] for line in commands.splitlines()] == [
        "vif",
        "predict",
        "validate",
        "identify",
        "search",
        "evaluate",
        "convert",
        "explain",
    ]
    assert run(cli).returncode == 2  # no command: the same help, on standard error
    vif_defaults = inspect.signature(tessarin.VIF).parameters
    prediction = {
        "--ring": None,
        "--recursive": None,
        "--max-generations": str(vif_defaults["max_generations"].default),
    }
    expected = {
        "vif": prediction | {"--bond-kappa": str(vif_defaults["bond_kappa"].default)},
        "predict": prediction
        | {
            "-o,--output": "required",
            "--format": "by extension",
            "-j,--jobs": "all cores",
            "--model": "schematic",
            "--timeout-per-molecule": "0",
            "--lines": "all",
            "--resume": None,
            "--scheduler": None,
            "--chunk-size": "1000",
            "--work-dir": "OUTPUT.shards",
        },
        "validate": {},
    }
    # One score everywhere: the method's powers (for the cosine, square-rooted intensities).
    score = {
        "--method": "cosine",
        "--tolerance": "0.5",
        "--reverse": None,
        "--mz-power": "the method's",
        "--intensity-power": "the method's",
    }
    model = prediction | {"--model": "ei", "-j,--jobs": "all cores", "--timeout-per-molecule": "0"}
    expected["identify"] = (
        score
        | model
        | {
            "--record": "1",
            "--candidates": "required",
            "-o,--output": "-",
            "--top": "0",
            "--mass": None,
            "--same-mass": None,
            "--formula": None,
            "--plot": None,
            "--plot-count": "3",
            "--full-range": None,
            "--pubchem-rest": None,
            "--pubchem-cache": None,
            "--annotate": None,
        }
    )
    expected["search"] = score | {
        "--library": "required",
        "-o,--output": "-",
        "--top": "10",
        "--min-score": "0",
        "--mass-tolerance": None,
        "--mass": None,
        "--full-range": None,
        "-j,--jobs": "all cores",
        "--scheduler": None,
    }
    expected["evaluate"] = score | model | {"-o,--output": None}
    expected["convert"] = {"--format": "by extension", "--from": "by extension or content"}
    expected["explain"] = {
        "--record": "1",
        "--smiles": "required",
        "-o,--output": "-",
        "--plot": None,
        "--full-range": None,
    }
    for command, options in expected.items():
        shown = run(cli, command, "--help")
        assert shown.returncode == 0 and shown.stderr == b"", command
        text = shown.stdout.decode()
        assert text.splitlines()[1].startswith(f"usage: tessarin {command} [OPTIONS]")
        assert help_options(text) == {"-h,--help": None, **options}, command
        assert run(cli, "help", command).stdout == shown.stdout
    # --help wins over missing or wrong arguments
    assert run(cli, "predict", "--jobs", "0", "--help").returncode == 0


def test_version_is_the_project_version(cli):
    version = re.search(r"project\(tessarin VERSION (\d+\.\d+\.\d+)", (ROOT / "CMakeLists.txt").read_text())[1]
    result = run(cli, "--version")
    assert (result.returncode, result.stdout, result.stderr) == (0, f"tessarin {version}\n".encode(), b"")
    assert tessarin.__version__ == version


def test_usage_errors_name_the_option_and_change_no_file(cli, sample, tmp_path):
    out = tmp_path / "kept.msp"
    out.write_text("kept\n")
    cases = [
        (["vif", "C", "--bond-kappa", "inf"], "--bond-kappa: needs a finite number"),
        (["vif", "C", "--max-generations", "1001"], "--max-generations: needs a whole number from 0 to 1000"),
        (["vif"], "SMILES is required"),
        (["vif", "C", "CC"], "not expected: CC"),
        (["predict", sample, "-o", out, "--jobs", "2.5"], "--jobs: needs a whole number from 1 to 1024, got '2.5'"),
        (["predict", sample, "-o", out, "--format", "MSP"], "--format: must be msp, jsonl, csv or mgf"),
        (["predict", sample, "-o", out, "--timeout-per-molecule", "nan"], "--timeout-per-molecule: needs a finite"),
        (["predict", sample, "-o", out, "--ring", "--frobnicate"], "not expected: --frobnicate"),
        (["predict", sample, "-o"], "--output"),
        (["predict", sample, "-o", ""], "--output: needs a value"),
        (["predict", "-o", out], "INPUT is required"),
        (["validate", "extra"], "not expected: extra"),
        (["--frobnicate"], "not expected: --frobnicate"),
        (["frobnicate"], "unknown command 'frobnicate'"),
        (["help", "frobnicate"], "unknown command 'frobnicate'"),
        (["frobnicate", "--help"], "unknown command 'frobnicate'"),
    ]
    for args, message in cases:
        result = run(cli, *args)
        lines = result.stderr.decode().splitlines()
        assert result.returncode == 2, args
        assert result.stdout == b"", args
        assert lines[0].startswith("tessarin: ") and message in lines[0], (args, lines)
        command = args[0] if args[0] in ("vif", "predict", "validate") else "[OPTIONS] COMMAND"
        assert lines[1].startswith(f"usage: tessarin {command}"), (args, lines)
    assert out.read_text() == "kept\n"
    assert not (tmp_path / "kept.msp.errors.tsv").exists()


def test_repeated_options_take_the_last_value_and_negative_numbers_are_values(cli):
    result = run(
        cli,
        "vif",
        "CC(=O)Cl",
        "--bond-kappa",
        "2",
        "--bond-kappa",
        "-0.5",
        "--max-generations=3",
        "--max-generations",
        "1",
        "--recursive",
    )
    assert result.returncode == 0, result.stderr
    assert result.stdout == python_report("CC(=O)Cl", bond_kappa=-0.5, max_generations=1, recursive_ms=True)


def test_unreadable_smiles_gives_the_parser_reason(cli):
    for smiles, reason in [("C1CC", "unclosed ring"), ("CC)", "extra close parentheses"), ("", "empty")]:
        result = run(cli, "vif", smiles)
        lines = result.stderr.decode("utf-8").splitlines()
        assert result.returncode == 1 and result.stdout == b""
        assert lines[0] == "SMILES okunamadı!"
        assert reason in lines[1] and not lines[1].startswith("["), lines  # without RDKit's time stamp
    # The capture ends with the parse: an analysis that follows a failed one prints nothing to stderr.
    assert run(cli, "vif", "CCO").stderr == b""
