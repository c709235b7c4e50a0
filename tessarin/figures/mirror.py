"""Mirror plot: a measured spectrum above the axis, a predicted one below, matched peaks highlighted."""

import math
import re

import matplotlib.pyplot as plt
import numpy as np
from matplotlib.axes import Axes
from matplotlib.lines import Line2D
from matplotlib.ticker import FuncFormatter

from .._types import ScoreMethod
from ..spectra import Spectrum, similarity
from .notebook import spectrum_label

MEASURED_COLOR = "0.55"
MEASURED_MATCHED_COLOR = "tab:blue"
PREDICTED_COLOR = "0.7"
PREDICTED_MATCHED_COLOR = "tab:red"
LABEL_MIN_SHARE = 0.05  # peaks below 5 % of their base peak get no label
LABEL_FONT_SIZE = 7
LABEL_GAP = 2  # points between a bar's end and its label
# Where the legend may go, in order of preference; the one over the fewest bars wins.
LEGEND_PLACES = ("upper right", "upper left", "lower right", "lower left", "center right", "center left")

# "C7H3Br3 isotope +2": an ion's isotope peak, as the EI model annotates it.
_ISOTOPE = re.compile(r"^(?P<ion>\S+) isotope (?P<offset>[+-]?\d+)$")


def _title_name(spectrum, fallback):
    return spectrum_label(spectrum) or fallback


def _renderer(fig):
    get = getattr(fig.canvas, "get_renderer", None)
    return get() if get is not None else fig._get_renderer()


def _mz_text(mz, decimals=None):
    """m/z as text: with ``decimals`` places, else as few as it needs (up to 4)."""
    mz = float(mz)
    if decimals is not None:
        return f"{mz:.{decimals}f}"
    return str(int(mz)) if mz.is_integer() else f"{mz:.4f}".rstrip("0").rstrip(".")


def _decimals(values):
    """The places (0 to 4) that the m/z of a spectrum need, one count for all its labels."""
    return max((len(_mz_text(v).partition(".")[2]) for v in values), default=0)


def short_label(annotation, molecular_formula=None):
    """A peak's annotation in few characters: (text, is_isotope, names_more).

    The strongest ion of the peak stands for all of them ("C8H5O3…" when
    others share the m/z); an isotope peak is named by its ion and offset,
    "M+2" for the molecular ion's and "C7H3Br4+4" for a fragment's, never
    by the list of every cluster reaching it. None for a peak without one.
    """
    if not annotation:
        return None
    entries = [e.strip() for e in str(annotation).split(",") if e.strip()]
    if not entries:
        return None
    isotope = _ISOTOPE.match(entries[0])
    if isotope:
        ion, offset = isotope["ion"], int(isotope["offset"])
        return (f"M{offset:+d}" if ion == molecular_formula else f"{ion}{offset:+d}"), True, False
    return entries[0] + ("\u2026" if len(entries) > 1 else ""), False, len(entries) > 1


class _Bars:
    """Every drawn bar in display coordinates, for telling whether a box would cover one."""

    def __init__(self, ax, pieces):
        to_display = ax.transData.transform
        points_to_px = ax.figure.dpi / 72.0
        xs, tops, widths = [], [], []
        for mz, heights, width in pieces:
            xs.append(np.asarray(mz, dtype=float))
            tops.append(np.asarray(heights, dtype=float))
            widths.append(np.full(len(mz), width * points_to_px / 2))
        x = np.concatenate(xs) if xs else np.zeros(0)
        y = np.concatenate(tops) if tops else np.zeros(0)
        self.half_width = np.concatenate(widths) if widths else np.zeros(0)
        ends = to_display(np.column_stack([x, y])) if len(x) else np.zeros((0, 2))
        base = to_display(np.column_stack([x, np.zeros_like(x)])) if len(x) else np.zeros((0, 2))
        self.x = ends[:, 0]
        self.base = base[:, 1]
        self.low = np.minimum(ends[:, 1], base[:, 1])
        self.high = np.maximum(ends[:, 1], base[:, 1])

    def covered_by(self, box, reach=0.0):
        """How many bars the box overlaps (touching is not overlapping), each bar taken ``reach`` pixels
        longer at its end (where its label goes)."""
        up = self.high > self.base
        high = np.where(up, self.high + reach, self.high)
        low = np.where(up, self.low, self.low - reach)
        return int(
            np.count_nonzero(
                (self.x + self.half_width > box.x0)
                & (self.x - self.half_width < box.x1)
                & (high > box.y0)
                & (low < box.y1)
            )
        )


def mirror_plot(
    measured: Spectrum,
    predicted: Spectrum,
    ax: Axes | None = None,
    method: ScoreMethod = "cosine",
    tolerance: float = 0.5,
    mz_power: float | None = None,
    intensity_power: float | None = None,
    reverse: bool = False,
    annotate: bool = False,
    measured_range: bool = True,
) -> Axes:
    """Draw ``measured`` upwards and ``predicted`` downwards, each scaled to its base peak (100 %).

    Peaks the score matches (``similarity(measured, predicted, method, tolerance,
    mz_power, intensity_power, reverse, measured_range)``; by default the cosine of
    square-rooted intensities counting only the predicted peaks within the measured
    m/z range, the score of ``rank_candidates``, ``search_library`` and ``explain``;
    ``measured_range=False`` counts them all) are drawn in colour, blue above and red below; the others
    grey; the legend says so and counts the peaks of each kind. Peaks of at
    least 5 % of their base peak are labelled, the most intense first, each
    label only where it covers no bar, no label already placed and not the
    legend, and stays inside the axes: measured peaks with their m/z,
    predicted ones with their ion (the strongest ion of the peak; an
    isotope peak as "M+2" of the molecular ion or "C7H3Br4+4" of a fragment).
    With ``annotate``, measured peaks explained by the prediction (matched to
    a predicted peak with an annotation) carry that ion under their m/z, and
    only the unmatched predicted peaks keep labels of their own. The m/z axis
    starts near the lowest peak. The title names both spectra and gives the
    score and the number of matched peaks. Draws into ``ax`` (a new 11 x 6
    inch figure when None), neither shows nor saves, and returns the axes.
    Labels are placed for the axes' size at the call.
    """
    match = similarity(
        measured,
        predicted,
        method=method,
        tolerance=tolerance,
        mz_power=mz_power,
        intensity_power=intensity_power,
        reverse=reverse,
        measured_range=measured_range,
    )
    partner = {i: j for i, j in match.pairs}  # measured peak -> its predicted peak
    matched_up = set(partner)
    matched_down = {j for _, j in match.pairs}
    if ax is None:
        plt.figure(figsize=(11, 6))
        ax = plt.gca()

    def heights(spectrum):
        top = float(spectrum.intensities.max()) if len(spectrum) else 0.0
        return [100.0 * float(v) / top if top > 0 else 0.0 for v in spectrum.intensities]

    up = heights(measured)
    down = [-h for h in heights(predicted)]
    legend_text = {
        "measured": "measured, unmatched ({} peaks)",
        "measured, matched": "measured, matched ({} peaks)",
        "predicted": "predicted, unmatched ({} peaks)",
        "predicted, matched": "predicted, matched ({} peaks)",
    }
    bar_pieces = []
    for spectrum, ys, matched, colors, side in (
        (measured, up, matched_up, (MEASURED_COLOR, MEASURED_MATCHED_COLOR), "measured"),
        (predicted, down, matched_down, (PREDICTED_COLOR, PREDICTED_MATCHED_COLOR), "predicted"),
    ):
        for is_matched in (False, True):
            idx = [i for i in range(len(spectrum)) if (i in matched) == is_matched]
            gid = f"{side}, matched" if is_matched else side
            text = legend_text[gid].format(len(idx))
            width = 1.8 if is_matched else 1.0
            lines = ax.vlines(
                [spectrum.mz[i] for i in idx],
                0,
                [ys[i] for i in idx],
                colors=colors[is_matched],
                linewidth=width,
                label=text,
                zorder=3 if is_matched else 2,
                capstyle="butt",
            )
            lines.set_gid(gid)
            bar_pieces.append(([spectrum.mz[i] for i in idx], [ys[i] for i in idx], width))
    ax.axhline(0, color="black", linewidth=0.8)

    all_mz = list(measured.mz) + list(predicted.mz)
    if all_mz:
        lo, hi = float(min(all_mz)), float(max(all_mz))
        pad = max(5.0, 0.04 * (hi - lo))
        ax.set_xlim(max(0.0, math.floor((lo - pad) / 10) * 10), hi + pad)
    else:
        ax.set_xlim(0, 100)
    ax.set_ylim(-125, 125)
    ax.yaxis.set_major_formatter(FuncFormatter(lambda y, _pos: f"{abs(y):g}"))
    ax.set_xlabel("m/z")
    ax.set_ylabel("relative intensity (%)   measured \u2191  predicted \u2193")
    score_name = method.replace("_", " ") + (" (reverse)" if reverse else "")
    if method == "cosine" and intensity_power in (None, 0.5) and not mz_power and not reverse:
        score_name = "cosine of \u221aI"
    matched = f"{len(match.pairs)} matched peak{'' if len(match.pairs) == 1 else 's'}"
    ax.set_title(
        f"{_title_name(measured, 'measured')} (measured) vs {_title_name(predicted, 'predicted')} "
        f"(predicted)\n{score_name} {match.score:.3f}, {matched}"
    )
    ax.spines["top"].set_visible(False)
    ax.spines["right"].set_visible(False)

    molecule = predicted.metadata.get("formula")
    above = _measured_labels(measured, predicted, up, partner, annotate, molecule)
    below = _predicted_labels(predicted, down, matched_down, molecule)
    notes = []
    if any(isotope for *_, isotope, _more in above + below):
        notes.append("M+2, ion+2: isotope peaks")
    if any(more for *_, more in above + below):
        notes.append("ion\u2026: the strongest of several ions")
    handles, labels = ax.get_legend_handles_labels()
    for note in notes:
        handles.append(Line2D([], [], linestyle="none"))
        labels.append(note)

    fig = ax.figure
    renderer = _renderer(fig)
    bars = _Bars(ax, bar_pieces)
    reach = (LABEL_GAP + 2.4 * LABEL_FONT_SIZE) * fig.dpi / 72.0  # room for a two-line label
    legend = _place_legend(
        ax, handles, labels, f"matched: paired within {_mz_text(tolerance)} m/z", bars, reach, renderer
    )
    placed = []
    keep_clear = [legend.get_window_extent(renderer)]
    named = _place_labels(ax, above, bars, keep_clear, placed, renderer)
    # With annotate, a predicted ion already named above its measured peak is not named again below.
    explained = {partner[i] for i in named if i in partner} if annotate else set()
    _place_labels(ax, [w for w in below if w[0] not in explained], bars, keep_clear, placed, renderer)
    return ax


def _by_importance(labels):
    """Tallest first; at equal height matched peaks first, then lower m/z."""
    return sorted(labels, key=lambda w: (-abs(w[2]), not w[3], w[1]))


def _measured_labels(measured, predicted, up, partner, annotate, molecule):
    """(index, m/z, height, matched, text, isotope, more) of every measured peak that may be labelled."""
    out = []
    decimals = _decimals(measured.mz)
    for i, y in enumerate(up):
        if y < 100 * LABEL_MIN_SHARE:
            continue
        text, isotope, more = _mz_text(measured.mz[i], decimals), False, False
        if annotate and i in partner:
            short = short_label(predicted.annotations[partner[i]], molecule)
            if short:
                text += "\n" + short[0]
                isotope, more = short[1], short[2]
        out.append((i, float(measured.mz[i]), y, i in partner, text, isotope, more))
    return _by_importance(out)


def _predicted_labels(predicted, down, matched_down, molecule):
    """The same for the predicted peaks, named by their ion."""
    out = []
    for j, y in enumerate(down):
        short = short_label(predicted.annotations[j], molecule) if -y >= 100 * LABEL_MIN_SHARE else None
        if short:
            out.append((j, float(predicted.mz[j]), y, j in matched_down, short[0], short[1], short[2]))
    return _by_importance(out)


def _place_legend(ax, handles, labels, title, bars, reach, renderer):
    """The legend where it covers the fewest bars and the labels above them (the first such of LEGEND_PLACES)."""

    def legend(place):
        return ax.legend(
            handles,
            labels,
            loc=place,
            title=title,
            fontsize=7,
            title_fontsize=7,
            alignment="left",
            frameon=False,
            handlelength=1.5,
        )

    best = None
    for place in LEGEND_PLACES:
        drawn = legend(place)
        covered = bars.covered_by(drawn.get_window_extent(renderer), reach)
        if covered == 0:
            return drawn
        if best is None or covered < best[0]:
            best = (covered, place)
    return legend(best[1])


def _place_labels(ax, wanted, bars, keep_clear, placed, renderer):
    """Draw each label where it fits: inside the axes, over no bar, no box of ``keep_clear`` and none of
    ``placed`` (which grows). Returns the peak indexes labelled."""
    frame = ax.get_window_extent(renderer)
    labelled = set()
    for index, mz, y, is_matched, text, _isotope, _more in wanted:
        label = ax.annotate(
            text,
            xy=(mz, y),
            xytext=(0, LABEL_GAP if y > 0 else -LABEL_GAP),
            textcoords="offset points",
            ha="center",
            va="bottom" if y > 0 else "top",
            fontsize=LABEL_FONT_SIZE,
            color="black" if is_matched else "0.45",
            zorder=4,
            annotation_clip=False,
        )
        label.set_gid("peak label")
        box = label.get_window_extent(renderer)
        inside = box.x0 >= frame.x0 and box.x1 <= frame.x1 and box.y0 >= frame.y0 and box.y1 <= frame.y1
        if (
            not inside
            or any(box.overlaps(other) for other in keep_clear)
            or any(box.overlaps(other) for other in placed)
            or bars.covered_by(box)
        ):
            label.remove()
            continue
        placed.append(box)
        labelled.add(index)
    return labelled
