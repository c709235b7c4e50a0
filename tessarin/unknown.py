"""Unknown spectra: the molecular mass of a measured EI spectrum from its peaks alone."""

import html
from typing import Iterable

from . import _native
from ._types import FilePath
from .spectra import Spectrum


class MassHypothesis:
    """One molecular-mass hypothesis: ``mass`` (nominal, int), ``score`` (its probability) and ``evidence``.

    ``evidence`` is a tuple of lines in words: the molecular-ion peak and what its isotope cluster says of
    C, Cl, Br, S and Si, the nitrogen rule, the common losses that fit and the impossible ones that show
    peaks (4-13 and 21-25 u), peaks above the mass that no isotope explains, and the library's best match
    of that mass when a library was given.
    """

    __slots__ = ("mass", "score", "evidence")

    def __init__(self, mass, score, evidence):
        self.mass = mass
        self.score = score
        self.evidence = tuple(evidence)

    def __repr__(self):
        return f"MassHypothesis(mass={self.mass}, score={self.score:.3f})"


class MassHypotheses(list):
    """Hypotheses best first (a list of ``MassHypothesis``); ``plausible`` lists the masses worth searching.

    ``plausible``: the masses of the hypotheses scoring at least ``plausible_ratio`` times the best, at most
    ``max_plausible`` of them, best first. ``used_library`` tells whether a library's evidence was weighed.
    """

    def __init__(self, hypotheses, plausible, used_library):
        super().__init__(hypotheses)
        self.plausible = list(plausible)
        self.used_library = used_library

    def __repr__(self):
        inner = ", ".join(f"{h.mass} ({h.score:.2f})" for h in self)
        return f"MassHypotheses([{inner}], plausible={self.plausible})"

    def _repr_html_(self):
        rows = "".join(
            "<tr><td>{}</td><td>{:.3f}</td><td style='text-align:left'>{}</td></tr>".format(
                h.mass, h.score, "<br>".join(html.escape(line) for line in h.evidence)
            )
            for h in self
        )
        return (
            "<table><thead><tr><th>mass</th><th>score</th><th style='text-align:left'>evidence</th></tr></thead>"
            f"<tbody>{rows}</tbody></table><p>plausible: {', '.join(map(str, self.plausible))}</p>"
        )


def estimate_molecular_mass(
    spectrum: "Spectrum | list[Spectrum]",
    library: "FilePath | Iterable[Spectrum] | None" = None,
    max_hypotheses: int = 5,
    min_score: float = 0.01,
    plausible_ratio: float = 0.3,
    max_plausible: int = 3,
    jobs: int | None = None,
) -> "MassHypotheses | list[MassHypotheses]":
    """Ranked molecular-mass hypotheses of a measured EI spectrum from its peaks (its metadata is not read).

    ``spectrum``: a ``Spectrum``, or a list of them (then a list of results, one per spectrum: give many
    spectra in one call when a library is used, so that it is read and searched once). ``library``: None,
    a spectrum file's path or an iterable of ``Spectrum`` with molecular masses, e.g. a library predicted
    with ``predict_library(..., model="ei")``; for each mass its best similarity (cosine of square-rooted
    intensities) to the spectrum becomes evidence too.

    Every integer mass from 16 below the highest peak of at least 0.5 % of the base peak to 150 above it is
    a candidate; ``score`` is the candidate's probability under a model whose weights were fitted on
    measured spectra, so the scores of all candidates sum to 1 and those returned to at most 1. At most
    ``max_hypotheses`` are returned, only those scoring at least ``min_score`` (the best always). Returns
    ``MassHypotheses``. ValueError for a spectrum without peaks of positive intensity; ``jobs`` threads
    search the library (None: one per core).
    """
    single = not isinstance(spectrum, (list, tuple))
    spectra = [spectrum] if single else list(spectrum)
    results = [
        MassHypotheses([MassHypothesis(*h) for h in hypotheses], plausible, used)
        for hypotheses, plausible, used in _native.estimate_molecular_masses(
            spectra, library, max_hypotheses, min_score, plausible_ratio, max_plausible, jobs
        )
    ]
    return results[0] if single else results
