"""What a Python user sees of spectra: the Spectrum type, files, scores, ranking, search, evaluation, the mirror plot."""

import math
import warnings

import matplotlib
import numpy as np
import pytest
from rdkit import Chem

import tessarin
from tessarin import Spectrum


def _spectrum(peaks, **metadata):
    mz, intensities = zip(*peaks)
    return Spectrum(mz, intensities, metadata=metadata)


def test_spectrum_sorts_its_peaks_keeps_them_read_only_and_refuses_bad_peaks():
    s = Spectrum(
        [43.0, 15, 58],
        [999, 120.5, 300],
        annotations=["C2H3O", None, ["C3H6O", "C2H2O2"]],
        metadata={"name": "acetone", "mol_mass": 58, "score": 0.5, "note": None},
    )
    assert s.mz.tolist() == [15.0, 43.0, 58.0] and s.intensities.tolist() == [120.5, 999.0, 300.0]
    assert s.annotations == [None, "C2H3O", "C3H6O, C2H2O2"]
    assert s.metadata == {"name": "acetone", "mol_mass": "58", "score": "0.5"}
    assert s.mz.dtype == np.float64 and len(s) == 3 and s.name == "acetone"
    with pytest.raises(ValueError):
        s.mz[0] = 1.0
    assert repr(s) == "Spectrum('acetone', 3 peaks, m/z 15\u201358, base peak m/z 43)"
    n = s.normalized()
    assert n.intensities.tolist() == pytest.approx([120.5 / 999, 1.0, 300 / 999])
    assert n.annotations == s.annotations and n.metadata == s.metadata and s.intensities[1] == 999
    assert repr(Spectrum([], [])) == "Spectrum(no peaks)"

    with pytest.raises(ValueError, match="differ in length"):
        Spectrum([1, 2], [1])
    with pytest.raises(ValueError):
        Spectrum([1, 2], [1, -1])
    with pytest.raises(ValueError):
        Spectrum([1, float("nan")], [1, 1])
    with pytest.raises(TypeError, match="mz"):
        Spectrum("12 13", [1, 1])
    with pytest.raises(ValueError, match="2 entries for 1 peaks"):
        Spectrum([1], [1], annotations=["a", "b"])
    with pytest.raises(TypeError, match="annotation of peak 0"):
        Spectrum([1], [1], annotations=[3])
    with pytest.raises(TypeError, match='metadata "flag"'):
        Spectrum([1], [1], metadata={"flag": True})


def test_files_round_trip_and_a_broken_record_names_its_file_and_line(tmp_path):
    spectra = [
        tessarin.predict_spectrum("CC(=O)C"),
        _spectrum([(15, 10.5), (29, 999)], name="methanol fragment", comments="two\nlines"),
        tessarin.predict_spectrum("ClCCO", ring_fragmentation=True),
    ]
    for ext in ("msp", "mgf", "jsonl"):
        path = tmp_path / f"lib.{ext}"
        assert tessarin.write_spectra(iter(spectra), path) == 3
        back = list(tessarin.read_spectra(path))
        assert [b.mz.tolist() for b in back] == [s.mz.tolist() for s in spectra], ext
        assert [b.annotations for b in back] == [s.annotations for s in spectra], ext
        assert back[0].metadata["smiles"] == "CC(=O)C" and back[1].name == "methanol fragment", ext

    broken = tmp_path / "broken.msp"
    broken.write_text("Name: a\nNum Peaks: 1\n10 100\n\nName: b\nNum Peaks: 2\n10 x\n\nName: c\nNum Peaks: 1\n12 5\n\n")
    records = tessarin.read_spectra(broken)
    assert next(records).name == "a"
    with pytest.raises(tessarin.SpectrumRecordError) as err:
        next(records)
    assert isinstance(err.value, ValueError)
    assert err.value.path == str(broken) and err.value.line == 7 and f"{broken}:7:" in str(err.value)
    with pytest.warns(UserWarning, match="broken.msp:7"):
        assert [s.name for s in tessarin.read_spectra(broken, errors="warn")] == ["a", "c"]
    with pytest.raises(FileNotFoundError, match="missing.msp"):
        tessarin.read_spectra(tmp_path / "missing.msp")  # at the call, not at the first record
    with pytest.raises(ValueError):
        tessarin.write_spectra(spectra, tmp_path / "lib.txt")
    with pytest.raises(TypeError, match="spectrum 1"):
        tessarin.write_spectra([spectra[0], "not a spectrum"], tmp_path / "x.msp")


def test_predict_spectrum_takes_smiles_or_mol():
    s = tessarin.predict_spectrum("OCC(Cl)")
    mol = tessarin.predict_spectrum(Chem.MolFromSmiles("ClCCO"))
    assert s.mz.tolist() == mol.mz.tolist() and s.annotations == mol.annotations
    assert mol.metadata["smiles"] == Chem.MolToSmiles(Chem.MolFromSmiles("ClCCO"))
    assert s.metadata["formula"] == "C2H5ClO" and s.metadata["mol_mass"] == "80"
    assert s.intensities.max() == 999 and set(s.intensities.tolist()) == {599.0, 999.0}
    assert len(tessarin.predict_spectrum("ClCCCCO", recursive_ms=True)) > len(tessarin.predict_spectrum("ClCCCCO"))
    with pytest.raises(ValueError, match="cannot read the SMILES"):
        tessarin.predict_spectrum("C1CC")
    with pytest.raises(TypeError, match="SMILES string or an RDKit Mol"):
        tessarin.predict_spectrum(42)
    with pytest.raises(ValueError, match="model"):
        tessarin.predict_spectrum("C", model="quantum")


def test_similarity_matches_hand_worked_scores():
    a = _spectrum([(10, 4), (20, 1), (30, 9)])
    b = _spectrum([(10.3, 4), (30, 9), (45, 2)])
    # Cosine: matched 10~10.3 and 30; (16 + 81) / (sqrt(98) * sqrt(101)).
    score, pairs = tessarin.similarity(a, b)
    assert score == pytest.approx(97 / math.sqrt(98 * 101)) and pairs == [(0, 0), (2, 1)]
    assert tessarin.similarity(a, b, tolerance=0.2).pairs == [(2, 1)]
    # Square-rooted intensities: (2*2 + 3*3) / (sqrt(4+1+9) * sqrt(4+9+2)).
    assert tessarin.similarity(a, b, intensity_power=0.5).score == pytest.approx(13 / math.sqrt(14 * 15))
    # Reverse: the 20 of a is not in b and does not count.
    assert tessarin.similarity(a, b, reverse=True).score == pytest.approx(97 / math.sqrt(97 * 101))
    assert tessarin.similarity(a, b, method="dot_product", mz_power=0, intensity_power=1).score == pytest.approx(
        97**2 / (98 * 101)
    )
    with pytest.raises(ValueError, match="method"):
        tessarin.similarity(a, b, method="spectral_entropy")
    with pytest.raises(ValueError, match="tolerance"):
        tessarin.similarity(a, b, tolerance=-1)
    with pytest.raises(TypeError, match="b must be a Spectrum"):
        tessarin.similarity(a, [1, 2])


def test_rank_candidates_from_a_list_or_a_table_equals_scoring_each_prediction(tmp_path):
    names = ["methyl butanoate", "ethyl propanoate", "propyl acetate", "broken", "ethyl acetate"]
    smiles = ["CCCC(=O)OC", "CCOC(=O)CC", "CCCOC(=O)C", "C1CC", "CCOC(=O)C"]
    measured = tessarin.predict_spectrum("CCOC(=O)CC").normalized(100)
    ranking = tessarin.rank_candidates(measured, list(zip(names, smiles)), jobs=2)
    expected = sorted(
        (
            (tessarin.similarity(measured, tessarin.predict_spectrum(s), intensity_power=0.5).score, i)
            for i, s in enumerate(smiles)
            if s != "C1CC"
        ),
        key=lambda t: -t[0],
    )
    assert [(r.score, r.position) for r in ranking] == expected
    assert ranking[0].name == "ethyl propanoate" and ranking[0].rank == 1 and ranking[0].score == pytest.approx(1.0)
    assert ranking[1].score < ranking[0].score
    assert ranking[0].spectrum.annotations == tessarin.predict_spectrum("CCOC(=O)CC").annotations
    assert [(f.position, f.smiles) for f in ranking.failed] == [(3, "C1CC")]

    table = tmp_path / "candidates.csv"
    table.write_text("Name,SMILES\n" + "".join(f'"{n}",{s}\n' for n, s in zip(names, smiles)))
    from_file = tessarin.rank_candidates(measured, table)
    assert [(r.name, r.score) for r in from_file] == [(r.name, r.score) for r in ranking]
    assert from_file.failed[0].line == 5
    mols = [Chem.MolFromSmiles(s) for s in smiles if s != "C1CC"]
    assert len(tessarin.rank_candidates(measured, mols)) == 4

    assert measured.metadata["mol_mass"] == "102"
    by_mass = tessarin.rank_candidates(measured, smiles, mass="molecular_ion")
    assert sorted(r.smiles for r in by_mass) == ["CCCC(=O)OC", "CCCOC(=O)C", "CCOC(=O)CC"]
    assert by_mass.filtered_out == 1 and tessarin.rank_candidates(measured, smiles, mass=88).filtered_out == 3
    assert [r.smiles for r in tessarin.rank_candidates(measured, smiles, formula="C4H8O2")] == ["CCOC(=O)C"]
    del measured.metadata["mol_mass"]
    with pytest.raises(ValueError, match="no molecular mass"):
        tessarin.rank_candidates(measured, smiles, mass="molecular_ion")
    with pytest.raises(TypeError, match="molecule 2"):
        tessarin.rank_candidates(measured, ["CCO", 5])
    with pytest.raises(ValueError, match="SMILES column"):
        bad = tmp_path / "bad.csv"
        bad.write_text("name,structure\nx,CCO\n")
        tessarin.rank_candidates(measured, bad)


def test_search_library_equals_scoring_every_entry(tmp_path):
    rng = np.random.default_rng(3)
    library = []
    for k in range(40):
        n = int(rng.integers(3, 15))
        library.append(
            Spectrum(
                rng.choice(np.arange(12, 200), size=n, replace=False),
                rng.uniform(1, 999, size=n),
                metadata={"name": f"entry {k}"},
            )
        )
    queries = [library[3], library[17].normalized(5), _spectrum([(500, 1)])]
    results = tessarin.search_library(queries, library, top=4, method="composite")
    for query, result in zip(queries, results):
        scored = [(tessarin.similarity(query, e, method="composite"), k) for k, e in enumerate(library)]
        expected = sorted(((m.score, k) for m, k in scored if m.pairs), key=lambda t: (-t[0], t[1]))[:4]
        assert [(h.score, h.index) for h in result.hits] == expected
        assert all(h.spectrum.name == f"entry {h.index}" for h in result.hits)
    assert results[0].hits[0].index == 3 and results[2].hits == [] and results[2].error is None

    lib_path, query_path = tmp_path / "lib.msp", tmp_path / "q.msp"
    tessarin.write_spectra(library, lib_path)
    tessarin.write_spectra(queries, query_path)
    with open(query_path, "a") as f:
        f.write("Name: broken\nNum Peaks: 3\n10 1\n\n")
    with pytest.warns(UserWarning, match="q.msp:31: Num Peaks is 3"):
        from_files = tessarin.search_library(query_path, lib_path, top=4, method="composite", errors="warn")
    assert [[(h.index, h.score) for h in r.hits] for r in from_files] == [
        [(h.index, h.score) for h in r.hits] for r in results
    ]
    with pytest.raises(tessarin.SpectrumRecordError):
        tessarin.search_library(query_path, lib_path)


def test_evaluate_counts_isobaric_candidates_and_reports_spectra_without_structure():
    def measured(smiles, name):
        s = tessarin.predict_spectrum(smiles)
        return Spectrum(s.mz, np.linspace(100, 500, len(s)), metadata={"name": name, "smiles": smiles})

    spectra = [
        measured("CCOC(=O)C", "ethyl acetate"),
        measured("CCC(=O)OC", "methyl propanoate"),
        measured("C/C=C/C", "butene"),
        Spectrum([10], [1], metadata={"name": "anonymous"}),
    ]
    ev = tessarin.evaluate(spectra, jobs=2)
    rows = {r["name"]: r for r in ev.spectra}
    assert rows["ethyl acetate"]["candidates"] == 2 and rows["butene"]["candidates"] == 1
    assert rows["butene"]["smiles"] == "CC=CC" and rows["butene"]["top1"] == 1.0
    assert rows["anonymous"]["error"] == "no SMILES" and rows["anonymous"]["score"] is None
    assert rows["methyl propanoate"]["rank"] == 1.0 and rows["methyl propanoate"]["top1"] == 1.0
    for name in ("ethyl acetate", "methyl propanoate"):
        own = spectra[[s.name for s in spectra].index(name)]
        assert (
            rows[name]["score"]
            == tessarin.similarity(own, tessarin.predict_spectrum(rows[name]["smiles"]), intensity_power=0.5).score
        )
    assert ev.summary["spectra"] == 4 and ev.summary["evaluated"] == 3 and ev.summary["structures"] == 3
    assert ev.summary["mean_candidates"] == pytest.approx(5 / 3)
    assert ev.report.startswith("spectra          4 (3 evaluated, 1 without measures)")


def test_mirror_plot_highlights_matched_peaks_and_its_labels_never_overlap(tmp_path):
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    measured = _spectrum([(15, 100), (29, 300), (31, 999), (43, 50), (45, 420), (46, 200)], name="ethanol")
    predicted = tessarin.predict_spectrum("CCO", ring_fragmentation=True)
    predicted.metadata["name"] = "ethanol (predicted)"
    ax = tessarin.mirror_plot(measured, predicted)
    match = tessarin.similarity(measured, predicted, intensity_power=0.5)
    by_gid = {c.get_gid(): c for c in ax.collections}
    up = sorted(seg[1][0] for seg in by_gid["measured, matched"].get_segments())
    down = sorted(seg[1][0] for seg in by_gid["predicted, matched"].get_segments())
    assert up == sorted(measured.mz[i] for i, _ in match.pairs)
    assert down == sorted(predicted.mz[j] for _, j in match.pairs)
    assert all(
        seg[1][1] <= 0 for seg in by_gid["predicted"].get_segments() + by_gid["predicted, matched"].get_segments()
    )
    assert f"{match.score:.3f}" in ax.get_title() and "ethanol (predicted)" in ax.get_title()

    # Crowded labels: many annotated peaks one m/z apart; every drawn label fits alone.
    crowded = Spectrum(np.arange(20, 80), np.full(60, 500.0), annotations=[f"C{k}H{k}" for k in range(60)])
    fig, ax2 = plt.subplots(figsize=(6, 4))
    tessarin.mirror_plot(crowded, crowded, ax=ax2)
    fig.savefig(tmp_path / "crowded.png")
    renderer = fig.canvas.get_renderer()
    labels = [t for t in ax2.texts if t.get_gid() == "peak label"]
    assert 2 <= len(labels) < 120
    boxes = [t.get_window_extent(renderer) for t in labels]
    assert not any(a.overlaps(b) for i, a in enumerate(boxes) for b in boxes[i + 1 :])
    plt.close("all")
