"""What a Python user sees of spectra: the Spectrum type, files, scores, ranking, search, evaluation, the mirror plot."""

import math
import subprocess
import sys
import tempfile
import warnings
from pathlib import Path

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
    # The plain cosine: matched 10~10.3 and 30; (16 + 81) / (sqrt(98) * sqrt(101)).
    score, pairs = tessarin.similarity(a, b, intensity_power=1)
    assert score == pytest.approx(97 / math.sqrt(98 * 101)) and pairs == [(0, 0), (2, 1)]
    assert tessarin.similarity(a, b, tolerance=0.2).pairs == [(2, 1)]
    # Square-rooted intensities, the default: (2*2 + 3*3) / (sqrt(4+1+9) * sqrt(4+9+2)).
    assert tessarin.similarity(a, b).score == pytest.approx(13 / math.sqrt(14 * 15))
    # Reverse: the 20 of a is not in b and does not count.
    assert tessarin.similarity(a, b, intensity_power=1, reverse=True).score == pytest.approx(97 / math.sqrt(97 * 101))
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
    ranking = tessarin.rank_candidates(measured, list(zip(names, smiles)), jobs=2, model="schematic")
    expected = sorted(
        (
            (
                tessarin.similarity(
                    measured, tessarin.predict_spectrum(s), intensity_power=0.5, measured_range=True
                ).score,
                i,
            )
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
    from_file = tessarin.rank_candidates(measured, table, model="schematic")
    assert [(r.name, r.score) for r in from_file] == [(r.name, r.score) for r in ranking]
    assert from_file.failed[0].line == 5
    mols = [Chem.MolFromSmiles(s) for s in smiles if s != "C1CC"]
    assert len(tessarin.rank_candidates(measured, mols)) == 4

    assert measured.metadata["mol_mass"] == "102"
    by_mass = tessarin.rank_candidates(measured, smiles, mass="molecular_ion")
    assert sorted(r.smiles for r in by_mass) == ["CCCC(=O)OC", "CCCOC(=O)C", "CCOC(=O)CC"]
    assert by_mass.filtered_out == 1 and tessarin.rank_candidates(measured, smiles, mass=88).filtered_out == 3
    assert [r.smiles for r in tessarin.rank_candidates(measured, smiles, formula="C4H8O2")] == ["CCOC(=O)C"]
    del measured.metadata["mol_mass"]  # the formula's mass then
    assert tessarin.rank_candidates(measured, smiles, mass="molecular_ion").filtered_out == 1
    del measured.metadata["formula"]
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
                annotations=[f"C{k}H{j}" for j in range(n)],
                metadata={"name": f"entry {k}", "comment": "kept"},
            )
        )
    queries = [library[3], library[17].normalized(5), _spectrum([(500, 1)])]
    results = tessarin.search_library(queries, library, top=4, method="composite")
    for query, result in zip(queries, results):
        scored = [
            (tessarin.similarity(query, e, method="composite", measured_range=True), k) for k, e in enumerate(library)
        ]
        expected = sorted(((m.score, k) for m, k in scored if m.pairs), key=lambda t: (-t[0], t[1]))[:4]
        assert [(h.score, h.index) for h in result.hits] == expected
        assert all(h.spectrum == library[h.index] for h in result.hits)  # the entries whole, ions named
    assert results[0].hits[0].index == 3 and results[2].hits == [] and results[2].error is None

    lib_path, query_path = tmp_path / "lib.msp", tmp_path / "q.msp"
    tessarin.write_spectra(library, lib_path)
    tessarin.write_spectra(queries, query_path)
    with open(query_path, "a") as f:
        f.write("Name: broken\nNum Peaks: 3\n10 1\n\n")
    with pytest.warns(UserWarning, match="q.msp:33: Num Peaks is 3") as caught:
        from_files = tessarin.search_library(query_path, lib_path, top=4, method="composite", errors="warn")
    assert [w.filename for w in caught] == [__file__]  # the warning points at the call, not into the package
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
    ev = tessarin.evaluate(spectra, jobs=2, model="schematic")
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


def test_notebook_views_hold_for_empty_bare_and_hostile_spectra_rankings_and_hits():
    import xml.etree.ElementTree as ElementTree

    def well_formed(html):
        ElementTree.fromstring(f"<root>{html}</root>")  # raises on broken or injected markup
        return html

    hostile = {"name": "<script>alert(1)</script>", "formula": 'C2H6O"&'}
    views = [
        Spectrum([], []),
        Spectrum([41, 43], [0, 0]),  # no base peak to scale to
        Spectrum([18.0], [5.0]),  # one peak, no metadata
        Spectrum([12, 13], [1, 2], annotations=["<b>", None], metadata=hostile),
    ]
    for s in views:
        with warnings.catch_warnings():
            warnings.simplefilter("error")  # no division by a zero base peak, no NaN drawn
            html = well_formed(s._repr_html_())
        assert "<svg" in html and "<script>" not in html and "\n" not in repr(s)
    assert "no peaks" in views[0]._repr_html_() and "&lt;script&gt;" in views[3]._repr_html_()
    assert repr(views[2]) == "Spectrum(1 peak, m/z 18\u201318, base peak m/z 18)"
    # A large spectrum costs one stick per pixel column, not one per peak.
    big = Spectrum(np.linspace(20, 900, 200_000), np.random.default_rng(1).uniform(1, 999, 200_000))
    assert big._repr_html_().count("M") <= 420 + 10 and len(big._repr_html_()) < 40_000

    measured = tessarin.predict_spectrum("CCOC(=O)CC").normalized(100)
    ranking = tessarin.rank_candidates(
        measured, [("<i>x</i>", "CCOC(=O)CC"), ("propyl acetate", "CCCOC(=O)C"), "C1CC"], model="schematic"
    )
    assert repr(ranking) == "Ranking(2 candidates, best: '<i>x</i>' CCOC(=O)CC, score 1.0000; 1 failed)"
    html = well_formed(ranking._repr_html_())
    assert "&lt;i&gt;x&lt;/i&gt;" in html and "1 failed" in html and html.count("<tr>") == 3
    assert repr(ranking[0]).startswith("RankedCandidate(rank=1, score=1.0000, name='<i>x</i>'")
    none_left = tessarin.rank_candidates(measured, ["CCO", "CCCO"], mass=500)
    assert repr(none_left) == "Ranking(no candidates; 2 filtered out)" and none_left == []
    assert "no candidates ranked" in well_formed(none_left._repr_html_())

    library = [tessarin.predict_spectrum(s) for s in ("CCOC(=O)CC", "CCCOC(=O)C")]
    results = tessarin.search_library([measured, Spectrum([500], [1]), Spectrum([], [])], library, top=2)
    assert isinstance(results, list) and len(results) == 3
    assert repr(results).startswith("SearchResults(3 queries, 1 with hits")
    assert repr(results[0]).startswith("QueryResult(") and "best: entry 0" in repr(results[0])
    assert repr(results[1]) == "QueryResult(no hits)"
    html = well_formed(results._repr_html_())
    assert html.count("<tr>") == 1 + 2 + 2 and "no hits" in html
    well_formed(results[0]._repr_html_())


def test_dataframe_round_trip_and_the_package_without_pandas(tmp_path):
    pd = pytest.importorskip("pandas")
    s = tessarin.predict_spectrum("CCOC(=O)c1ccccc1C(=O)OCC", model="ei")
    s.metadata["name"] = "diethyl phthalate"
    frame = s.to_dataframe()
    assert list(frame.columns) == ["mz", "intensity", "annotation"] and len(frame) == len(s)
    assert frame.attrs == s.metadata and frame.attrs is not s.metadata
    assert frame["annotation"].tolist() == s.annotations and frame["mz"].dtype == np.float64
    frame.loc[0, "intensity"] = 1.0  # the frame owns its arrays: editing it leaves the spectrum alone
    assert s.intensities[0] != 1.0
    back = Spectrum.from_dataframe(s.to_dataframe())
    assert back == s

    # Through a CSV file: missing annotations come back as NaN and become None; rows in any order.
    frame = Spectrum([15, 29, 31], [10, 999, 300], annotations=["CH3", None, "CH3O"]).to_dataframe()
    frame.iloc[::-1].to_csv(tmp_path / "peaks.csv", index=False)
    read = pd.read_csv(tmp_path / "peaks.csv")
    assert read["annotation"].isna().sum() == 1
    again = Spectrum.from_dataframe(read, metadata={"name": "methanol"})
    assert again.mz.tolist() == [15, 29, 31] and again.annotations == ["CH3", None, "CH3O"]
    assert again.metadata == {"name": "methanol"}
    with pytest.raises(ValueError, match="'intensity' column"):
        Spectrum.from_dataframe(pd.DataFrame({"mz": [1.0], "height": [2.0]}))

    probe = (
        "import sys; sys.modules['pandas'] = None\n"
        "import tessarin\n"
        "s = tessarin.Spectrum([1], [1])\n"
        "try:\n    s.to_dataframe()\nexcept ImportError as e:\n    print(e)\n"
    )
    out = subprocess.run([sys.executable, "-c", probe], capture_output=True, text=True, check=True)
    assert "to_dataframe needs pandas" in out.stdout


def test_spectra_files_as_file_objects_text_binary_and_compressed(tmp_path, monkeypatch):
    import gzip
    import io

    spool = tmp_path / "spool"
    spool.mkdir()
    monkeypatch.setattr(tempfile, "tempdir", str(spool))
    spectra = [
        tessarin.predict_spectrum("CC(=O)C"),
        _spectrum([(15, 10.5), (29, 999)], name="m\u00e9thanol fragment"),  # not ASCII: encodings matter
        tessarin.predict_spectrum("ClCCO", model="ei"),
    ]

    text = io.StringIO()
    assert tessarin.write_spectra(spectra, text, format="msp") == 3
    binary = io.BytesIO()
    assert tessarin.write_spectra(iter(spectra), binary, format="jsonl") == 3
    with open(tmp_path / "lib.mgf", "w", encoding="utf-8") as f:  # format from the file's name
        f.write("# written by hand\n")
        assert tessarin.write_spectra(spectra, f) == 3
    with gzip.open(tmp_path / "lib.msp.gz", "wt", encoding="utf-8") as f:
        assert tessarin.write_spectra(spectra, f) == 3
    tessarin.write_spectra(spectra, tmp_path / "by_path.msp")
    assert text.getvalue() == (tmp_path / "by_path.msp").read_text(encoding="utf-8")

    text.seek(0)
    binary.seek(0)
    sources = [
        text,
        binary,
        open(tmp_path / "lib.mgf", encoding="utf-8"),
        open(tmp_path / "lib.mgf", "rb"),
        gzip.open(tmp_path / "lib.msp.gz", "rb"),  # a decompressing stream named .gz
    ]
    for source in sources:
        back = list(tessarin.read_spectra(source))
        assert [b.mz.tolist() for b in back] == [s.mz.tolist() for s in spectra], source
        assert [b.annotations for b in back] == [s.annotations for s in spectra], source
        assert back[1].name == "m\u00e9thanol fragment", source
        assert not source.closed
        source.close()

    broken = io.StringIO("Name: a\nNum Peaks: 1\n10 100\n\nName: b\nNum Peaks: 2\n10 x\n\n")
    records = tessarin.read_spectra(broken)
    assert next(records).name == "a"
    with pytest.raises(tessarin.SpectrumRecordError) as err:
        next(records)
    assert err.value.path == "<stream>" and err.value.line == 7 and str(err.value).startswith("<stream>:7: m/z 10")
    with open(tmp_path / "broken.msp", "w") as f:
        f.write(broken.getvalue())
    with open(tmp_path / "broken.msp") as f, pytest.warns(UserWarning, match="broken.msp:7"):
        assert [s.name for s in tessarin.read_spectra(f, errors="warn")] == ["a"]
    with pytest.raises(ValueError, match="<stream>") as err:
        tessarin.read_spectra(io.StringIO("just some words\n"))
    assert str(spool) not in str(err.value)
    with pytest.raises(ValueError, match="<stream>"):
        tessarin.write_spectra(spectra, io.BytesIO())  # no name, no format

    # The search and the evaluation take file objects and paths alike.
    with open(tmp_path / "lib.mgf", "rb") as queries:
        hits = tessarin.search_library(queries, tmp_path / "by_path.msp", top=1)
    assert [r.hits[0].index for r in hits] == [0, 1, 2]
    assert list(spool.iterdir()) == []  # every spooled copy is gone


def test_spectra_file_objects_with_gzip_content(tmp_path):
    import gzip
    import io

    spectra = [tessarin.predict_spectrum("CC(=O)C"), tessarin.predict_spectrum("CCO")]
    tessarin.write_spectra(spectra, tmp_path / "lib.msp")
    packed = gzip.compress((tmp_path / "lib.msp").read_bytes())
    (tmp_path / "lib.msp.gz").write_bytes(packed)
    try:
        list(tessarin.read_spectra(tmp_path / "lib.msp.gz"))
    except ValueError:
        pytest.skip("the native reader does not read gzip-compressed spectrum files")
    for stream in (io.BytesIO(packed), open(tmp_path / "lib.msp.gz", "rb")):
        with stream:
            assert [s.mz.tolist() for s in tessarin.read_spectra(stream)] == [s.mz.tolist() for s in spectra]


MIRROR_CASES = {  # measured record (CC BY, tests/data/mirror_plots) and the structure it is of
    "MSBNK-NILU-NL0122.txt": "Cc1c(Br)c(Br)c(Br)c(Br)c1Br",  # pentabromotoluene: Br5 clusters
    "MSBNK-NILU-NL0113.txt": "CCOC(=O)c1ccccc1C(=O)OCC",  # diethyl phthalate: one dominant peak
}


@pytest.mark.parametrize("record", sorted(MIRROR_CASES))
def test_mirror_plot_labels_cover_no_bar_no_label_and_no_legend_on_hard_spectra(record, tmp_path):
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt
    from matplotlib.collections import LineCollection

    measured = next(tessarin.read_spectra(Path(__file__).parents[1] / "data" / "mirror_plots" / record))
    smiles = MIRROR_CASES[record]
    base_mz = measured.mz[int(np.argmax(measured.intensities))]
    for model in ("ei", "schematic"):
        predicted = tessarin.predict_spectrum(smiles, model=model)
        for annotate in (False, True):
            ax = tessarin.mirror_plot(measured, predicted, annotate=annotate)
            fig = ax.figure
            fig.savefig(tmp_path / f"{model}-{annotate}.png")
            renderer = fig.canvas.get_renderer()
            px = fig.dpi / 72
            bars = []
            for c in ax.collections:
                if isinstance(c, LineCollection):
                    for (x0, y0), (x1, y1) in c.get_segments():
                        (dx, dy0), (_, dy1) = ax.transData.transform([(x0, y0), (x1, y1)])
                        half = c.get_linewidths()[0] * px / 2
                        bars.append((dx - half, dx + half, min(dy0, dy1), max(dy0, dy1)))
            assert len(bars) == len(measured) + len(predicted)
            labels = [t for t in ax.texts if t.get_gid() == "peak label"]
            boxes = [t.get_window_extent(renderer) for t in labels]
            legend = ax.get_legend().get_window_extent(renderer)
            where = (record, model, annotate)
            for k, box in enumerate(boxes):
                hit = [b for b in bars if b[1] > box.x0 and b[0] < box.x1 and b[3] > box.y0 and b[2] < box.y1]
                assert not hit, (where, labels[k].get_text())
                assert not box.overlaps(legend), (where, labels[k].get_text())
                assert not any(box.overlaps(other) for other in boxes[k + 1 :]), (where, labels[k].get_text())
                assert ax.get_window_extent(renderer).contains(box.x0, box.y0)
            texts = [t.get_text() for t in labels]
            # Short labels: never the list of every ion at an m/z, never "isotope".
            assert texts and not any("," in t or "isotope" in t or len(t.split("\n")[-1]) > 12 for t in texts), texts
            # The base peak is named by its m/z, whatever else is labelled.
            assert any(t.split("\n")[0] == f"{base_mz:.4f}" for t in texts), (where, texts)
            if annotate and model == "ei":
                assert any("\n" in t for t in texts), where  # explained peaks carry their ion
            lo = ax.get_xlim()[0]
            lowest = min(measured.mz.min(), predicted.mz.min())
            span = max(measured.mz.max(), predicted.mz.max()) - lowest
            assert lowest - 0.1 * span <= lo <= lowest, where  # the axis starts near the lowest peak
            legend_texts = [t.get_text() for t in ax.get_legend().get_texts()]
            for c in ax.collections:  # each colour is named with its number of peaks
                if c.get_gid():
                    kind = c.get_gid() if c.get_gid().endswith("matched") else c.get_gid() + ", unmatched"
                    assert f"{kind} ({len(c.get_segments())} peaks)" in legend_texts, (where, legend_texts)
            if record == "MSBNK-NILU-NL0122.txt" and model == "ei" and not annotate:
                assert any(t.startswith("M+") for t in texts), texts  # the molecular ion's isotope peaks
            plt.close("all")
