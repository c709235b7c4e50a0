"""One score and one model by default wherever a prediction meets a measurement: the same pair of spectra
scores the same in identify, search, evaluate and their Python functions, and the mirror plot's title."""

import csv
import os
import subprocess
from pathlib import Path

import matplotlib
import numpy as np
import pytest

import tessarin
from tessarin import Spectrum

matplotlib.use("Agg")

ROOT = Path(__file__).resolve().parents[2]
SMILES = "CCOC(=O)CC"


@pytest.fixture(scope="module")
def cli():
    exe = Path(os.environ.get("TESSARIN_CLI") or ROOT / "build" / "tessarin")
    assert exe.is_file(), f"{exe} is not built"
    return str(exe)


def rows(text):
    return list(csv.DictReader(text.splitlines(), delimiter="\t"))


def run(cli, *args):
    result = subprocess.run([cli, *map(str, args)], capture_output=True, text=True, timeout=300)
    assert result.returncode == 0, result.stderr
    return result.stdout


def test_one_default_score_and_model_across_commands_and_functions(cli, tmp_path):
    predicted = tessarin.predict_spectrum(SMILES, model="ei")
    # A "measured" spectrum: the prediction's peaks with other intensities, and one it lacks.
    mz = np.append(predicted.mz, 31.0)
    measured = Spectrum(mz, np.linspace(50, 999, len(mz))[::-1], metadata={"name": "unknown", "smiles": SMILES})
    sqrt_cosine = tessarin.similarity(measured, predicted, intensity_power=0.5).score
    plain = tessarin.similarity(measured, predicted, intensity_power=1).score
    assert tessarin.similarity(measured, predicted).score == sqrt_cosine and abs(sqrt_cosine - plain) > 0.01
    # The other methods keep their own powers (m/z^3 * I^0.6).
    assert tessarin.similarity(measured, predicted, method="dot_product").score == pytest.approx(
        tessarin.similarity(measured, predicted, method="dot_product", mz_power=3, intensity_power=0.6).score
    )

    spectrum = tmp_path / "unknown.msp"
    tessarin.write_spectra([measured], spectrum)
    library = tmp_path / "library.msp"
    tessarin.write_spectra([predicted], library)
    candidates = tmp_path / "candidates.smi"
    candidates.write_text(f"{SMILES} ethyl propanoate\n")
    expected = f"{sqrt_cosine:.4f}"

    # identify and rank_candidates predict with the ei model by default; predict_spectrum stays schematic.
    assert run(cli, "identify", spectrum, "--candidates", candidates).splitlines()[1].split("\t")[1] == expected
    assert tessarin.rank_candidates(measured, [SMILES])[0].score == sqrt_cosine
    schematic = tessarin.similarity(measured, tessarin.predict_spectrum(SMILES)).score
    assert tessarin.rank_candidates(measured, [SMILES], model="schematic")[0].score == schematic != sqrt_cosine
    plain_row = run(cli, "identify", spectrum, "--candidates", candidates, "--intensity-power", "1")
    assert plain_row.splitlines()[1].split("\t")[1] == f"{plain:.4f}"

    # search compares the library's spectra as they are, by the same score.
    assert rows(run(cli, "search", spectrum, "--library", library))[0]["score"] == expected
    assert tessarin.search_library([measured], [predicted])[0].hits[0].score == sqrt_cosine

    # evaluate: the measured spectrum against its structure's ei prediction.
    table = tmp_path / "evaluation.tsv"
    run(cli, "evaluate", spectrum, "-o", table)
    assert float(rows(table.read_text())[0]["score"]) == pytest.approx(sqrt_cosine, abs=5e-4)  # 3 decimals
    assert tessarin.evaluate([measured]).spectra[0]["score"] == pytest.approx(sqrt_cosine)

    ax = tessarin.mirror_plot(measured, predicted)
    assert f"cosine of \u221aI {sqrt_cosine:.3f}" in ax.get_title()
    matplotlib.pyplot.close(ax.figure)

    # Scanned from m/z 40: the tables, explain and the plot's title leave the predicted peaks below it out alike.
    keep = measured.mz >= 40
    scanned = Spectrum(measured.mz[keep], measured.intensities[keep], metadata={"name": "from 40"})
    ranged = tessarin.similarity(scanned, predicted, measured_range=True).score
    assert ranged != pytest.approx(tessarin.similarity(scanned, predicted).score, abs=1e-3)
    assert tessarin.rank_candidates(scanned, [SMILES])[0].score == pytest.approx(ranged)
    assert tessarin.explain(scanned, SMILES).score == pytest.approx(ranged)
    for options, score in (({}, ranged), ({"measured_range": False}, tessarin.similarity(scanned, predicted).score)):
        ax = tessarin.mirror_plot(scanned, predicted, **options)
        assert f"cosine of \u221aI {score:.3f}" in ax.get_title()
        matplotlib.pyplot.close(ax.figure)
