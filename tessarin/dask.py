"""Library-scale prediction and search on a Dask cluster.

``predict_library`` splits molecule files into chunks of ``chunk_size``
molecules; every chunk is a task that reads its own part of the file on a
worker (the file must be readable there under the same path), runs the
native threaded batch and writes one shard with its error file into
``output_dir``. ``manifest.json`` there records the arguments, which chunk
covers which molecules and lines, and how each chunk ended. A rerun with the
same arguments does only the chunks that have not finished (after a lost
worker or a job cut off by the batch system); ``merge`` joins the shards into
one library in input order, the file the single-machine ``predict`` writes.

``search_library`` scores query spectra against a library split into shard
files, one task per shard, and merges the hits as one search over the whole
library would rank them.

``tessarin predict|search --scheduler ADDRESS`` parses its arguments and
hands the request to ``python -m tessarin.dask`` (on standard input, as
JSON): the predict request is the command's library job, the one the
workers run chunk by chunk. The reply goes back to the command, which
reports the run and writes the search's table itself.

Importing ``tessarin`` does not import this module or Dask.
"""

import json
import os
import shutil
import signal
import sys
import time
import uuid
import warnings

import dask.bag
import distributed

from . import _native
from . import spectra as _spectra

MANIFEST = "manifest.json"
_MANIFEST_KIND = "tessarin predicted library shards, version 2"
_MANIFEST_KINDS = ("tessarin predicted library shards, version 1",)  # earlier versions, refused by name
# The job's settings that decide what the shards hold (not the worker threads, nor where the run goes).
_JOB_ARGUMENTS = ("format", "model", "ring", "recursive", "max_generations", "timeout_per_molecule")
_MANIFEST_INTERVAL = 5.0  # seconds

# Called with the chunk's manifest entry on the worker before the chunk runs
# (tests use it to lose a worker in the middle of a run).
_before_chunk = None


class ShardError(RuntimeError):
    """Chunks of a run that did not finish; running again with the same arguments goes on with them."""


class WorkerEnvironmentError(RuntimeError):
    """Dask workers that cannot run tessarin's tasks: the package does not import there, or is another version."""


# The probe runs on every worker. It is defined in a namespace of its own so that it travels by value:
# a worker without the package could not unpickle a function of this module.
_PROBE_SOURCE = """
def probe():
    import sys
    try:
        import tessarin
    except BaseException as e:
        return sys.executable, None, type(e).__name__ + ": " + str(e)
    return sys.executable, getattr(tessarin, "__version__", None), None
"""


def _probe():
    namespace = {"__name__": "tessarin_worker_probe"}
    exec(_PROBE_SOURCE, namespace)
    return namespace["probe"]


def _worker_command(address=None):
    """How to start a worker that runs tessarin's tasks: the ``dask`` command of this environment."""
    here = os.path.dirname(sys.executable)
    command = os.path.join(here, "dask")
    command = f"{command} worker" if os.access(command, os.X_OK) else f"{sys.executable} -m dask worker"
    return f"{command} {address}" if address else command


def check_workers(client):
    """Raise WorkerEnvironmentError unless every worker of ``client`` imports this version of tessarin.

    Workers started by another interpreter (Debian's ``dask worker`` runs /usr/bin/python3, which does not
    see the set-up's environment) would fail every task with ModuleNotFoundError. The message says what
    to start instead. Workers that join later are not checked. Returns the number of workers checked.
    """
    found = client.run(_probe())
    wrong = []
    for worker, (python, version, error) in sorted(found.items()):
        if error is not None:
            wrong.append(f"{worker} ({python}) cannot import tessarin: {error}")
        elif version != _native.__version__:
            wrong.append(f"{worker} ({python}) has tessarin {version}, not {_native.__version__}")
    if wrong:
        more = f" and {len(wrong) - 3} more" if len(wrong) > 3 else ""
        address = getattr(client.scheduler, "address", None)
        raise WorkerEnvironmentError(
            f"{len(wrong)} of {len(found)} Dask workers cannot run tessarin's tasks: "
            + "; ".join(wrong[:3])
            + more
            + f". Start the workers with the interpreter tessarin is set up with: {_worker_command(address)}"
        )
    return len(found)


def _client(client):
    if client is None:
        try:
            client = distributed.default_client()
        except ValueError:
            raise ValueError("no Dask client: pass client= or connect one (distributed.Client(address))") from None
    check_workers(client)
    return client


def _write_json_atomically(path, data):
    temp = f"{path}.tmp-{uuid.uuid4().hex}"
    with open(temp, "w", encoding="utf-8") as f:
        json.dump(data, f, indent=1)
        f.write("\n")
    os.replace(temp, path)


def _shard_name(chunk, fmt):
    return f"chunk-{chunk:06d}.{fmt}"


def _done_marker(output_dir, chunk):
    return os.path.join(output_dir, f"chunk-{chunk:06d}.done.json")


def _stat_file(path):
    st = os.stat(path)
    return {"path": path, "size": st.st_size, "mtime_ns": st.st_mtime_ns}


def _scan_file(path, chunk_size):
    """Worker: the file's identity and the reader's position at every chunk start."""
    identity = _stat_file(path)
    molecules, starts = _native.molecule_file_chunks(path, chunk_size)
    identity["molecules"] = molecules
    return identity, starts


def _finish_shard(output_dir, entry, temp, result):
    """Moves a chunk's files to their names (error file first: the shard's presence means done)."""
    shard = os.path.join(output_dir, entry["shard"])
    errors = shard + ".errors.tsv"
    if result["errors"] is not None:
        os.replace(temp + ".errors.tsv", errors)
    elif os.path.exists(errors):
        os.remove(errors)
    os.replace(temp, shard)
    done = {
        "written": result["written"],
        "failed": result["failed"],
        "errors": os.path.basename(errors) if result["errors"] is not None else None,
    }
    _write_json_atomically(_done_marker(output_dir, entry["chunk"]), done)
    return done


def _jobs_on_worker(jobs):
    if jobs is not None:
        return jobs
    try:
        return distributed.get_worker().state.nthreads
    except ValueError:  # not on a worker
        return None


def _chunk_job(job, temp):
    """The library job of one chunk: the run's prediction settings, written into a shard without a run record."""
    return dict(
        job,
        output=temp,
        resume=False,
        run_record=False,
        lines=None,
        cluster=None,
        jobs=_jobs_on_worker(job["jobs"]),
    )


def _lost_again(entry, result):
    """The molecules whose worker process was killed from outside for the first time (none: the chunk is done).

    Such a molecule failed for want of memory or by an operator's hand, not by its own chemistry: the
    chunk is left unfinished, so that a rerun gives it another try. A molecule killed again on its
    second try is recorded as failed, as a run on one machine records it.
    """
    return sorted(set(result["killed"]) - set(entry.get("killed", [])))


def _run_file_chunk(output_dir, entry, path, job):
    """Worker: predicts one chunk of a file into its shard."""
    if _before_chunk is not None:
        _before_chunk(entry)
    temp = os.path.join(output_dir, f".{entry['shard']}.tmp-{uuid.uuid4().hex}")
    try:
        chunk = dict(_chunk_job(job, temp), input=path, part={"start": entry["start"], "molecules": entry["molecules"]})
        result = _native.run_library_job(json.dumps(chunk))
        if result["read"] != entry["molecules"]:
            raise ValueError(
                f"{path} changed: chunk {entry['chunk']} found {result['read']} molecules, not {entry['molecules']}"
            )
        lost = _lost_again(entry, result)
        return {"killed": lost} if lost else _finish_shard(output_dir, entry, temp, result)
    finally:
        for leftover in (temp, temp + ".errors.tsv"):
            if os.path.exists(leftover):
                os.remove(leftover)


def _run_bag_chunk(partition, output_dir, entry, job):
    """Worker: predicts one partition of a bag into its shard."""
    if _before_chunk is not None:
        _before_chunk(entry)
    molecules = list(partition)
    if len(molecules) != entry["molecules"]:
        raise ValueError(
            f"the bag changed: partition {entry['chunk']} holds {len(molecules)} molecules, "
            f"not {entry['molecules']}"
        )
    temp = os.path.join(output_dir, f".{entry['shard']}.tmp-{uuid.uuid4().hex}")
    try:
        chunk = dict(_chunk_job(job, temp), input=None, first_line=entry["first_line"])
        result = _native.run_library_job(json.dumps(chunk), molecules)
        lost = _lost_again(entry, result)
        return {"killed": lost} if lost else _finish_shard(output_dir, entry, temp, result)
    finally:
        for leftover in (temp, temp + ".errors.tsv"):
            if os.path.exists(leftover):
                os.remove(leftover)


def _read_manifest(output_dir):
    path = os.path.join(output_dir, MANIFEST)
    try:
        with open(path, encoding="utf-8") as f:
            manifest = json.load(f)
    except FileNotFoundError:
        return None
    except (OSError, ValueError) as e:
        raise ValueError(f"cannot read {path}: {e}") from None
    kind = manifest.get("kind") if isinstance(manifest, dict) else None
    if kind in _MANIFEST_KINDS:
        raise ValueError(
            f"{path} is a manifest of an earlier tessarin ({kind}); finish that run with the version that started "
            "it, or use another directory"
        )
    if kind != _MANIFEST_KIND:
        raise ValueError(f"{path} is not the manifest of predicted library shards")
    return manifest


def _differences(old, new):
    return [
        f"{key}: {old.get(key)!r} there, {new.get(key)!r} now"
        for key in sorted(set(old) | set(new))
        if old.get(key) != new.get(key)
    ]


def _plan_files(client, paths, chunk_size):
    scans = client.gather(client.map(_scan_file, paths, [chunk_size] * len(paths), pure=False))
    identities, chunks = [], []
    for k, (identity, starts) in enumerate(scans):
        identities.append(identity)
        n = identity["molecules"]
        for j, start in enumerate(starts):
            chunks.append(
                {
                    "input": k,
                    "first_molecule": j * chunk_size,
                    "molecules": min(chunk_size, n - j * chunk_size),
                    "start": start,
                    "first_line": start["line"] + 1,
                }
            )
    for i, entry in enumerate(chunks):
        entry["chunk"] = i
        nxt = chunks[i + 1] if i + 1 < len(chunks) and chunks[i + 1]["input"] == entry["input"] else None
        entry["last_line"] = nxt["start"]["line"] if nxt else None  # None: to the end of the file
    return identities, chunks


def predict_library(
    inputs,
    output_dir,
    client=None,
    model="schematic",
    chunk_size=1000,
    fmt="msp",
    ring_fragmentation=False,
    recursive_ms=False,
    max_generations=2,
    time_limit=None,
    jobs=None,
):
    """Predict the spectra of molecule files (or a Dask bag) on a Dask cluster into shards of ``output_dir``.

    ``inputs``: the path of a SMILES, SDF or CSV/TSV file, a list of such
    paths, or a ``dask.bag.Bag`` of SMILES strings or (name, SMILES) pairs
    (one chunk per partition). Files are split into chunks of ``chunk_size`` molecules, read on
    the workers. Each chunk runs the native batch on ``jobs`` threads (None:
    the worker's thread count) and writes ``chunk-NNNNNN.FMT`` and, when
    molecules failed, its ``.errors.tsv``, under temporary names renamed when
    complete. Molecules keep the line numbers of their whole file.

    ``output_dir`` (created if need be) holds ``manifest.json``; a rerun with
    the same arguments and unchanged inputs skips the finished chunks, one
    with other arguments raises ValueError. ``client``: a
    ``distributed.Client`` (None: the default one).

    Returns {"chunks", "done", "skipped", "written", "failed"}. Chunks that
    fail (a worker lost too often, a read error) are marked failed in the
    manifest after the others ended, and ShardError is raised. So are chunks
    in which a molecule's native worker process was killed from outside (the
    out-of-memory killer): the manifest lists its line under "killed" and a
    rerun tries it again; killed a second time, it is recorded as failed.
    """
    if not isinstance(fmt, str) or not isinstance(model, str):
        raise TypeError("fmt and model must be strings")
    if isinstance(chunk_size, bool) or not isinstance(chunk_size, int) or chunk_size < 1:
        raise ValueError(f"chunk_size must be a whole number >= 1, not {chunk_size!r}")
    job = _library_job(
        format=fmt,
        model=model,
        ring=bool(ring_fragmentation),
        recursive=bool(recursive_ms),
        max_generations=max_generations,
        timeout_per_molecule=float(time_limit) if time_limit else 0.0,
        jobs=jobs,
    )
    return _predict_job(job, inputs, output_dir, _client(client), chunk_size)


def _library_job(**fields):
    """A library job of these fields, checked by the engine (ValueError names what cannot run)."""
    return json.loads(_native.library_job(json.dumps(dict(kind="tessarin library job", version=1, **fields))))


def _predict_job(job, inputs, output_dir, client, chunk_size):
    """Runs ``job``'s prediction over ``inputs`` (paths or a bag) in chunks into the shards of ``output_dir``."""
    output_dir = os.path.abspath(os.fspath(output_dir))
    os.makedirs(output_dir, exist_ok=True)
    fmt = job["format"]
    settings = {key: job[key] for key in _JOB_ARGUMENTS}

    bag = inputs if isinstance(inputs, dask.bag.Bag) else None
    if bag is not None:
        arguments = dict(settings, chunk_size=None, inputs=[{"bag": bag.name, "partitions": bag.npartitions}])
    else:
        paths = [inputs] if isinstance(inputs, (str, bytes, os.PathLike)) else list(inputs)
        if not paths:
            raise ValueError("no input files")
        paths = [os.path.abspath(os.fsdecode(os.fspath(p))) for p in paths]
        identities = client.gather(client.map(_stat_file, paths, pure=False))
        arguments = dict(settings, chunk_size=chunk_size, inputs=identities)
    manifest = _read_manifest(output_dir)
    if manifest is not None:
        old = manifest["arguments"]
        if old != arguments:
            raise ValueError(
                f"{output_dir} holds shards of a run with other arguments or inputs ("
                + "; ".join(_differences(old, arguments))
                + "); use another directory or empty this one"
            )
    else:
        if bag is not None:
            lengths = client.compute(bag.map_partitions(lambda p: [sum(1 for _ in p)])).result()
            chunks, line = [], 1
            for i, n in enumerate(lengths):
                chunks.append(
                    {
                        "chunk": i,
                        "input": 0,
                        "first_molecule": line - 1,
                        "molecules": n,
                        "first_line": line,
                        "last_line": line + n - 1,
                    }
                )
                line += n
        else:
            identities, chunks = _plan_files(client, paths, chunk_size)
            if [{k: v for k, v in d.items() if k != "molecules"} for d in identities] != arguments["inputs"]:
                raise ValueError("an input file changed while it was being split")
        for entry in chunks:
            entry.update(shard=_shard_name(entry["chunk"], fmt), status="pending")
        manifest = {"kind": _MANIFEST_KIND, "arguments": arguments, "chunks": chunks}
        _write_json_atomically(os.path.join(output_dir, MANIFEST), manifest)

    chunks = manifest["chunks"]
    skipped = 0
    pending = []
    for entry in chunks:
        marker = _done_marker(output_dir, entry["chunk"])
        if os.path.exists(marker) and os.path.exists(os.path.join(output_dir, entry["shard"])):
            with open(marker, encoding="utf-8") as f:
                entry.update(json.load(f), status="done")
            entry.pop("reason", None)
            skipped += 1
        else:
            pending.append(entry)

    futures = {}
    if pending:
        if bag is not None:
            parts = bag.to_delayed()
            if len(parts) != len(chunks):
                raise ValueError("the bag's partitions changed since the manifest was written")
            for entry in pending:
                futures[
                    client.compute(
                        dask.delayed(_run_bag_chunk, pure=False)(parts[entry["chunk"]], output_dir, entry, job)
                    )
                ] = entry
        else:
            for entry in pending:
                futures[
                    client.submit(
                        _run_file_chunk,
                        output_dir,
                        entry,
                        arguments["inputs"][entry["input"]]["path"],
                        job,
                        pure=False,
                    )
                ] = entry

    # The done markers are what a rerun trusts; the manifest is brought up to date every few
    # seconds (rewriting it per chunk would cost the square of the chunk count) and at the end.
    failures = []
    written_at = time.monotonic()
    for future in distributed.as_completed(list(futures)):
        entry = futures[future]
        try:
            result = future.result()
        except Exception as e:  # the chunk stays to be done by a rerun
            entry.update(status="failed", reason=f"{type(e).__name__}: {e}")
            failures.append(entry)
        else:
            if "written" in result:
                entry.update(result, status="done")
                entry.pop("reason", None)
            else:  # molecules to try again: the chunk stays to be done by a rerun
                lines = ", ".join(str(line) for line in result["killed"])
                entry.update(
                    status="failed",
                    killed=sorted(set(entry.get("killed", [])) | set(result["killed"])),
                    reason=f"the worker processes of the molecules on lines {lines} were killed from outside "
                    "(out of memory?); a rerun tries them again",
                )
                failures.append(entry)
        if time.monotonic() - written_at > _MANIFEST_INTERVAL:
            _write_json_atomically(os.path.join(output_dir, MANIFEST), manifest)
            written_at = time.monotonic()
    _write_json_atomically(os.path.join(output_dir, MANIFEST), manifest)
    if failures:
        first = failures[0]
        raise ShardError(
            f"{len(failures)} of {len(chunks)} chunks did not finish (chunk {first['chunk']}: "
            f"{first['reason']}); run again with the same arguments to finish them"
        )
    return {
        "chunks": len(chunks),
        "done": len(futures),
        "skipped": skipped,
        "written": sum(e["written"] for e in chunks),
        "failed": sum(e["failed"] for e in chunks),
    }


def _copy_body(source, target, skip):
    with open(source, "rb") as f:
        if skip and f.read(len(skip)) != skip:
            raise ValueError(f"{source} does not start as a library file of its format does")
        shutil.copyfileobj(f, target, 1 << 20)


def merge(output_dir, path):
    """Write the shards of ``output_dir`` into one library ``path`` in input order (and its error file).

    The result is byte for byte what the single-machine prediction of the
    same input writes: the format's header once, the shards in order, and
    ``path + ".errors.tsv"`` with every failed molecule when any failed (an
    old error file there is removed otherwise). Raises ValueError while
    chunks are unfinished. Returns {"written", "failed", "errors"}.
    """
    output_dir = os.path.abspath(os.fspath(output_dir))
    path = os.fspath(path)
    manifest = _read_manifest(output_dir)
    if manifest is None:
        raise ValueError(f"{output_dir} holds no {MANIFEST}")
    if len(manifest["arguments"]["inputs"]) > 1:
        warnings.warn("the merged library joins several input files; line numbers restart with each file", stacklevel=2)
    chunks = manifest["chunks"]
    unfinished = [e["chunk"] for e in chunks if not os.path.exists(_done_marker(output_dir, e["chunk"]))]
    if unfinished:
        raise ValueError(
            f"{len(unfinished)} of {len(chunks)} chunks are not finished (first: chunk {unfinished[0]});"
            " run predict_library again with the same arguments"
        )
    header = _native.library_output_header(manifest["arguments"]["format"]).encode()
    errors_header = _native.library_errors_header().encode()
    done = []
    for e in chunks:
        with open(_done_marker(output_dir, e["chunk"]), encoding="utf-8") as f:
            done.append(json.load(f))

    token = uuid.uuid4().hex
    temp = f"{path}.tmp-{token}"
    errors_path = path + ".errors.tsv"
    errors_temp = f"{errors_path}.tmp-{token}"
    try:
        with open(temp, "wb") as out:
            out.write(header)
            for e in chunks:
                _copy_body(os.path.join(output_dir, e["shard"]), out, header)
        with_errors = [d["errors"] for d in done if d["errors"] is not None]
        if with_errors:
            with open(errors_temp, "wb") as out:
                out.write(errors_header)
                for name in with_errors:
                    _copy_body(os.path.join(output_dir, name), out, errors_header)
            os.replace(errors_temp, errors_path)
        elif os.path.exists(errors_path):
            os.remove(errors_path)
        os.replace(temp, path)
    finally:
        for leftover in (temp, errors_temp):
            if os.path.exists(leftover):
                os.remove(leftover)
    return {
        "written": sum(d["written"] for d in done),
        "failed": sum(d["failed"] for d in done),
        "errors": errors_path if with_errors else None,
    }


def _search_shard(path, queries, options):
    """Worker: the shard's size, every query's hits in it (indexes within the shard) and its refused records."""
    reader = _native.SpectrumReader(path)
    library, refused = [], []
    while True:
        try:
            library.append(_spectra.Spectrum._from_parts(next(reader)))
        except StopIteration:
            break
        except _native.SpectrumRecordError as e:
            if options["errors"] == "raise":
                raise
            refused.append((e.path, e.line, e.reason))
    # Given as an iterator, the entries come back as a search of the file gives them (not the spectra read here).
    results = _spectra.search_library(queries, iter(library), **{k: v for k, v in options.items() if k != "errors"})
    hits = [([(h.index, h.score, h.matched, h.spectrum) for h in r.hits], r.error) for r in results]
    return len(library), hits, refused


def _search_shards(queries, shards, client, options):
    """The hits of every query over the shards read as one library, the shards' refused records and their size."""
    [sent] = client.scatter([queries], broadcast=True)
    per_shard = client.gather(
        client.map(_search_shard, shards, [sent] * len(shards), [options] * len(shards), pure=False)
    )
    offset = 0
    merged = [([], None) for _ in queries]
    refused = []
    for size, hits, shard_refused in per_shard:
        refused.extend(shard_refused)
        for q, (shard_hits, error) in enumerate(hits):
            merged[q][0].extend((offset + i, s, m, e) for i, s, m, e in shard_hits)
            if error is not None:
                merged[q] = (merged[q][0], error)
        offset += size
    for hits, _ in merged:
        hits.sort(key=lambda h: (-h[1], h[0]))  # the single search's order: score, then library index
        if options["top"]:  # 0: every hit
            del hits[options["top"] :]
    return merged, refused, offset


def search_library(
    queries,
    library_shards,
    client=None,
    top=10,
    method="cosine",
    tolerance=0.5,
    mz_power=None,
    intensity_power=None,
    reverse=False,
    min_score=0.0,
    mass_tolerance=None,
    jobs=None,
    errors="raise",
    measured_range=True,
):
    """Search query spectra against a library split into shard files, one Dask task per shard.

    ``queries``: a spectrum file's path or an iterable of ``Spectrum`` (read
    here and sent to every worker). ``library_shards``: a spectrum file's path
    or a list of them, in library order; each is read by a worker. The
    options and their defaults are those of ``tessarin.search_library``. Returns what
    ``tessarin.search_library`` returns for the shards read as one library:
    one ``QueryResult`` per query, library indexes counted over all shards,
    and the same hits in the same order. Warnings about malformed records
    (``errors="warn"``) are repeated here.
    """
    _spectra._warns(errors)
    if isinstance(library_shards, (str, bytes, os.PathLike)):
        library_shards = [library_shards]
    shards = [os.path.abspath(os.fsdecode(os.fspath(p))) for p in library_shards]
    if not shards:
        raise ValueError("no library shards")
    if isinstance(queries, (str, bytes, os.PathLike)):
        queries = list(_spectra.read_spectra(queries, errors=errors))
    else:
        queries = list(queries)
    if isinstance(top, bool) or not isinstance(top, int) or top < 0:
        raise ValueError(f"top must be a whole number >= 0, not {top!r}")
    client = _client(client)
    options = {
        "top": top,
        "method": method,
        "tolerance": tolerance,
        "mz_power": mz_power,
        "intensity_power": intensity_power,
        "reverse": reverse,
        "min_score": min_score,
        "mass_tolerance": mass_tolerance,
        "jobs": jobs,
        "errors": errors,
        "measured_range": measured_range,
    }
    merged, refused, _ = _search_shards(queries, shards, client, options)
    _spectra._warn_refused(refused)
    return _spectra.SearchResults(
        _spectra.QueryResult(query, [_spectra.LibraryHit(*h) for h in hits], error)
        for query, (hits, error) in zip(queries, merged)
    )


# ---------------------------------------------------------------------------
# python -m tessarin.dask: the command line's --scheduler runs. The command
# writes its request (JSON) on standard input and reads the reply from file
# descriptor 3; failures are said here, on standard error, in one line.

_REPLY_CHANNEL = 3
_WORKER_WAIT = 300.0  # seconds


class _NoWorkers(RuntimeError):
    pass


def _connect(address):
    """A client of the scheduler at ``address`` once a worker has joined, its workers checked."""
    client = distributed.Client(address)
    try:
        waited = time.monotonic()
        while not client.scheduler_info()["workers"]:
            if time.monotonic() - waited > _WORKER_WAIT:
                raise _NoWorkers(
                    f"no Dask worker joined the scheduler {address} within {_WORKER_WAIT:.0f} s; "
                    f"start them with {_worker_command(address)}"
                )
            time.sleep(0.2)
        check_workers(client)
    except BaseException:
        client.close()
        raise
    return client


def _predict_request(request):
    job = json.loads(_native.library_job(json.dumps(request["job"])))
    cluster = job["cluster"]
    if cluster is None:
        raise ValueError("the library job names no cluster")
    work_dir = cluster["work_dir"] or job["output"] + ".shards"
    with _connect(cluster["scheduler"]) as client:
        _predict_job(job, job["input"], work_dir, client, cluster["chunk_size"])
    return merge(work_dir, job["output"])


def _search_request(request):
    options = dict(request["options"], errors="warn")
    queries, places, query_errors = [], [], []
    for path in request["queries"]:
        reader = _native.SpectrumReader(path)
        while True:
            try:
                queries.append(_spectra.Spectrum._from_parts(next(reader)))
            except StopIteration:
                break
            except _native.SpectrumRecordError as e:
                query_errors.append([e.path, e.line, e.reason])
                continue
            places.append((reader.record_path, reader.record_line))
    with _connect(request["scheduler"]) as client:
        merged, refused, size = _search_shards(
            queries, [os.path.abspath(p) for p in request["library"]], client, options
        )

    def entry(index, score, matched, spectrum):
        meta = spectrum.metadata
        return [index, score, matched, meta.get("name", ""), meta.get("smiles", ""), meta.get("formula", "")]

    return {
        "library_size": size,
        "library_errors": [list(e) for e in refused],
        "query_errors": query_errors,
        "queries": [
            {
                "path": path,
                "line": line,
                "name": query.metadata.get("name", ""),
                "error": error,
                "hits": [entry(*h) for h in hits],
            }
            for query, (path, line), (hits, error) in zip(queries, places, merged)
        ],
    }


def _stop_once(signum, frame):
    # The command passes its first stop signal on; later ones must not break the way out.
    for s in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP):
        signal.signal(s, signal.SIG_IGN)
    raise KeyboardInterrupt


def main():
    try:
        reply_channel = os.fdopen(_REPLY_CHANNEL, "w", encoding="utf-8")
    except OSError:
        print("tessarin: python -m tessarin.dask is run by 'tessarin predict|search --scheduler'", file=sys.stderr)
        return 2
    for s in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP):
        signal.signal(s, _stop_once)
    try:
        request = json.loads(sys.stdin.read())
        kind = request.get("request") if isinstance(request, dict) else None
        if kind == "predict":
            reply = _predict_request(request)
        elif kind == "search":
            reply = _search_request(request)
        else:
            raise ValueError(f"not a request of the command line: {kind!r}")
        with reply_channel:
            json.dump(reply, reply_channel)
        return 0
    except (ValueError, TypeError, OSError, ShardError, WorkerEnvironmentError, _NoWorkers) as e:
        print(f"tessarin: {e}", file=sys.stderr)
        return 2
    except KeyboardInterrupt:
        return 130
    except Exception as e:  # a failure of the cluster itself: said in one line, never as a traceback
        print(f"tessarin: the Dask run failed: {type(e).__name__}: {e}", file=sys.stderr)
        return 2


if __name__ == "__main__":
    sys.exit(main())
