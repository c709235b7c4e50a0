"""The molecular mass of an unknown spectrum from Python: results, the library as Spectrum objects, bad input."""

import math

import pytest

import tessarin
from tessarin import Spectrum


def _spectrum(peaks, **metadata):
    mz, intensities = zip(*peaks)
    return Spectrum(mz, intensities, metadata=metadata)


# Chlorobenzene: M 112 with its 3:1 chlorine cluster, M-Cl at 77.
CHLOROBENZENE = [(50, 150), (51, 120), (77, 420), (112, 999), (113, 66), (114, 320), (115, 21)]


def test_hypotheses_are_ranked_scored_explained_and_shown():
    result = tessarin.estimate_molecular_mass(_spectrum(CHLOROBENZENE, mol_mass=500))
    best = result[0]
    assert isinstance(best.mass, int) and best.mass == 112
    assert [h.score for h in result] == sorted((h.score for h in result), reverse=True)
    assert 0 < sum(h.score for h in result) <= 1 + 1e-12 and all(h.score >= 0.01 for h in result)
    assert any("1 Cl" in line for line in best.evidence) and any("M-35 (Cl)" in line for line in best.evidence)
    assert result.plausible[0] == 112 and set(result.plausible) <= {h.mass for h in result}
    assert result.used_library is False
    assert repr(best) == f"MassHypothesis(mass=112, score={best.score:.3f})"
    assert repr(result).startswith("MassHypotheses([112 (")
    html = result._repr_html_()
    assert html.count("<tr>") == len(result) + 1 and "M-35 (Cl)" in html

    few = tessarin.estimate_molecular_mass(_spectrum(CHLOROBENZENE), max_hypotheses=2, max_plausible=1)
    assert len(few) <= 2 and few.plausible == [112]
    assert [(h.mass, h.score, h.evidence) for h in few] == [(h.mass, h.score, h.evidence) for h in result[:2]]


def test_a_library_of_spectrum_objects_is_weighed_and_named():
    own = _spectrum(CHLOROBENZENE, name="chlorobenzene", mol_mass=112)
    decoy = _spectrum([(50, 999), (114, 200)], name="decoy", mol_mass=114)
    queries = [_spectrum(CHLOROBENZENE), _spectrum(CHLOROBENZENE[:3])]  # the second lost its molecular ion
    results = tessarin.estimate_molecular_mass(queries, library=[decoy, own], jobs=1)
    assert len(results) == 2 and all(r.used_library for r in results)
    assert results[0][0].mass == 112
    assert any("(chlorobenzene)" in line for line in results[0][0].evidence)
    assert any(line.startswith("library:") for h in results[1] for line in h.evidence)


def test_bad_spectra_and_options_raise_value_errors():
    with pytest.raises(ValueError, match="no peak of positive intensity"):
        tessarin.estimate_molecular_mass(Spectrum([], []))
    with pytest.raises(ValueError):
        tessarin.estimate_molecular_mass(Spectrum([50, 60], [1.0, math.nan]))
    with pytest.raises(ValueError):
        tessarin.estimate_molecular_mass(_spectrum(CHLOROBENZENE), max_hypotheses=0)
    with pytest.raises(TypeError):
        tessarin.estimate_molecular_mass([_spectrum(CHLOROBENZENE), "not a spectrum"])
