"""Unknown spectra: the molecular mass of a measured EI spectrum from its peaks alone."""

import html
from typing import Iterable, NamedTuple

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


class IonAtPeak(NamedTuple):
    """A predicted ion's part in a measured peak: ``formula``, ``isotope_offset`` (0 its own peak, 2 its
    M+2...), ``share`` of the predicted peak, ``molecular`` (the molecular ion), ``neutral`` (what the
    molecule lost) and ``reasons`` (the model's strongest features, "name +0.42")."""

    formula: str
    isotope_offset: int
    share: float
    molecular: bool
    neutral: str
    reasons: tuple


class ExplainedPeak(NamedTuple):
    """A measured peak: ``mz``, ``intensity``, ``relative`` (% of the base peak), the predicted peak matched
    to it (``predicted_mz``, None for none, and its ``predicted_relative`` %) and its ``ions``."""

    mz: float
    intensity: float
    relative: float
    predicted_mz: "int | None"
    predicted_relative: float
    ions: tuple


class Explanation:
    """What ``explain`` returns: ``peaks`` (``ExplainedPeak``, ascending m/z), ``explained_share`` (of the
    measured intensity, in peaks a predicted ion explains), ``unexplained`` (the peaks of 5 % or more of
    the base peak nothing explains), ``score`` and ``predicted`` (the EI model's ``Spectrum``)."""

    def __init__(self, peaks, explained_share, unexplained, score, predicted):
        self.peaks = peaks
        self.explained_share = explained_share
        self.unexplained = unexplained
        self.score = score
        self.predicted = predicted

    def __repr__(self):
        lines = [f"explained {100 * self.explained_share:.1f} % of the measured intensity; score {self.score:.4f}"]
        for p in self.peaks:
            ions = "; ".join(
                i.formula + (f"+{i.isotope_offset}" if i.isotope_offset else "") + (" (M)" if i.molecular else "")
                for i in p.ions
            )
            lines.append(f"{p.mz:8g} {p.relative:6.1f} %  {ions}  {', '.join(p.ions[0].reasons) if p.ions else ''}")
        strong = ", ".join(f"{p.mz:g} ({p.relative:.1f} %)" for p in self.unexplained) or "none"
        lines.append(f"strong peaks nothing explains: {strong}")
        return "\n".join(lines)


def explain(
    spectrum: Spectrum, smiles: str, plot: "FilePath | None" = None, measured_range: bool = True
) -> Explanation:
    """Each measured peak of ``spectrum`` with the ions the EI model predicts for ``smiles`` at its m/z (within
    0.5) and the model's reasons for them, the share of the measured intensity explained and the strong peaks
    (5 % of the base peak or more) nothing explains. ``score``: the cosine of square-rooted intensities,
    counting only the measured m/z range unless ``measured_range=False``. ``plot``: an image file to draw the
    annotated mirror plot into. ValueError for a SMILES that does not parse or a spectrum without peaks.
    """
    peaks, share, unexplained, score, predicted = _native.explain_peaks(spectrum, smiles, bool(measured_range))
    rows = [
        ExplainedPeak(mz, i, rel, pmz, prel, tuple(IonAtPeak(f, k, sh, m, n, tuple(r)) for f, k, sh, m, n, r in ions))
        for mz, i, rel, pmz, prel, ions in peaks
    ]
    result = Explanation(rows, share, [rows[k] for k in unexplained], score, Spectrum._from_parts(predicted))
    if plot is not None:
        import matplotlib.pyplot as plt

        from .figures.mirror import mirror_plot

        result.predicted.metadata["name"] = smiles
        fig, ax = plt.subplots(figsize=(10, 5))
        try:
            mirror_plot(spectrum, result.predicted, ax=ax, annotate=True, measured_range=measured_range)
            fig.savefig(plot, dpi=110, bbox_inches="tight")
        finally:
            plt.close(fig)
    return result
