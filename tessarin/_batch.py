"""Batch prediction of EI spectra into spectral-library files."""

import os

from . import _native


def predict_library(molecules, output=None, fmt="msp", ring_fragmentation=False, recursive_ms=False, jobs=None,
                    model="schematic"):
    """Predict the EI spectrum of every molecule of ``molecules`` on native threads.

    ``molecules`` is any iterable of SMILES strings, (name, SMILES) pairs or
    RDKit Mols (their canonical SMILES, named by their "_Name" property); it
    is read completely before the work starts. ``jobs`` threads (None: one per
    core) analyse the molecules; results keep the input order.

    With ``output`` None, returns a list with one dict per molecule: for a
    spectrum the keys line, name, smiles, formula, mol_mass, mol_mass_avg,
    lpi, soft_bonds, fragments, recursive_peaks and peaks (each peak a dict
    mz, intensity, formula; molecular ion 999, fragments 599); for a molecule
    that failed the keys line, name, smiles and error. With ``recursive_ms``
    the peaks of two generations of further cuts are added, and
    recursive_peaks lists them (dicts mz, formula, generation); otherwise it
    is None.

    ``model="ei"`` predicts intensities instead (competing ions with their
    isotope clusters): peaks on 0..999, each peak's formula a list of every
    ion at that m/z, and the records say so ("comments" in dicts and JSON
    Lines, the MSP Comments line; CSV rows name every formula).

    With an ``output`` path, writes the spectra in ``fmt`` ("msp", "jsonl" or
    "csv") and the failed molecules to ``output + ".errors.tsv"``, and returns
    {"written": spectra written, "failed": molecules failed, "errors": the
    error file's path or None}. Ctrl-C stops the run, leaving a valid file of
    the molecules finished so far, and raises KeyboardInterrupt.
    """
    if output is not None:
        output = os.fsdecode(os.fspath(output))
        if "\0" in output:
            raise ValueError("output path holds a NUL character")
    if not isinstance(fmt, str):
        raise TypeError(f"fmt must be a string, not {type(fmt).__name__}")
    return _native.predict_library(molecules, output, fmt, bool(ring_fragmentation), bool(recursive_ms), jobs, model)
