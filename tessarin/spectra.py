"""Spectra as data: measured and predicted EI spectra, their files, scores, library search and identification.

A ``Spectrum`` holds NumPy arrays ``mz`` and ``intensities`` (sorted by m/z),
a list ``annotations`` (one entry per peak: None or the ion formula; several
ions of one peak are joined by ", ") and a dict ``metadata`` of text fields.
Readers are generators; the work (reading, scoring, predicting, searching)
is native.
"""

import collections
import warnings

import numpy as np

from . import _native

SpectrumRecordError = _native.SpectrumRecordError
SpectrumRecordError.__doc__ = (
    "A record of a spectrum file that cannot be read (a ValueError); "
    "``path``, ``line`` and ``reason`` say where and why."
)


class Spectrum:
    """A mass spectrum: peaks, what each peak is, and the record's metadata.

    ``Spectrum(mz, intensities, annotations=None, metadata=None)`` takes the
    peaks in any order and sorts them by m/z (equal m/z keep their order).
    m/z and intensities must be finite and non-negative and of one length;
    ``annotations`` is None or one entry per peak (None, a formula, or a list
    of formulas); ``metadata`` maps text keys to text or numbers (kept as
    text). The usual keys are name, smiles, formula, mol_mass, exact_mass,
    precursor_mz, instrument, accession and comments; other keys keep the
    name they have in the source file.

    ``mz`` and ``intensities`` are read-only float64 arrays, so the peaks stay
    sorted; ``annotations`` and ``metadata`` are a plain list and dict.
    """

    __slots__ = ("_mz", "_intensities", "annotations", "metadata")

    def __init__(self, mz, intensities, annotations=None, metadata=None):
        self._set(_native.spectrum_from_peaks(mz, intensities, annotations, metadata))

    def _set(self, parts):
        self._mz, self._intensities, self.annotations, self.metadata = parts

    @classmethod
    def _from_parts(cls, parts):
        spectrum = cls.__new__(cls)
        spectrum._set(parts)
        return spectrum

    @property
    def mz(self):
        """m/z of the peaks, ascending (read-only float64 array)."""
        return self._mz

    @property
    def intensities(self):
        """Intensity of each peak (read-only float64 array)."""
        return self._intensities

    @property
    def name(self):
        """``metadata["name"]``, or None."""
        return self.metadata.get("name")

    def normalized(self, scale=1.0):
        """A copy whose intensities are scaled so that the base peak is ``scale`` (1, or 999 as libraries do).

        A spectrum without peaks or with only zero intensities comes back unchanged.
        """
        return Spectrum._from_parts(_native.spectrum_normalized(self, scale))

    def __len__(self):
        return len(self._mz)

    def __eq__(self, other):
        if not isinstance(other, Spectrum):
            return NotImplemented
        return (
            np.array_equal(self._mz, other._mz)
            and np.array_equal(self._intensities, other._intensities)
            and list(self.annotations) == list(other.annotations)
            and dict(self.metadata) == dict(other.metadata)
        )

    __hash__ = None

    def __repr__(self):
        label = self.metadata.get("name") or self.metadata.get("smiles") or self.metadata.get("accession")
        head = f"Spectrum({label!r}, " if label else "Spectrum("
        n = len(self._mz)
        if n == 0:
            return head + "no peaks)"
        base = int(np.argmax(self._intensities))
        return (
            f"{head}{n} peak{'s' if n != 1 else ''}, m/z {_number(self._mz[0])}\u2013{_number(self._mz[-1])}, "
            f"base peak m/z {_number(self._mz[base])})"
        )


def _number(x):
    return str(int(x)) if float(x).is_integer() else f"{x:g}"


def predict_spectrum(smiles_or_mol, ring_fragmentation=False, recursive_ms=False, max_generations=2, model="schematic"):
    """The predicted EI spectrum of a molecule, as a ``Spectrum``.

    ``smiles_or_mol`` is a SMILES string or an RDKit ``Mol`` (analysed as its
    canonical SMILES). The schematic model gives the molecular ion at 999 and
    every fragment m/z of the split cuts at 599, each annotated with its
    formula; ``ring_fragmentation`` adds ring double cuts, ``recursive_ms``
    the peaks of ``max_generations`` generations of further cuts. The "ei"
    model predicts intensities: ions compete for the ion current by named
    chemical features with fitted weights, each with its isotope cluster, and
    a peak lists the formula of every ion at its m/z (the ring and recursive
    options do not change it). Metadata: name (when given), smiles, formula,
    mol_mass (nominal), and for "ei" comments naming the model. ValueError
    when the SMILES cannot be read or the model is unknown.
    """
    return Spectrum._from_parts(
        _native.predict_spectrum(smiles_or_mol, bool(ring_fragmentation), bool(recursive_ms), max_generations, model)
    )


def read_spectra(path, format=None, errors="raise"):
    """The spectra of a file, one record at a time (a generator; the file is opened at the call).

    Formats, told by ``format`` or else by the extension or the content: NIST
    MSP (``msp``, as NIST, MoNA, MS-DIAL and tessarin write it), MassBank
    record files (``massbank``; a directory of them too), JCAMP-DX mass
    spectra (``jcamp``), MGF (``mgf``) and JSON Lines (``jsonl``). ``"-"``
    reads standard input.

    A malformed record raises ``SpectrumRecordError`` (a ValueError naming the
    file and the line) with ``errors="raise"``; with ``errors="warn"`` it is
    reported as a warning and reading goes on. A file that cannot be opened
    raises the OSError of the reason (FileNotFoundError, IsADirectoryError
    for a directory read in another format than MassBank, PermissionError),
    one that cannot be read OSError; the file may be gzip-compressed.
    """
    if errors not in ("raise", "warn"):
        raise ValueError(f'errors must be "raise" or "warn", not {errors!r}')
    return _records(_native.SpectrumReader(path, format), errors == "warn")


def _records(reader, warn):
    while True:
        try:
            parts = next(reader)
        except StopIteration:
            return
        except SpectrumRecordError as e:
            if not warn:
                raise
            warnings.warn(str(e), stacklevel=2)
            continue
        yield Spectrum._from_parts(parts)


def write_spectra(spectra, path, format=None):
    """Write spectra (any iterable of ``Spectrum``) to ``path``; returns how many were written.

    The format is ``format`` ("msp", "mgf", "jsonl" or "csv", a peak table)
    or else the extension (.msp, .mgf, .jsonl, .csv); files are written
    uncompressed. MSP is written as NIST MS Search reads it (a nameless
    spectrum gets its SMILES or accession as name), annotations as quoted
    text after each peak; an MGF header holds TITLE, PEPMASS, MW, SMILES,
    FORMULA, COMMENTS and the fields that are MGF parameters (the rest of a
    library record belongs to JSON Lines). Reading the file back gives the
    same spectra for what the format holds. A path that cannot be created
    raises the OSError of the reason (FileNotFoundError, IsADirectoryError);
    a write that fails (a full disk) leaves the file cut at its last whole
    record.
    """
    return _native.write_spectra(spectra, path, format)


Match = collections.namedtuple("Match", ["score", "pairs"])
Match.__doc__ = "A similarity: the score and the matched peak pairs (index in a, index in b), by a's index."


def similarity(a, b, method="cosine", tolerance=0.5, mz_power=None, intensity_power=None, reverse=False):
    """Score spectrum ``a`` (the query, measured) against ``b`` (the reference, library or predicted).

    Every peak is weighed ``w = mz**p * I**q`` (m/z power p, intensity power
    q; computed from m/z and intensities scaled to their largest value, which
    changes no score). Pairs of peaks within ``tolerance`` m/z are matched
    greedily, the largest product ``w_a * w_b`` first (ties: lower index of a,
    then of b), each peak at most once.

    - ``"cosine"`` (default p = 0, q = 1; the CosineGreedy convention):
      ``S = sum(w_a * w_b over matched pairs) / (sqrt(sum w_a**2) * sqrt(sum w_b**2))``.
    - ``"dot_product"`` (default p = 3, q = 0.6; the EI library-search dot
      product): ``D = S**2`` with these weights.
    - ``"composite"`` (default p = 3, q = 0.6; the composite match factor):
      ``F = (N_U * D + N_LU * R) / (N_U + N_LU)``, N_U the peaks of a, N_LU the
      matched pairs, ``R = (1/N_LU) * sum_{k=2..N_LU} min(r_k, 1/r_k)`` with
      ``r_k = (w_b,k * w_a,k-1) / (w_b,k-1 * w_a,k)`` over the matched pairs in
      order of m/z (0 with fewer than two matches).

    ``reverse=True`` first drops the peaks of a with no peak of b within the
    tolerance, so only what b shows counts. Scores lie in [0, 1]. Returns
    ``Match(score, pairs)``.
    """
    score, pairs = _native.similarity(a, b, method, tolerance, mz_power, intensity_power, bool(reverse))
    return Match(score, pairs)


RankedCandidate = collections.namedtuple(
    "RankedCandidate", ["rank", "score", "matched", "name", "smiles", "formula", "spectrum", "position"]
)
RankedCandidate.__doc__ = (
    "A ranked candidate: rank (equal scores share the best), score, matched peak pairs, "
    "name, SMILES, formula, predicted spectrum, position among the candidates given (0-based)."
)
FailedCandidate = collections.namedtuple("FailedCandidate", ["position", "line", "name", "smiles", "reason"])


class Ranking(list):
    """The ranked candidates (a list of ``RankedCandidate``, best first), with the candidates that
    failed (``failed``: ``FailedCandidate`` entries) and the number left out by the mass or formula
    filter (``filtered_out``)."""

    def __init__(self, rows, failed, filtered_out):
        super().__init__(rows)
        self.failed = failed
        self.filtered_out = filtered_out


def rank_candidates(
    spectrum,
    candidates,
    method="cosine",
    tolerance=0.5,
    mz_power=0,
    intensity_power=0.5,
    reverse=False,
    mass=None,
    formula=None,
    ring_fragmentation=False,
    recursive_ms=False,
    max_generations=2,
    model="schematic",
    jobs=None,
    time_limit=None,
):
    """Predict every candidate structure and rank it by its score against the measured ``spectrum``.

    ``candidates``: an iterable of SMILES strings, (name, SMILES) pairs or
    RDKit Mols, or the path of a SMILES, SDF or CSV/TSV file (with a column
    headed "smiles"). ``mass`` keeps only candidates of that nominal mass (an
    integer, or ``"molecular_ion"``: the molecular mass of the spectrum's
    metadata); ``formula`` only those of that formula. The score is
    ``similarity(spectrum, predicted, method, ...)``; the default is the
    cosine of square-rooted intensities. Candidates are predicted on ``jobs``
    native threads (None: one per core); ``time_limit`` seconds per molecule.

    Returns a ``Ranking``: best first, equal scores in input order sharing
    the best rank. Candidates that cannot be predicted are listed in
    ``.failed``; Ctrl-C raises KeyboardInterrupt.
    """
    rows, failed, filtered_out = _native.rank_candidates(
        spectrum,
        candidates,
        method,
        tolerance,
        mz_power,
        intensity_power,
        bool(reverse),
        mass,
        formula,
        model,
        bool(ring_fragmentation),
        bool(recursive_ms),
        max_generations,
        jobs,
        time_limit,
    )
    ranked = [RankedCandidate(r[0], r[1], r[2], r[3], r[4], r[5], Spectrum._from_parts(r[6]), r[7]) for r in rows]
    return Ranking(ranked, [FailedCandidate(*f) for f in failed], filtered_out)


LibraryHit = collections.namedtuple("LibraryHit", ["index", "score", "matched", "spectrum"])
LibraryHit.__doc__ = "A library hit: the entry's 0-based index in the library, score, matched peak pairs, the entry."
QueryResult = collections.namedtuple("QueryResult", ["query", "hits", "error"])
QueryResult.__doc__ = "A query spectrum, its hits (best first) and why it was not searched (None when it was)."


def search_library(
    queries,
    library,
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
):
    """Search each query spectrum against a spectral library; one ``QueryResult`` per query, in order.

    ``queries`` and ``library``: a spectrum file's path (any format
    ``read_spectra`` reads) or an iterable of ``Spectrum``. Each query keeps
    its ``top`` best library entries scoring at least ``min_score`` with at
    least one matched peak, best first (equal scores: lower library index
    first), exactly as scoring every entry with ``similarity(query, entry,
    method, ...)`` would give; an inverted peak index only makes it faster.
    ``mass_tolerance`` keeps only entries whose molecular mass (mol_mass,
    exact_mass or precursor_mz) lies within it of the query's. ``jobs``
    threads (None: one per core). Malformed records of files raise
    ``SpectrumRecordError`` (``errors="raise"``) or are warned about and left
    out (``errors="warn"``).
    """
    if errors not in ("raise", "warn"):
        raise ValueError(f'errors must be "raise" or "warn", not {errors!r}')
    results, refused = _native.search_library(
        queries,
        library,
        top,
        method,
        tolerance,
        mz_power,
        intensity_power,
        bool(reverse),
        min_score,
        mass_tolerance,
        jobs,
        errors == "warn",
    )
    for path, line, reason in refused:
        warnings.warn(f"{path}:{line}: {reason}", stacklevel=2)
    return [
        QueryResult(
            Spectrum._from_parts(q), [LibraryHit(i, s, m, Spectrum._from_parts(e)) for i, s, m, e in hits], error
        )
        for q, hits, error in results
    ]


Evaluation = collections.namedtuple("Evaluation", ["spectra", "summary", "report"])
Evaluation.__doc__ = (
    "An evaluation: one dict per measured spectrum, the summary dict of means, " "and the summary as text."
)


def evaluate(
    spectra,
    method="cosine",
    tolerance=0.5,
    mz_power=0,
    intensity_power=0.5,
    ring_fragmentation=False,
    recursive_ms=False,
    max_generations=2,
    model="schematic",
    jobs=None,
    time_limit=None,
    errors="raise",
):
    """Predict the spectrum of every measured spectrum's structure (its metadata "smiles") and measure the prediction.

    ``spectra``: a file's path or an iterable of ``Spectrum``. Per spectrum:
    ``score`` (``similarity`` of the measured against the predicted spectrum,
    by default the cosine of square-rooted intensities); ``recall_at_5`` (share
    of the five most intense measured m/z >= 15 that the prediction names at
    >= 5 % of its base peak); ``precision`` (share of the predicted m/z at
    >= 5 % of the predicted base peak, molecular ion excepted, that the
    measured spectrum shows at >= 5 % of its base peak); ``base_peak_hit``;
    and the identification among isobaric candidates: every distinct
    structure (canonical SMILES without stereochemistry) of the same input
    with the same nominal mass is a candidate, ranked by the score; ``rank``
    counts ties half, ``top1``, ``top3`` (1/2 for a tie across the place) and
    ``reciprocal_rank``. Each structure is predicted once, on ``jobs`` native
    threads. Spectra without SMILES or whose prediction fails get ``error``.

    Returns ``Evaluation(spectra, summary, report)``: the per-spectrum dicts,
    the means (keys score, recall_at_5, precision, base_peak_hit, top1, top3,
    mrr, mean_rank, mean_candidates; spectra, evaluated, structures,
    failed_structures count), and the summary text.
    """
    if errors not in ("raise", "warn"):
        raise ValueError(f'errors must be "raise" or "warn", not {errors!r}')
    rows, summary, report, refused = _native.evaluate(
        spectra,
        method,
        tolerance,
        mz_power,
        intensity_power,
        model,
        bool(ring_fragmentation),
        bool(recursive_ms),
        max_generations,
        jobs,
        time_limit,
        errors == "warn",
    )
    for path, line, reason in refused:
        warnings.warn(f"{path}:{line}: {reason}", stacklevel=2)
    return Evaluation(rows, summary, report)
