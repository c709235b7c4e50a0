"""Candidate structures for a spectrum no library holds: from PubChem by molecular formula or nominal
mass, or from a large local file of structures read once into an index.

Both give ``Candidate`` records in a ``Candidates`` list; ``Candidates.molecules()`` is what
``rank_candidates`` takes::

    found = tessarin.pubchem_candidates(formula="C8H10")
    print(found.found, "found,", found.kept, "kept")
    ranking = tessarin.rank_candidates(spectrum, found.molecules(), formula="C8H10")

    index = tessarin.CandidateIndex("zinc.smi.gz")
    ranking = tessarin.rank_candidates(spectrum, index.find(mass=106).molecules())
"""

from __future__ import annotations

import os
from typing import Iterable, List, NamedTuple, Optional, Tuple, Union

from . import _native
from ._package import package

__all__ = ["Candidate", "Candidates", "CandidateIndex", "candidate_formulas", "pubchem_candidates"]

PathLike = Union[str, bytes, "os.PathLike[str]", "os.PathLike[bytes]"]


class Candidate(NamedTuple):
    """A candidate structure.

    ``smiles``: for PubChem the parent structure (largest organic fragment, neutralised, no
    stereochemistry), for a file the SMILES it holds; ``cid``: PubChem's compound id (None from a
    file); ``name``: PubChem's title or the file's name of the molecule; ``formula`` and
    ``nominal_mass``: of the molecule the analysis sees; ``line``: where the file holds it (None
    for PubChem); ``id``: the file's identifier of it, when it gives one.
    """

    smiles: str
    cid: Optional[int]
    name: str
    formula: str
    nominal_mass: int
    line: Optional[int] = None
    id: Optional[str] = None


class Candidates(list):
    """A list of ``Candidate`` records and what became of the records the source gave.

    ``found`` records were found and ``kept`` kept; ``dropped`` counts the others by reason:
    ``"duplicates"`` (another record of a kept structure: a stereoisomer, the same one twice),
    ``"salts"`` (a salt, hydrate or charged form of a kept structure), ``"unparsable"`` and
    ``"other_formula"`` (its parent structure has another formula or mass than the one asked for).
    For PubChem also: ``formulas`` searched, ``formulas_left_out`` (enumerated for a mass beyond
    ``max_formulas``), ``truncated`` (formulas whose reply held ``max_records`` records: PubChem
    may hold more), ``requests`` sent and ``cache_hits`` (formulas answered from the cache).
    """

    def __init__(
        self,
        records: Iterable[Candidate] = (),
        found: int = 0,
        dropped: Optional[dict] = None,
        formulas: Iterable[str] = (),
        formulas_left_out: int = 0,
        truncated: Iterable[str] = (),
        requests: int = 0,
        cache_hits: int = 0,
    ) -> None:
        super().__init__(records)
        self.found = found
        self.kept = len(self)
        self.dropped = dict(dropped or {"duplicates": 0, "salts": 0, "unparsable": 0, "other_formula": 0})
        self.formulas = list(formulas)
        self.formulas_left_out = formulas_left_out
        self.truncated = list(truncated)
        self.requests = requests
        self.cache_hits = cache_hits

    def molecules(self) -> List[Tuple[str, str]]:
        """``(name, SMILES)`` pairs, as ``rank_candidates`` takes them (a PubChem record without a
        title is named ``"CID <n>"``)."""
        return [(c.name or (f"CID {c.cid}" if c.cid is not None else ""), c.smiles) for c in self]

    def __repr__(self) -> str:
        return f"<Candidates: {self.kept} kept of {self.found} found>"


def candidate_formulas(mass: int, elements: Optional[Iterable[str]] = None, limit: int = 100) -> List[str]:
    """The ``limit`` most plausible molecular formulas an organic, neutral, even-electron molecule of
    nominal ``mass`` (1 to 1000) can have, best first.

    Built from ``elements`` (default C, H, N, O, S, P, F, Cl, Br, I, Si; carbon must be among them):
    rings plus double bonds a whole number >= 0 (so the nitrogen rule holds), at most 4 N, 3 O,
    2 P, 3 S and 1 Si per carbon, at most 12 Cl, 8 Br, 4 I, 4 S, 3 P and 6 Si, at most four
    elements besides C and H (three of S, P, Si and the halogens). Ordered by how rare their
    elements are in compounds, how H-poor they are, and whether they keep the element ratios most
    compounds keep.
    """
    formulas, _total = _native.formulas_of_nominal_mass(mass, None if elements is None else list(elements), limit)
    return formulas


def pubchem_candidates(
    formula: Optional[str] = None,
    mass: Optional[int] = None,
    elements: Optional[Iterable[str]] = None,
    cache_dir: Union[PathLike, None, bool] = None,
    timeout: float = 30,
    max_formulas: int = 100,
    max_records: int = 1000,
    route: str = "fast",
    wait: float = 2.0,
    max_polls: int = 30,
    max_retries: int = 3,
) -> Candidates:
    """Candidate structures from PubChem: the compounds of ``formula``, or of every formula that
    nominal ``mass`` allows (``candidate_formulas(mass, elements)``, the first ``max_formulas`` of
    them), one per parent structure.

    Each formula is one search of the PUG REST service at ``tessarin.PUBCHEM_REST`` (read at each
    call): ``route="fast"`` asks ``fastformula``, which answers at once; ``"list_key"`` asks
    ``formula``, which answers with a list key polled every ``wait`` seconds, at most
    ``max_polls`` times. At most ``max_records`` compounds are taken per formula. Requests are
    paced to PubChem's five a second; a busy service (HTTP 503, 504, 429) is asked again up to
    ``max_retries`` times, waiting ``wait`` seconds, doubled each time. ``timeout`` bounds each
    request, in seconds.

    Replies are kept in ``cache_dir`` (default: ``$TESSARIN_PUBCHEM_CACHE``, else
    ``$XDG_CACHE_HOME/tessarin/pubchem``, else ``~/.cache/tessarin/pubchem``; ``False`` keeps
    none), keyed by the request URL, so a rerun asks nothing. What is kept: the compounds found,
    and "no compound has this formula"; never a fault, a busy service or a failed transfer.

    Salts, hydrates and charged forms become their parent structure (largest organic fragment,
    charges neutralised where a hydrogen can be added or taken), stereoisomers one structure; of
    the records of one structure the one that is the parent itself with the lowest CID names it.
    A parent of another formula (of a mass: another mass, or elements outside ``elements``) is
    dropped. Returns ``Candidates`` in ascending CID with the counts of what was found and kept.

    Raises ``ValueError`` for bad arguments and for a fault PubChem answers with (a bad request,
    a server error), ``ConnectionError`` when PubChem cannot be reached or stays busy,
    ``TimeoutError`` when a request times out or a list is not ready after ``max_polls`` polls,
    ``KeyboardInterrupt`` on Ctrl-C.
    """
    if (formula is None) == (mass is None):
        raise ValueError("pubchem_candidates needs a formula or a mass (one of them)")
    if cache_dir is None or cache_dir is True:
        cache_dir = _native.default_cache_dir() or None
    elif cache_dir is False:
        cache_dir = None
    rows, counts, formulas, left_out, truncated, requests, hits = _native.pubchem_candidates(
        package().PUBCHEM_REST,
        formula,
        mass,
        None if elements is None else list(elements),
        cache_dir,
        timeout,
        max_formulas,
        max_records,
        route,
        wait,
        max_polls,
        max_retries,
    )
    dropped = {key: counts[key] for key in ("duplicates", "salts", "unparsable", "other_formula")}
    return Candidates(
        [Candidate(*row) for row in rows], counts["found"], dropped, formulas, left_out, truncated, requests, hits
    )


class CandidateIndex:
    """The molecules of a large file (SMILES, SDF, CSV or TSV, any of them gzip-compressed, as
    ``predict_library`` reads them) indexed by nominal mass and formula: the file is read once,
    and each ``find`` is a look-up.

    With ``save=True`` the index is also kept beside the file (``<path>.tessarin-index``) and used
    by later sessions while the file keeps its path, size and modification time; any change and
    the file is read again. A directory that cannot be written to just keeps the index in memory.
    Molecules that do not parse are listed in ``failed`` (``FailedCandidate`` records). Ctrl-C
    stops the reading with KeyboardInterrupt.
    """

    def __init__(self, path: PathLike, save: bool = False) -> None:
        self.path = os.fspath(path)
        self._index = _native.CandidateIndex(path, bool(save))

    def find(self, mass: Optional[int] = None, formula: Optional[str] = None) -> Candidates:
        """The molecules of nominal ``mass`` and/or ``formula`` (element counts compared), in file
        order: the candidates ``rank_candidates`` keeps with the same filter."""
        if mass is None and formula is None:
            raise ValueError("CandidateIndex.find needs a mass or a formula")
        rows = self._index.find(mass, formula)
        found = [Candidate(s, None, n, f, m, line, i or None) for s, n, f, m, line, i in rows]
        return Candidates(found, len(found))

    @property
    def failed(self) -> list:
        """The molecules that could not be read, as ``FailedCandidate`` records."""
        from .spectra import FailedCandidate

        return [FailedCandidate(*f) for f in self._index.failed]

    @property
    def from_saved(self) -> bool:
        """Whether the index was read from the one saved beside the file."""
        return self._index.from_saved

    @property
    def saved(self) -> bool:
        """Whether this index was written beside the file."""
        return self._index.saved

    def __len__(self) -> int:
        return self._index.size

    def __repr__(self) -> str:
        return f"<CandidateIndex of {self.path!r}: {len(self)} molecules>"
