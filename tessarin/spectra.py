"""Spectra as data: measured and predicted EI spectra, their files, scores, library search and identification.

A ``Spectrum`` holds NumPy arrays ``mz`` and ``intensities`` (sorted by m/z),
a list ``annotations`` (one entry per peak: None or the ion formula; several
ions of one peak are joined by ", ") and a dict ``metadata`` of text fields.
Readers are generators; the work (reading, scoring, predicting, searching)
is native. Files are named by a path (str, bytes or any os.PathLike such as
``pathlib.Path``); ``read_spectra`` and ``write_spectra`` also take open file
objects. In a notebook a spectrum shows as a small stick plot, rankings and
search results as tables.
"""

from __future__ import annotations

import codecs
import collections
import io
import math
import os
import shutil
import tempfile
import warnings
from collections.abc import Iterable, Iterator
from typing import IO, TYPE_CHECKING, Any, Literal

import numpy as np
from numpy.typing import ArrayLike

from . import _native
from ._types import Errors, FilePath, Model, Molecule, ScoreMethod, SpectrumFormat
from .figures import notebook as _notebook

if TYPE_CHECKING:
    import pandas

SpectrumRecordError = _native.SpectrumRecordError
SpectrumRecordError.__doc__ = (
    "A record of a spectrum file that cannot be read (a ValueError); "
    "``path``, ``line`` and ``reason`` say where and why."
)


class Spectrum:
    """A mass spectrum: peaks, what each peak is, and the record's metadata.

    ``Spectrum(mz, intensities, annotations=None, metadata=None)`` takes the
    peaks as arrays or sequences in any order and sorts them by m/z (equal
    m/z keep their order). m/z and intensities must be finite and
    non-negative and of one length; ``annotations`` is None or one entry per
    peak (None, a formula, or a list of formulas); ``metadata`` maps text
    keys to text or numbers (kept as text). The usual keys are name, smiles,
    formula, mol_mass, exact_mass, precursor_mz, instrument, accession and
    comments; other keys keep the name they have in the source file.

    ``mz`` and ``intensities`` are read-only float64 arrays, so the peaks stay
    sorted; ``annotations`` and ``metadata`` are a plain list and dict.
    ``to_dataframe()`` and ``Spectrum.from_dataframe(df)`` convert to and
    from a pandas DataFrame.
    """

    __slots__ = ("_mz", "_intensities", "annotations", "metadata")

    def __init__(
        self,
        mz: ArrayLike,
        intensities: ArrayLike,
        annotations: Iterable[str | list[str] | None] | None = None,
        metadata: dict[str, str | int | float | None] | None = None,
    ) -> None:
        self._set(_native.spectrum_from_peaks(mz, intensities, annotations, metadata))

    def _set(self, parts):
        self._mz, self._intensities, self.annotations, self.metadata = parts

    @classmethod
    def _from_parts(cls, parts):
        spectrum = cls.__new__(cls)
        spectrum._set(parts)
        return spectrum

    @property
    def mz(self) -> np.ndarray:
        """m/z of the peaks, ascending (read-only float64 array)."""
        return self._mz

    @property
    def intensities(self) -> np.ndarray:
        """Intensity of each peak (read-only float64 array)."""
        return self._intensities

    @property
    def name(self) -> str | None:
        """``metadata["name"]``, or None."""
        return self.metadata.get("name")

    def normalized(self, scale: float = 1.0) -> Spectrum:
        """A copy whose intensities are scaled so that the base peak is ``scale`` (1, or 999 as libraries do).

        A spectrum without peaks or with only zero intensities comes back unchanged.
        """
        return Spectrum._from_parts(_native.spectrum_normalized(self, scale))

    def to_dataframe(self) -> pandas.DataFrame:
        """The peaks as a pandas DataFrame: columns mz, intensity (float64) and annotation (text or None),
        one row per peak in m/z order, and a copy of the metadata in ``.attrs``.

        ImportError when pandas is not installed.
        """
        pd = _pandas("to_dataframe")
        frame = pd.DataFrame(
            {
                "mz": np.array(self._mz),
                "intensity": np.array(self._intensities),
                "annotation": pd.Series(list(self.annotations), dtype=object),
            }
        )
        frame.attrs.update(self.metadata)
        return frame

    @classmethod
    def from_dataframe(cls, frame: pandas.DataFrame, metadata: dict[str, Any] | None = None) -> Spectrum:
        """A spectrum from a DataFrame with columns mz and intensity (or intensities), and optionally annotation.

        Missing annotations (None, NaN, pandas' NA) become None. The metadata
        is ``metadata`` when given, else the frame's ``.attrs``. The peaks are
        checked and sorted as ``Spectrum(...)`` does.
        """
        columns = list(frame.columns)
        if "mz" not in columns:
            raise ValueError(f"from_dataframe: the frame has no 'mz' column (columns: {columns})")
        intensity = next((c for c in ("intensity", "intensities") if c in columns), None)
        if intensity is None:
            raise ValueError(f"from_dataframe: the frame has no 'intensity' column (columns: {columns})")
        annotations = None
        if "annotation" in columns:
            annotations = [None if _missing(a) else a for a in frame["annotation"].tolist()]
        if metadata is None:
            metadata = {k: v for k, v in frame.attrs.items() if not _missing(v)}
        return cls(
            frame["mz"].to_numpy(dtype=np.float64),
            frame[intensity].to_numpy(dtype=np.float64),
            annotations,
            metadata,
        )

    def __len__(self) -> int:
        return len(self._mz)

    def __eq__(self, other: object) -> bool:
        if not isinstance(other, Spectrum):
            return NotImplemented
        return (
            np.array_equal(self._mz, other._mz)
            and np.array_equal(self._intensities, other._intensities)
            and list(self.annotations) == list(other.annotations)
            and dict(self.metadata) == dict(other.metadata)
        )

    __hash__ = None

    def __repr__(self) -> str:
        label = _notebook.spectrum_label(self)
        head = f"Spectrum({label!r}, " if label else "Spectrum("
        n = len(self._mz)
        if n == 0:
            return head + "no peaks)"
        base = int(np.argmax(self._intensities))
        return (
            f"{head}{n} peak{'s' if n != 1 else ''}, m/z {_number(self._mz[0])}\u2013{_number(self._mz[-1])}, "
            f"base peak m/z {_number(self._mz[base])})"
        )

    def _repr_html_(self) -> str:
        return _notebook.spectrum_html(self)


def _number(x):
    return str(int(x)) if float(x).is_integer() else f"{x:g}"


def _missing(value):
    """None, a float NaN or pandas' NA (whose truth value cannot be asked)."""
    if value is None or (isinstance(value, float) and math.isnan(value)):
        return True
    return type(value).__name__ in ("NAType", "NaTType")


def _pandas(caller):
    try:
        import pandas
    except ImportError:
        raise ImportError(f"{caller} needs pandas (Debian: apt-get install python3-pandas)") from None
    return pandas


def predict_spectrum(
    smiles_or_mol: Molecule,
    ring_fragmentation: bool = False,
    recursive_ms: bool = False,
    max_generations: int = 2,
    model: Model = "schematic",
) -> Spectrum:
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


# ---------------------------------------------------------------------------
# Files: paths go to the native readers and writers as they are; an open file
# object is spooled through a temporary file, in chunks, so a file of any size
# costs no memory and the native reader sees an ordinary file.

_CHUNK = 1 << 20
_GZIP_MAGIC = b"\x1f\x8b"


def _is_stream(value, method):
    return not isinstance(value, (str, bytes, os.PathLike)) and callable(getattr(value, method, None))


def _stream_name(stream):
    """The name a file object was opened with ("<stdin>" too), or None (a BytesIO, a descriptor)."""
    name = getattr(stream, "name", None)
    if isinstance(name, bytes):
        name = os.fsdecode(name)
    return name if isinstance(name, str) and name else None


def _suffix(name, compressed):
    """The temporary file's extension: the name's format extension, with ".gz" when the content is gzip."""
    if name is None or name.startswith("<"):
        name = ""
    base, ext = os.path.splitext(os.path.basename(name))
    if ext.lower() == ".gz":
        ext = os.path.splitext(base)[1]
    return ext + (".gz" if compressed else "")


def _spool(stream):
    """Copy a readable file object (text or binary) to a temporary file; returns its path."""
    first = stream.read(_CHUNK)
    if isinstance(first, str):
        encoder = codecs.getincrementalencoder("utf-8")("surrogateescape")

        def encode(chunk):
            return encoder.encode(chunk)

    elif isinstance(first, (bytes, bytearray, memoryview)):
        encode = bytes
    else:
        raise TypeError(f"path: a file object must read str or bytes, not {type(first).__name__}")
    head = encode(first)
    fd, path = tempfile.mkstemp(prefix="tessarin-", suffix=_suffix(_stream_name(stream), head[:2] == _GZIP_MAGIC))
    try:
        with os.fdopen(fd, "wb") as out:
            out.write(head)
            while chunk := stream.read(_CHUNK):
                out.write(encode(chunk))
    except BaseException:
        os.unlink(path)
        raise
    return path


def _renamed(error, temporary, name):
    """``error`` with the temporary file's path replaced by the name the caller knows."""
    if temporary is None or temporary not in str(error):
        return error
    if isinstance(error, SpectrumRecordError):
        renamed = SpectrumRecordError(str(error).replace(temporary, name))
        renamed.path, renamed.line, renamed.reason = name, error.line, error.reason
        return renamed
    try:
        return type(error)(str(error).replace(temporary, name))
    except Exception:
        return error


def _warns(errors):
    """Whether ``errors`` asks for malformed records as warnings ("warn") rather than exceptions ("raise")."""
    if errors not in ("raise", "warn"):
        raise ValueError(f'errors must be "raise" or "warn", not {errors!r}')
    return errors == "warn"


def _warn_refused(refused):
    """A warning for each record the native code left out, ``(path, line, reason)``, at the public function's caller."""
    for path, line, reason in refused:
        warnings.warn(f"{path}:{line}: {reason}", stacklevel=3)


def read_spectra(
    path: FilePath | IO[str] | IO[bytes], format: SpectrumFormat | None = None, errors: Errors = "raise"
) -> Iterator[Spectrum]:
    """The spectra of a file, one record at a time (a generator; the file is opened at the call).

    ``path`` is a path (str, bytes, ``pathlib.Path`` or other os.PathLike) or
    an open file object, text or binary (binary content may be
    gzip-compressed), read to its end at the call; the file object is not
    closed. Formats, told by ``format`` or else by the extension (of a file
    object's name) or the content: NIST MSP (``msp``, as NIST, MoNA, MS-DIAL
    and tessarin write it), MassBank record files (``massbank``; a directory
    of them too), JCAMP-DX mass spectra (``jcamp``), MGF (``mgf``) and JSON
    Lines (``jsonl``). ``"-"`` reads standard input.

    A malformed record raises ``SpectrumRecordError`` (a ValueError naming the
    file and the line) with ``errors="raise"``; with ``errors="warn"`` it is
    reported as a warning and reading goes on. A file that cannot be opened
    raises the OSError of the reason (FileNotFoundError, IsADirectoryError
    for a directory read in another format than MassBank, PermissionError),
    one that cannot be read OSError; the file may be gzip-compressed.
    """
    warn = _warns(errors)
    if not _is_stream(path, "read"):
        return _records(_native.SpectrumReader(path, format), warn)
    name = _stream_name(path) or "<stream>"
    temporary = _spool(path)
    try:
        reader = _native.SpectrumReader(temporary, format)
    except Exception as e:
        raise _renamed(e, temporary, name) from None
    finally:
        os.unlink(temporary)  # the reader holds the file open
    return _records(reader, warn, (temporary, name))


def _records(reader, warn, renaming=(None, None)):
    while True:
        try:
            parts = next(reader)
        except StopIteration:
            return
        except SpectrumRecordError as e:
            renamed = _renamed(e, *renaming)
            if not warn:
                if renamed is e:
                    raise
                raise renamed from None
            warnings.warn(str(renamed), stacklevel=2)
            continue
        except OSError as e:
            renamed = _renamed(e, *renaming)
            if renamed is e:
                raise
            raise renamed from None
        yield Spectrum._from_parts(parts)


def write_spectra(
    spectra: Iterable[Spectrum],
    path: FilePath | IO[str] | IO[bytes],
    format: Literal["msp", "mgf", "jsonl", "csv"] | None = None,
) -> int:
    """Write spectra (any iterable of ``Spectrum``) to ``path``; returns how many were written.

    ``path`` is a path or an open file object (text or binary; a
    ``gzip.open(..., "wb")`` file compresses what it is given), written at
    its position and left open. The format is ``format`` ("msp", "mgf",
    "jsonl" or "csv", a peak table) or else the extension (.msp, .mgf,
    .jsonl, .csv) of the path or of the file object's name; paths are
    written uncompressed. MSP is written as NIST MS Search reads it (a
    nameless spectrum gets its SMILES or accession as name), annotations as
    quoted text after each peak; an MGF header holds TITLE, PEPMASS, MW,
    SMILES, FORMULA, COMMENTS and the fields that are MGF parameters (the
    rest of a library record belongs to JSON Lines). Reading the file back
    gives the same spectra for what the format holds. A path that cannot be
    created raises the OSError of the reason (FileNotFoundError,
    IsADirectoryError); a write that fails (a full disk) leaves the file cut
    at its last whole record.
    """
    if not _is_stream(path, "write"):
        return _native.write_spectra(spectra, path, format)
    name = _stream_name(path) or "<stream>"
    fd, temporary = tempfile.mkstemp(prefix="tessarin-", suffix=_suffix(_stream_name(path), False))
    os.close(fd)
    try:
        try:
            written = _native.write_spectra(spectra, temporary, format)
        except Exception as e:
            raise _renamed(e, temporary, name) from None
        with open(temporary, "rb") as written_file:
            if _writes_text(path):
                decoder = codecs.getincrementaldecoder("utf-8")()
                while chunk := written_file.read(_CHUNK):
                    path.write(decoder.decode(chunk))
                path.write(decoder.decode(b"", final=True))
            else:
                shutil.copyfileobj(written_file, path, _CHUNK)
    finally:
        os.unlink(temporary)
    return written


def _writes_text(stream):
    """Whether a writable file object takes str (a text file) rather than bytes."""
    if isinstance(stream, io.TextIOBase):
        return True
    if isinstance(stream, (io.RawIOBase, io.BufferedIOBase)):
        return False
    try:
        stream.write(b"")  # a text file refuses bytes, even none
    except TypeError:
        return True
    return False


def _spectra_argument(value, errors):
    """A file object's spectra, read as ``read_spectra`` reads them; anything else as it is."""
    return read_spectra(value, errors=errors) if _is_stream(value, "read") else value


Match = collections.namedtuple("Match", ["score", "pairs"])
Match.__doc__ = "A similarity: the score and the matched peak pairs (index in a, index in b), by a's index."


def similarity(
    a: Spectrum,
    b: Spectrum,
    method: ScoreMethod = "cosine",
    tolerance: float = 0.5,
    mz_power: float | None = None,
    intensity_power: float | None = None,
    reverse: bool = False,
    measured_range: bool = False,
) -> Match:
    """Score spectrum ``a`` (the query, measured) against ``b`` (the reference, library or predicted).

    Every peak is weighed ``w = mz**p * I**q`` (m/z power p, intensity power
    q; computed from m/z and intensities scaled to their largest value, which
    changes no score). Pairs of peaks within ``tolerance`` m/z are matched
    greedily, the largest product ``w_a * w_b`` first (ties: lower index of a,
    then of b), each peak at most once.

    - ``"cosine"`` (default p = 0, q = 0.5: the cosine of square-rooted
      intensities, which identifies better; ``intensity_power=1`` gives the
      plain cosine):
      ``S = sum(w_a * w_b over matched pairs) / (sqrt(sum w_a**2) * sqrt(sum w_b**2))``.
    - ``"dot_product"`` (default p = 3, q = 0.6; the EI library-search dot
      product): ``D = S**2`` with these weights.
    - ``"composite"`` (default p = 3, q = 0.6; the composite match factor):
      ``F = (N_U * D + N_LU * R) / (N_U + N_LU)``, N_U the peaks of a, N_LU the
      matched pairs, ``R = (1/N_LU) * sum_{k=2..N_LU} min(r_k, 1/r_k)`` with
      ``r_k = (w_b,k * w_a,k-1) / (w_b,k-1 * w_a,k)`` over the matched pairs in
      order of m/z (0 with fewer than two matches).

    ``reverse=True`` first drops the peaks of a with no peak of b within the
    tolerance, so only what b shows counts. ``measured_range=True`` leaves
    out the peaks of b outside the m/z range a covers (its metadata
    "scan_range", "LOW-HIGH", else its lowest to highest m/z), as if b had
    been measured on a's instrument. Scores lie in [0, 1]. Returns
    ``Match(score, pairs)``.
    """
    score, pairs = _native.similarity(
        a, b, method, tolerance, mz_power, intensity_power, bool(reverse), bool(measured_range)
    )
    return Match(score, pairs)


class RankedCandidate(
    collections.namedtuple(
        "RankedCandidate",
        [
            "rank",
            "score",
            "matched",
            "name",
            "smiles",
            "formula",
            "spectrum",
            "position",
            "mass_hypothesis",
            "rank_score",
        ],
        defaults=(None, None),
    )
):
    """A ranked candidate: rank (equal scores share the best), score, number of matched peaks,
    name, SMILES, formula, predicted spectrum, position among the candidates given (0-based), and
    with ``mass="auto"`` the hypothesis of its mass, ``(mass, score)``, and the fitted score that
    ranks the candidates across the hypotheses (else both None)."""

    __slots__ = ()

    def __repr__(self) -> str:
        return (
            f"RankedCandidate(rank={self.rank}, score={self.score:.4f}, name={self.name!r}, smiles={self.smiles!r}, "
            f"formula={self.formula!r}, {self.matched} matched, position={self.position})"
        )


FailedCandidate = collections.namedtuple("FailedCandidate", ["position", "line", "name", "smiles", "reason"])


class Ranking(list):
    """The ranked candidates (a list of ``RankedCandidate``, best first), with the candidates that
    failed (``failed``: ``FailedCandidate`` entries) and the number left out by the mass or formula
    filter (``filtered_out``). A notebook shows it as a table."""

    def __init__(self, rows, failed, filtered_out):
        super().__init__(rows)
        self.failed = failed
        self.filtered_out = filtered_out

    def __repr__(self) -> str:
        return _notebook.ranking_repr(self)

    def _repr_html_(self) -> str:
        return _notebook.ranking_html(self)


def rank_candidates(
    spectrum: Spectrum,
    candidates: Iterable[Molecule | tuple[str, Molecule]] | FilePath | IO[str] | IO[bytes],
    method: ScoreMethod = "cosine",
    tolerance: float = 0.5,
    mz_power: float | None = None,
    intensity_power: float | None = None,
    reverse: bool = False,
    mass: int | Literal["molecular_ion", "auto"] | None = None,
    formula: str | None = None,
    ring_fragmentation: bool = False,
    recursive_ms: bool = False,
    max_generations: int = 2,
    model: Model = "ei",
    jobs: int | None = None,
    time_limit: float | None = None,
    measured_range: bool = True,
) -> Ranking:
    """Predict every candidate structure and rank it by its score against the measured ``spectrum``.

    ``candidates``: an iterable of SMILES strings, (name, SMILES) pairs or
    RDKit Mols, or the path or open file object of a SMILES, SDF or CSV/TSV
    file (with a column headed "smiles"). ``mass`` keeps only candidates of
    that nominal mass (an integer, or ``"molecular_ion"``: the molecular mass
    of the spectrum's metadata, else the nominal mass of its formula; or
    ``"auto"``: the candidates of the first ten masses
    ``estimate_molecular_mass`` finds from the peaks alone are predicted, the
    mass is estimated again with these predictions as a library's evidence
    (over the masses that have candidates), and the candidates of its
    plausible masses are kept, ranked across them by a score fitted on
    measured spectra over their mass's score, their similarity and how they
    explain the spectrum's last 50 m/z, each with ``mass_hypothesis``
    ``(mass, score)`` and that fitted score as ``rank_score``); ``formula`` only
    those of that formula. The score is ``similarity(spectrum, predicted,
    method, ..., measured_range)``, with its defaults: the cosine of
    square-rooted intensities, counting only the predicted peaks within the
    measured m/z range as the command ``tessarin identify`` does
    (``measured_range=False`` counts them all). The candidates are predicted
    with ``model`` ("ei" by default, the model that identifies best) on ``jobs``
    native threads (None: one per core); ``time_limit`` seconds per molecule.

    Returns a ``Ranking``: best first, equal scores in input order sharing
    the best rank. Candidates that cannot be predicted are listed in
    ``.failed``; Ctrl-C raises KeyboardInterrupt.
    """
    temporary, name = None, None
    if _is_stream(candidates, "read"):  # read by the native reader of molecule files, as a path is
        name = _stream_name(candidates) or "<stream>"
        temporary = candidates = _spool(candidates)
    try:
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
            bool(measured_range),
        )
    except Exception as e:
        raise _renamed(e, temporary, name) from None
    finally:
        if temporary is not None:
            os.unlink(temporary)
    ranked = [
        RankedCandidate(r[0], r[1], r[2], r[3], r[4], r[5], Spectrum._from_parts(r[6]), r[7], r[9], r[10]) for r in rows
    ]
    return Ranking(ranked, [FailedCandidate(*f) for f in failed], filtered_out)


class LibraryHit(
    collections.namedtuple(
        "LibraryHit", ["index", "score", "matched", "spectrum", "mass_hypothesis", "rank_score"], defaults=(None, None)
    )
):
    """A library hit: the entry's 0-based index in the library, score, number of matched peaks, the entry,
    and with ``mass="auto"`` the hypothesis it was found among, ``(mass, score)``, and the fitted score
    that ranks the hits across the hypotheses (else both None).

    The entry of a library given as a list of spectra is that spectrum itself; that of a library file
    holds its peaks and the fields name, smiles, formula, mol_mass, exact_mass, precursor_mz, accession
    and instrument (the search keeps no more of a file, which may hold millions of records)."""

    __slots__ = ()

    def __repr__(self) -> str:
        label = _notebook.spectrum_label(self.spectrum)
        return f"LibraryHit(index={self.index}, score={self.score:.4f}, {self.matched} matched" + (
            f", {label!r})" if label else ")"
        )


class QueryResult(collections.namedtuple("QueryResult", ["query", "hits", "error"])):
    """A query spectrum, its hits (best first) and why it was not searched (None when it was)."""

    __slots__ = ()

    def __repr__(self) -> str:
        return _notebook.query_repr(self)

    def _repr_html_(self) -> str:
        return _notebook.search_html([self])


class SearchResults(list):
    """The result of ``search_library``: a list of ``QueryResult``, one per query in order,
    shown as a table in a notebook."""

    def __repr__(self) -> str:
        return _notebook.search_repr(self)

    def _repr_html_(self) -> str:
        return _notebook.search_html(self)


def search_library(
    queries: Iterable[Spectrum] | FilePath | IO[str] | IO[bytes],
    library: Iterable[Spectrum] | FilePath | IO[str] | IO[bytes],
    top: int = 10,
    method: ScoreMethod = "cosine",
    tolerance: float = 0.5,
    mz_power: float | None = None,
    intensity_power: float | None = None,
    reverse: bool = False,
    min_score: float = 0.0,
    mass_tolerance: float | None = None,
    jobs: int | None = None,
    errors: Errors = "raise",
    mass: Literal["auto"] | None = None,
    measured_range: bool = True,
) -> SearchResults:
    """Search each query spectrum against a spectral library; one ``QueryResult`` per query, in order.

    ``queries`` and ``library``: a spectrum file's path or open file object
    (any format ``read_spectra`` reads) or an iterable of ``Spectrum``. Each
    query keeps its ``top`` best library entries (0: every hit) scoring at least
    ``min_score`` with at least one matched peak, best first (equal scores:
    lower library index first), exactly as scoring every entry with
    ``similarity(query, entry, method, ...)`` would give; an inverted peak
    index only makes it faster. ``mass_tolerance`` keeps only entries whose
    molecular mass (mol_mass, exact_mass or precursor_mz) lies within it of
    the query's. ``mass="auto"`` instead searches each query among the
    entries within 0.5 of its plausible molecular masses (estimated from its
    peaks alone, with the library's best match of each mass as evidence) and
    ranks every hit across them by a score fitted on measured spectra over
    their mass's score, their similarity and how they explain the query's
    last 50 m/z, each with ``mass_hypothesis`` ``(mass, score)`` and that fitted score as
    ``rank_score``. The score's default is
    ``similarity``'s, the cosine of square-rooted intensities, counting only
    the library peaks within the query's m/z range as the command ``tessarin
    search`` does (``measured_range=False`` counts them all). ``jobs`` threads (None: one per core). Malformed records of
    files raise ``SpectrumRecordError`` (``errors="raise"``) or are warned
    about and left out (``errors="warn"``). The result is a list
    (``SearchResults``) that a notebook shows as a table.
    """
    warn = _warns(errors)
    if mass not in (None, "auto"):
        raise ValueError(f'mass must be None or "auto", not {mass!r}')
    if mass == "auto" and mass_tolerance is not None:
        raise ValueError('mass="auto" takes no mass_tolerance')
    results, refused = _native.search_library(
        _spectra_argument(queries, errors),
        _spectra_argument(library, errors),
        top,
        method,
        tolerance,
        mz_power,
        intensity_power,
        bool(reverse),
        min_score,
        mass_tolerance,
        jobs,
        warn,
        bool(measured_range),
        mass == "auto",
    )
    _warn_refused(refused)
    # Spectra given in memory come back as they were (with their annotations and
    # every metadata field); a file's entries keep the fields the search keeps.
    given = library if isinstance(library, (list, tuple)) and all(isinstance(e, Spectrum) for e in library) else None
    return SearchResults(
        QueryResult(
            Spectrum._from_parts(q),
            [LibraryHit(i, s, m, given[i] if given else Spectrum._from_parts(e), h, r) for i, s, m, e, h, r in hits],
            error,
        )
        for q, hits, error in results
    )


Evaluation = collections.namedtuple("Evaluation", ["spectra", "summary", "report"])
Evaluation.__doc__ = (
    "An evaluation: one dict per measured spectrum, the summary dict of means, " "and the summary as text."
)


def evaluate(
    spectra: Iterable[Spectrum] | FilePath | IO[str] | IO[bytes],
    method: ScoreMethod = "cosine",
    tolerance: float = 0.5,
    mz_power: float | None = None,
    intensity_power: float | None = None,
    ring_fragmentation: bool = False,
    recursive_ms: bool = False,
    max_generations: int = 2,
    model: Model = "ei",
    jobs: int | None = None,
    time_limit: float | None = None,
    errors: Errors = "raise",
) -> Evaluation:
    """Predict the spectrum of every measured spectrum's structure (its metadata "smiles") and measure the prediction.

    ``spectra``: a file's path or open file object, or an iterable of
    ``Spectrum``. Per spectrum:
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
    ``reciprocal_rank``. Each structure is predicted once, with ``model``
    ("ei" by default, the model that identifies best), on ``jobs`` native
    threads. Spectra without SMILES or whose prediction fails get ``error``.

    Returns ``Evaluation(spectra, summary, report)``: the per-spectrum dicts,
    the means (keys score, recall_at_5, precision, base_peak_hit, top1, top3,
    mrr, mean_rank, mean_candidates; spectra, evaluated, structures,
    failed_structures count), and the summary text.
    """
    warn = _warns(errors)
    rows, summary, report, refused = _native.evaluate(
        _spectra_argument(spectra, errors),
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
        warn,
    )
    _warn_refused(refused)
    return Evaluation(rows, summary, report)
