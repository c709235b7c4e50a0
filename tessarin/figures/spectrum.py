"""Schematic stick spectrum of the predicted fragments."""

from collections.abc import Iterable, Mapping
from typing import Any

import matplotlib.pyplot as plt
from matplotlib.axes import Axes

from .. import _native

MOLECULAR_ION = "M+"


def plot_mass_spectrum(
    smiles: str, mol_mass: float, fragments: Iterable[Mapping[str, Any]], ax: Axes | None = None
) -> Axes:
    """Draw the molecular ion and every fragment m/z of the split cuts as sticks.

    Intensities are not predicted: the molecular ion is a crimson stick of
    height 100, each fragment a steel-blue stick of height 60, labelled with
    its formula and m/z. Draws into ``ax`` (a new 11 x 5.5 inch figure when
    None), neither shows nor saves, and returns the axes.
    """
    mol_ion = int(round(mol_mass))
    peaks = _native.spectrum_peaks(mol_ion, MOLECULAR_ION, fragments)
    if ax is None:
        plt.figure(figsize=(11, 5.5))
        ax = plt.gca()

    x_max = mol_ion + max(20, int(mol_ion * 0.15))
    close_thresh = x_max * 0.06
    prev_mz = None
    level = 0
    for mz, _intensity, label in peaks:
        is_m = label == MOLECULAR_ION
        bar_h = 100 if is_m else 60
        color = "crimson" if is_m else "steelblue"
        ax.vlines(mz, 0, bar_h, color=color, linewidth=2.2 if is_m else 1.6)
        # A label close to the previous one climbs a step to stay readable.
        level = level + 1 if prev_mz is not None and mz - prev_mz < close_thresh else 0
        label_y = bar_h + 3 + level * 11
        ax.annotate(
            f"{label}\n{mz}",
            xy=(mz, bar_h),
            xytext=(mz, label_y),
            ha="center",
            va="bottom",
            fontsize=8,
            color=color,
            arrowprops={"arrowstyle": "-", "color": "gray", "lw": 0.5, "alpha": 0.6},
        )
        prev_mz = mz

    ax.set_xlim(0, x_max)
    ax.set_ylim(0, 150)
    ax.set_xlabel("m/z")
    ax.set_ylabel("(schematic \u2014 intensities are not predicted)")
    ax.set_title(f"Tessarin predicted EI-MS fragments: {smiles}")
    ax.spines["top"].set_visible(False)
    ax.spines["right"].set_visible(False)
    return ax
