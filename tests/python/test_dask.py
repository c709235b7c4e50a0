"""tessarin.dask: chunked prediction on a two-process cluster (a worker lost mid-run, the rerun, the merge
equal to the single-machine library), sharded search equal to one search, and the command line's --scheduler."""

import json
import os
import subprocess
import sys
from pathlib import Path

import pytest

import tessarin
from tessarin import _native

dask = pytest.importorskip("dask")
distributed = pytest.importorskip("distributed")
cloudpickle = pytest.importorskip("cloudpickle")
import tessarin.dask as tdask  # noqa: E402

ROOT = Path(__file__).resolve().parents[2]
NCI = Path("/usr/share/RDKit/Data/NCI/first_5K.smi")
BAD = ["C1CC\tbroken_ring\n", "C*\tstar\n"]

# The worker plugin below travels to the workers by value (they cannot import this file).
cloudpickle.register_pickle_by_value(sys.modules[__name__])


def nci_lines(first, count):
    if not NCI.exists():
        pytest.skip("rdkit-data's NCI sample is not installed")
    with NCI.open() as f:
        return [line for k, line in enumerate(f) if first <= k < first + count]


@pytest.fixture(scope="module")
def client():
    # A chunk whose worker dies fails at once, so that the rerun has work left.
    with dask.config.set({"distributed.scheduler.allowed-failures": 0}):
        with distributed.LocalCluster(
            n_workers=2, threads_per_worker=1, processes=True, host="127.0.0.1", dashboard_address=None
        ) as cluster, distributed.Client(cluster) as c:
            yield c


class KillOnce(distributed.WorkerPlugin):
    """Ends the worker process when it starts chunk `chunk`, the first time only (the flag file says so)."""

    def __init__(self, chunk, flag):
        self.chunk, self.flag = chunk, flag

    def setup(self, worker):
        def before(entry):
            if entry["chunk"] == self.chunk and not os.path.exists(self.flag):
                Path(self.flag).touch()
                os._exit(1)

        tdask._before_chunk = before

    def teardown(self, worker):
        tdask._before_chunk = None


class KillMoleculeOnce(distributed.WorkerPlugin):
    """Kills (SIGKILL, as the out-of-memory killer does) the native worker process of chunk `chunk` once it has
    spent a few tenths of a second of CPU on its first molecule; the first time only (the flag file says so).
    CPU time counts from when the process is first seen, so that an idle worker process left by an earlier run
    is never the one killed."""

    def __init__(self, chunk, flag):
        self.chunk, self.flag = chunk, flag

    def setup(self, worker):
        import signal
        import threading
        import time

        def kill_when_busy():
            deadline = time.monotonic() + 60
            first_seen = {}
            while time.monotonic() < deadline:
                for pid in children(os.getpid()):
                    try:
                        if b"tessarin-worker" not in Path(f"/proc/{pid}/cmdline").read_bytes():
                            continue
                        fields = Path(f"/proc/{pid}/stat").read_text().rsplit(")", 1)[1].split()
                        cpu = (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")
                        if cpu - first_seen.setdefault(pid, cpu) >= 0.3:
                            os.kill(pid, signal.SIGKILL)
                            return
                    except (OSError, IndexError, ValueError):
                        continue
                time.sleep(0.01)

        def before(entry):
            if entry["chunk"] == self.chunk and not os.path.exists(self.flag):
                Path(self.flag).touch()
                threading.Thread(target=kill_when_busy, daemon=True).start()

        tdask._before_chunk = before

    def teardown(self, worker):
        tdask._before_chunk = None


def children(pid):
    found = []
    for task in Path(f"/proc/{pid}/task").iterdir():
        found += [int(p) for p in (task / "children").read_text().split()]
    return found


def test_chunks_read_their_part_of_the_file_as_the_whole_file_reads_it(tmp_path):
    # Headers, comments, blank lines, quoted line breaks and stray SDF terminators between chunk starts.
    smi = tmp_path / "m.smi"
    smi.write_text("SMILES Name\n# comment\nCCO ethanol\n\nSMILES odd\nCC(=O)C acetone\n#x\nc1ccccc1\nC1CC bad\n")
    csv = tmp_path / "m.csv"
    csv.write_text('id,note,Canonical_SMILES\n\na,"two\nlines",CCO\nb,,CCN\n"c","say ""x""",C1CC\n\nd,x,CC=O\n')
    block = (
        "\n     RDKit          2D\n\n  1  0  0  0  0  0  0  0  0  0999 V2000\n"
        "    0.0000    0.0000    0.0000 C   0  0  0  0  0  0  0  0  0  0  0  0\nM  END\n"
    )
    sdf = tmp_path / "m.sdf"
    sdf.write_text("methane" + block + "$$$$\n$$$$\nsecond" + block + "$$$$\nnot a record\n$$$$\nthird" + block)

    def chunk(path, start, count, output, **settings):
        job = {"kind": "tessarin library job", "version": 1, "input": str(path), "output": str(output)}
        job.update(part={"start": start, "molecules": count}, format="jsonl", run_record=False, jobs=1, **settings)
        return _native.run_library_job(json.dumps(job))

    for path in (smi, csv, sdf):
        whole = tmp_path / "whole.jsonl"
        count, [start] = _native.molecule_file_chunks(str(path), 1000)
        chunk(path, start, count, whole)
        expected_lines = [json.loads(r)["line"] for r in whole.read_text().splitlines()]
        assert len(expected_lines) >= 3, path
        for size in (1, 2, 3):
            n, starts = _native.molecule_file_chunks(str(path), size)
            assert n == count and len(starts) == -(-count // size)
            text, errors = "", ""
            for k, s in enumerate(starts):
                part = tmp_path / f"part{k}.jsonl"
                r = chunk(path, s, size, part)
                assert r["read"] == min(size, count - k * size)
                text += part.read_text()
                if r["errors"]:
                    errors += Path(r["errors"]).read_text().split("\n", 1)[1]
            assert text == whole.read_text(), (path, size)
            whole_errors = Path(str(whole) + ".errors.tsv")
            assert errors == (whole_errors.read_text().split("\n", 1)[1] if whole_errors.exists() else ""), path
    with pytest.raises(ValueError, match="model"):
        chunk(smi, start, 1, tmp_path / "x.msp", model="nonsense")
    with pytest.raises(ValueError, match="no field"):
        chunk(smi, start, 1, tmp_path / "x.msp", fmt="msp")


def test_lost_worker_rerun_and_merge_equal_the_single_machine_library(client, tmp_path):
    source = tmp_path / "nci.smi"
    source.write_text("".join(nci_lines(0, 30) + BAD + nci_lines(30, 25)))
    work = tmp_path / "shards"
    flag = tmp_path / "killed"
    client.register_worker_plugin(KillOnce(3, str(flag)), name="kill-once")
    try:
        with pytest.raises(tdask.ShardError, match="run again"):
            tdask.predict_library(source, work, client, chunk_size=8, fmt="csv", ring_fragmentation=True)
    finally:
        client.unregister_worker_plugin("kill-once")
    assert flag.exists()
    manifest = json.loads((work / "manifest.json").read_text())
    chunks = manifest["chunks"]
    failed = [c["chunk"] for c in chunks if c["status"] == "failed"]
    assert len(chunks) == 8 and 3 in failed
    assert [c["first_line"] for c in chunks] == [1, 9, 17, 25, 33, 41, 49, 57]
    with pytest.raises(ValueError, match="not finished"):
        tdask.merge(work, tmp_path / "early.csv")
    with pytest.raises(ValueError, match="other arguments.*chunk_size"):
        tdask.predict_library(source, work, client, chunk_size=9, fmt="csv", ring_fragmentation=True)
    old = tmp_path / "old"
    old.mkdir()
    (old / "manifest.json").write_text(json.dumps({"kind": "tessarin predicted library shards, version 1"}))
    with pytest.raises(ValueError, match="earlier tessarin"):
        tdask.predict_library(source, old, client, chunk_size=8, fmt="csv")

    summary = tdask.predict_library(source, work, client, chunk_size=8, fmt="csv", ring_fragmentation=True)
    # A chunk still running when the first run gave up may have finished since: the rerun trusts its marker.
    assert summary["done"] + summary["skipped"] == 8 and 1 <= summary["done"] <= len(failed)
    assert (summary["written"], summary["failed"]) == (55, 2)

    merged = tmp_path / "merged.csv"
    (tmp_path / "merged.csv.errors.tsv").write_text("stale")
    assert tdask.merge(work, merged)["failed"] == 2
    single = tmp_path / "single.csv"
    result = subprocess.run(
        [
            os.environ.get("TESSARIN_CLI") or ROOT / "build" / "tessarin",
            "predict",
            source,
            "-o",
            single,
            "--format",
            "csv",
            "--ring",
        ],
        capture_output=True,
    )
    assert result.returncode == 1, result.stderr
    assert merged.read_bytes() == single.read_bytes()
    assert Path(str(merged) + ".errors.tsv").read_bytes() == Path(str(single) + ".errors.tsv").read_bytes()

    # A bag of SMILES, one chunk per partition, numbered as the list it holds.
    smiles = [line.split()[0] for line in source.read_text().splitlines()]
    bag = dask.bag.from_sequence(smiles, npartitions=4)
    tdask.predict_library(
        bag, tmp_path / "bag", client, fmt="jsonl", recursive_ms=True, max_generations=1, time_limit=60
    )
    tdask.merge(tmp_path / "bag", tmp_path / "bag.jsonl")
    tessarin.predict_library(
        smiles, tmp_path / "list.jsonl", fmt="jsonl", recursive_ms=True, max_generations=1, timeout_per_molecule=60
    )
    assert (tmp_path / "bag.jsonl").read_bytes() == (tmp_path / "list.jsonl").read_bytes()


def test_a_molecule_killed_from_outside_is_tried_again_by_the_rerun(client, tmp_path):
    # A chain of 300 carbons takes seconds of CPU to depict: its worker process is busy when the kill comes.
    source = tmp_path / "in.smi"
    source.write_text("C" * 300 + " chain\n" + "".join(nci_lines(0, 7)))
    work, flag = tmp_path / "shards", tmp_path / "killed"
    client.register_worker_plugin(KillMoleculeOnce(0, str(flag)), name="kill-molecule")
    try:
        with pytest.raises(tdask.ShardError, match="killed from outside.*a rerun tries them again"):
            tdask.predict_library(source, work, client, chunk_size=4, jobs=1)
    finally:
        client.unregister_worker_plugin("kill-molecule")
    assert flag.exists()
    chunks = json.loads((work / "manifest.json").read_text())["chunks"]
    assert (chunks[0]["status"], chunks[0]["killed"], chunks[1]["status"]) == ("failed", [1], "done")

    assert tdask.predict_library(source, work, client, chunk_size=4, jobs=1)["failed"] == 0
    tdask.merge(work, tmp_path / "merged.msp")
    exe = os.environ.get("TESSARIN_CLI") or ROOT / "build" / "tessarin"
    single = subprocess.run([exe, "predict", source, "-o", tmp_path / "single.msp"], capture_output=True)
    assert single.returncode == 0, single.stderr
    assert (tmp_path / "merged.msp").read_bytes() == (tmp_path / "single.msp").read_bytes()
    assert not (tmp_path / "merged.msp.errors.tsv").exists()


@pytest.fixture(scope="module")
def library(tmp_path_factory):
    """A predicted library of 40 molecules, the same split into three shards, and ten queries."""
    d = tmp_path_factory.mktemp("library")
    tessarin.predict_library([line.split()[0] for line in nci_lines(100, 40)], d / "all.msp", ring_fragmentation=True)
    spectra = list(tessarin.read_spectra(d / "all.msp"))
    shards = []
    for k, (a, b) in enumerate([(0, 13), (13, 14), (14, 40)]):
        shards.append(str(d / f"shard{k}.msp"))
        tessarin.write_spectra(spectra[a:b], shards[-1])
    tessarin.predict_library(
        [line.split()[0] for line in nci_lines(150, 10)], d / "queries.msp", ring_fragmentation=True
    )
    return d / "all.msp", shards, d / "queries.msp"


def test_sharded_search_equals_one_search(client, library):
    whole, shards, queries = library
    for options in ({"top": 5}, {"top": 3, "method": "composite", "min_score": 0.2}, {"top": 0}):
        expected = tessarin.search_library(queries, whole, **options)
        got = tdask.search_library(queries, shards, client, **options)
        assert type(got) is type(expected) and len(got) == len(expected) == 10
        for g, e in zip(got, expected):
            assert g.query == e.query and g.error == e.error
            assert [(h.index, h.score, h.matched) for h in g.hits] == [(h.index, h.score, h.matched) for h in e.hits]
            assert [h.spectrum for h in g.hits] == [h.spectrum for h in e.hits]
    assert any(h.index >= 14 for r in got for h in r.hits)  # hits from the last shard, counted over all


NO_PACKAGE = """
import sys


class Refuse:
    def find_spec(self, name, path=None, target=None):
        if name == "tessarin" or name.startswith("tessarin."):
            raise ModuleNotFoundError(f"No module named {name!r}", name=name)


for name in [m for m in sys.modules if m == "tessarin" or m.startswith("tessarin.")]:
    del sys.modules[name]
sys.meta_path.insert(0, Refuse())
"""


def test_workers_that_cannot_import_the_package_are_refused_saying_what_to_start(tmp_path):
    # As workers started by an interpreter that does not see the package (Debian's `dask worker`).
    preload = tmp_path / "no_package.py"
    preload.write_text(NO_PACKAGE)
    source = tmp_path / "in.smi"
    source.write_text("".join(nci_lines(0, 5)))
    exe = os.environ.get("TESSARIN_CLI") or ROOT / "build" / "tessarin"
    with distributed.LocalCluster(
        n_workers=1,
        threads_per_worker=1,
        processes=True,
        host="127.0.0.1",
        dashboard_address=None,
        preload=[str(preload)],
    ) as cluster:
        address = cluster.scheduler_address
        r = subprocess.run(
            [exe, "predict", source, "-o", tmp_path / "out.msp", "--scheduler", address],
            capture_output=True,
            text=True,
            timeout=300,
        )
        assert r.returncode == 2, r.stderr
        assert "cannot import tessarin: ModuleNotFoundError" in r.stderr and "Traceback" not in r.stderr
        assert f"dask worker {address}" in r.stderr
        assert not (tmp_path / "out.msp").exists()
        with distributed.Client(cluster) as c, pytest.raises(tdask.WorkerEnvironmentError, match="cannot import"):
            tdask.predict_library(source, tmp_path / "shards", c)


def test_command_line_hands_runs_to_the_scheduler(client, library, tmp_path):
    exe = os.environ.get("TESSARIN_CLI") or ROOT / "build" / "tessarin"
    source = tmp_path / "in.smi"
    source.write_text("".join(nci_lines(200, 20) + BAD))
    address = client.scheduler.address
    outs = []
    # Every option the command parsed reaches the workers (the job they run is the one the command built).
    options = ["--format", "jsonl", "--model", "ei", "--ring", "--recursive", "--max-generations", "1"]
    for extra in ([], ["--scheduler", address, "--chunk-size", "6"]):
        out = tmp_path / f"out{len(outs)}.jsonl"
        r = subprocess.run([exe, "predict", source, "-o", out, *options, *extra], capture_output=True)
        assert r.returncode == 1 and b"2 of 22 molecules failed" in r.stderr, r.stderr
        outs.append(out.read_bytes())
    assert outs[0] == outs[1] and b'"options":{"ring":true,"recursive":true,"max_generations":1}' in outs[0]
    assert (tmp_path / "out1.jsonl.shards" / "manifest.json").exists()
    refused = subprocess.run(
        [exe, "predict", source, "-o", "-", "--scheduler", address], capture_output=True, text=True
    )
    assert refused.returncode == 2 and "output must be a file" in refused.stderr, refused.stderr

    whole, shards, queries = library
    native = subprocess.run([exe, "search", queries, "--library", whole, "--top", "4"], capture_output=True)
    library_args = [a for s in shards for a in ("--library", s)]
    spread = subprocess.run(
        [exe, "search", queries, *library_args, "--top", "4", "--scheduler", address], capture_output=True
    )
    assert (native.returncode, spread.returncode) == (0, 0), spread.stderr
    assert native.stdout == spread.stdout and native.stdout.count(b"\n") == 41
    empty = tmp_path / "empty.msp"
    empty.write_text("")
    for args in (["--library", whole], [*library_args, "--scheduler", address]):
        r = subprocess.run([exe, "search", empty, *args], capture_output=True, text=True)
        assert r.returncode == 2 and "empty.msp holds no spectrum" in r.stderr and r.stdout == "", r.stderr
