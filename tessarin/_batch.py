"""Batch prediction of EI spectra into spectral-library files."""

import os
import sys
from collections.abc import Callable, Iterable
from typing import Any, Literal

from . import _native
from ._types import FilePath, Model, Molecule


def _format_of(output):
    """The format an output given without fmt is written in: the one its extension names, as for the command."""
    return _native.library_output_format(output)


def _interactive():
    if "ipykernel" in sys.modules:
        return True
    stream = sys.stderr
    return stream is not None and hasattr(stream, "isatty") and stream.isatty()


class _Progress:
    """A tqdm bar fed with the run's counts of molecules done and failed."""

    def __init__(self, total):
        from tqdm.auto import tqdm

        self._bar = tqdm(total=total, unit="mol", dynamic_ncols=True)
        self._done = 0

    def __call__(self, done, failed):
        if done > self._done:
            self._bar.update(done - self._done)
            self._done = done
        if failed:
            self._bar.set_postfix(failed=failed, refresh=False)

    def close(self):
        self._bar.close()


def predict_library(
    molecules: Iterable[Molecule | tuple[str, Molecule]] | os.PathLike[str] | os.PathLike[bytes],
    output: FilePath | None = None,
    fmt: Literal["msp", "jsonl", "csv", "mgf"] | None = None,
    ring_fragmentation: bool = False,
    recursive_ms: bool = False,
    jobs: int | None = None,
    model: Model = "schematic",
    timeout_per_molecule: float | None = None,
    max_generations: int = 2,
    progress: bool | Callable[[int, int], object] | None = None,
    resume: bool = False,
    lines: tuple[int, int | None] | None = None,
) -> list[dict[str, Any]] | dict[str, Any]:
    """Predict the EI spectrum of every molecule of ``molecules`` in native worker processes.

    ``molecules`` is any iterable of SMILES strings, RDKit molecules or
    (name, SMILES or molecule) pairs, read completely before the work starts
    (a molecule is analysed as its canonical SMILES; alone, it is named by its
    "_Name" property); or the path (a ``pathlib.Path`` or other path-like
    object, not a str) of a SMILES, SDF or CSV/TSV file, plain or gzip-
    compressed, read as ``tessarin predict`` reads it. ``jobs`` worker
    processes (None: one per core) analyse the molecules; results keep the
    input order. ``lines``, a (first, last) pair (last None for the end),
    keeps the molecules that start on those lines of the file (for an
    iterable, those positions, from 1).

    ``timeout_per_molecule`` seconds (None or 0: no limit) holds whatever the
    step: a molecule still running at the limit is stopped and listed as
    failed. A molecule that crashes its worker fails alone; the run goes on.
    With ``recursive_ms`` the peaks of ``max_generations`` generations of
    further cuts are added.

    With ``output`` None, returns a list with one dict per molecule: for a
    spectrum the keys line, name, smiles, formula, mol_mass, mol_mass_avg,
    lpi, soft_bonds, fragments, recursive_peaks and peaks (each peak a dict
    mz, intensity, formula; molecular ion 999, fragments 599), plus casno
    and id when the input gives them and options when the prediction used
    any beyond the defaults; for a molecule that failed the keys line, name,
    smiles and error. recursive_peaks lists the further generations' peaks
    (dicts mz, formula, generation) with ``recursive_ms``, otherwise it is None.

    ``model="ei"`` predicts intensities instead (competing ions with their
    isotope clusters): peaks on 0..999, each peak's formula a list of every
    ion at that m/z, and the records say so ("comments" in dicts and JSON
    Lines, the MSP Comments line; CSV rows name every formula).

    With an ``output`` path, writes the spectra in ``fmt`` ("msp", "jsonl",
    "csv" or "mgf"; when None, from the extension: .jsonl, .csv, .mgf, else
    MSP; never compressed) and the
    failed molecules to ``output + ".errors.tsv"``, records how the file was
    made in ``output + ".run.json"``, and returns {"written": spectra
    written, "failed": molecules failed, "errors": the error file's path or
    None}. With ``resume``, an existing output made with the same molecules
    and options is continued: the molecules it holds are skipped and the rest
    appended (ValueError when it was made otherwise).

    ``progress`` True shows a progress bar (tqdm), False none, None one when
    running interactively (a terminal or a notebook); a callable is called
    about ten times a second with the numbers of molecules done and failed.
    Ctrl-C stops the run at once, leaving a valid file of the molecules
    finished so far, and raises KeyboardInterrupt.
    """
    input_path = None
    total = None
    if isinstance(molecules, os.PathLike):
        input_path = os.fsdecode(os.fspath(molecules))
        molecules = None
    elif not isinstance(molecules, (str, bytes)) and hasattr(molecules, "__iter__"):
        if hasattr(molecules, "__len__"):
            total = len(molecules)
    if output is not None:
        output = os.fsdecode(os.fspath(output))
        if "\0" in output:
            raise ValueError("output path holds a NUL character")
    if fmt is None:
        fmt = _format_of(output) if output is not None else "msp"
    elif not isinstance(fmt, str):
        raise TypeError(f"fmt must be a string, not {type(fmt).__name__}")
    if timeout_per_molecule == 0:
        timeout_per_molecule = None

    bar = None
    callback = progress
    if progress is True or (progress is None and _interactive()):
        if input_path is not None:
            total = _native.count_molecules(input_path, lines)
        bar = callback = _Progress(total)
    elif progress is False or progress is None:
        callback = None
    try:
        return _native.predict_library(
            molecules,
            input_path,
            output,
            fmt,
            bool(ring_fragmentation),
            bool(recursive_ms),
            jobs,
            model,
            timeout_per_molecule,
            max_generations,
            callback,
            bool(resume),
            lines,
        )
    finally:
        if bar is not None:
            bar.close()
