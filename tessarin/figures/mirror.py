"""Mirror plot: a measured spectrum above the axis, a predicted one below, matched peaks highlighted."""

import matplotlib.pyplot as plt
from matplotlib.ticker import FuncFormatter

MEASURED_COLOR = "0.55"
MEASURED_MATCHED_COLOR = "tab:blue"
PREDICTED_COLOR = "0.7"
PREDICTED_MATCHED_COLOR = "tab:red"
LABEL_MIN_SHARE = 0.05  # peaks below 5 % of their base peak get no label


def _title_name(spectrum, fallback):
    meta = spectrum.metadata
    return meta.get("name") or meta.get("smiles") or meta.get("accession") or fallback


def _renderer(fig):
    get = getattr(fig.canvas, "get_renderer", None)
    return get() if get is not None else fig._get_renderer()


def mirror_plot(
    measured, predicted, ax=None, method="cosine", tolerance=0.5, mz_power=0, intensity_power=0.5, reverse=False
):
    """Draw ``measured`` upwards and ``predicted`` downwards, each scaled to its base peak (100 %).

    Peaks the score matches (``similarity(measured, predicted, method, tolerance,
    mz_power, intensity_power, reverse)``; by default the cosine of
    square-rooted intensities) are drawn in colour, blue above and red below; the others
    grey. Peaks of at least 5 % of their base peak are labelled with their
    annotation (the formula), the most intense first, each label only where
    it overlaps no label already placed and stays inside the axes. The title
    names both spectra and gives the score and the number of matched peaks.
    Draws into ``ax`` (a new 11 x 6 inch figure when None), neither shows nor
    saves, and returns the axes.
    """
    from ..spectra import similarity

    match = similarity(
        measured,
        predicted,
        method=method,
        tolerance=tolerance,
        mz_power=mz_power,
        intensity_power=intensity_power,
        reverse=reverse,
    )
    matched_up = {i for i, _ in match.pairs}
    matched_down = {j for _, j in match.pairs}
    if ax is None:
        plt.figure(figsize=(11, 6))
        ax = plt.gca()

    def heights(spectrum):
        top = float(spectrum.intensities.max()) if len(spectrum) else 0.0
        return [100.0 * float(v) / top if top > 0 else 0.0 for v in spectrum.intensities]

    up = heights(measured)
    down = [-h for h in heights(predicted)]
    for spectrum, ys, matched, colors, side in (
        (measured, up, matched_up, (MEASURED_COLOR, MEASURED_MATCHED_COLOR), "measured"),
        (predicted, down, matched_down, (PREDICTED_COLOR, PREDICTED_MATCHED_COLOR), "predicted"),
    ):
        for is_matched in (False, True):
            idx = [i for i in range(len(spectrum)) if (i in matched) == is_matched]
            label = f"{side}, matched" if is_matched else side
            lines = ax.vlines(
                [spectrum.mz[i] for i in idx],
                0,
                [ys[i] for i in idx],
                colors=colors[is_matched],
                linewidth=1.8 if is_matched else 1.0,
                label=f"{label} ({len(idx)})",
                zorder=3 if is_matched else 2,
            )
            lines.set_gid(label)
    ax.axhline(0, color="black", linewidth=0.8)

    all_mz = list(measured.mz) + list(predicted.mz)
    hi = max(all_mz) if all_mz else 100.0
    ax.set_xlim(0, hi * 1.05 + 5)
    ax.set_ylim(-125, 125)
    ax.yaxis.set_major_formatter(FuncFormatter(lambda y, _pos: f"{abs(y):g}"))
    ax.set_xlabel("m/z")
    ax.set_ylabel("relative intensity (%)   measured \u2191  predicted \u2193")
    score_name = method.replace("_", " ") + (" (reverse)" if reverse else "")
    if method == "cosine" and intensity_power == 0.5 and not mz_power and not reverse:
        score_name = "cosine of \u221aI"
    matched = f"{len(match.pairs)} matched peak{'' if len(match.pairs) == 1 else 's'}"
    ax.set_title(
        f"{_title_name(measured, 'measured')} (measured) vs {_title_name(predicted, 'predicted')} "
        f"(predicted)\n{score_name} {match.score:.3f}, {matched}"
    )
    ax.spines["top"].set_visible(False)
    ax.spines["right"].set_visible(False)
    # The legend goes to the upper corner over the weaker measured peaks.
    lo, hi_x = ax.get_xlim()
    left = max((y for x, y in zip(measured.mz, up) if x < lo + 0.3 * (hi_x - lo)), default=0.0)
    right = max((y for x, y in zip(measured.mz, up) if x > hi_x - 0.3 * (hi_x - lo)), default=0.0)
    ax.legend(loc="upper left" if left < right else "upper right", fontsize=8, frameon=False)

    # Labels, most intense first, where they fit.
    wanted = []
    for spectrum, ys, matched in ((measured, up, matched_up), (predicted, down, matched_down)):
        for i, y in enumerate(ys):
            text = spectrum.annotations[i]
            if text and abs(y) >= 100 * LABEL_MIN_SHARE:
                wanted.append((abs(y), i in matched, float(spectrum.mz[i]), y, text))
    wanted.sort(key=lambda w: (-w[0], not w[1], w[2]))
    fig = ax.figure
    renderer = _renderer(fig)
    frame = ax.get_window_extent(renderer)
    legend_box = ax.get_legend().get_window_extent(renderer)
    placed = []
    for _, is_matched, mz, y, text in wanted:
        label = ax.annotate(
            text,
            xy=(mz, y),
            xytext=(0, 2 if y > 0 else -2),
            textcoords="offset points",
            ha="center",
            va="bottom" if y > 0 else "top",
            fontsize=7,
            color="black" if is_matched else "0.45",
            zorder=4,
        )
        label.set_gid("peak label")
        box = label.get_window_extent(renderer)
        inside = box.x0 >= frame.x0 and box.x1 <= frame.x1 and box.y0 >= frame.y0 and box.y1 <= frame.y1
        if not inside or box.overlaps(legend_box) or any(box.overlaps(other) for other in placed):
            label.remove()
            continue
        placed.append(box)
    return ax
