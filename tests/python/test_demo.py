"""triple_group_demo: the report, the two PNG files and the returned VIF result."""

import matplotlib.figure
import matplotlib.pyplot as plt
import pytest
from PIL import Image

import tessarin

DEFAULT = "N#Cc1ccc(cc1)N=Nc1ccc(cc1)Cl"


@pytest.fixture(autouse=True)
def close_figures():
    yield
    plt.close("all")


@pytest.fixture
def vif_calls(monkeypatch):
    """Every VIF call of the demo, with what it returned."""
    calls = []
    real = tessarin.VIF

    def recording(smiles, **kwargs):
        result = real(smiles, **kwargs)
        calls.append((smiles, kwargs, result))
        return result

    monkeypatch.setattr(tessarin, "VIF", recording)
    return calls


@pytest.fixture
def saved(monkeypatch):
    """(file name, figure size) of every figure saved, in order."""
    out = []
    real = matplotlib.figure.Figure.savefig

    def recording(fig, fname, **kwargs):
        out.append((str(fname), fig.get_size_inches().tolist(), kwargs))
        return real(fig, fname, **kwargs)

    monkeypatch.setattr(matplotlib.figure.Figure, "savefig", recording)
    return out


def test_default_demo_report_files_and_result(tmp_path, capsys, vif_calls, saved):
    prefix = str(tmp_path / "kombine")
    result = tessarin.triple_group_demo(save_prefix=prefix)

    ((smiles, kwargs, returned),) = vif_calls
    assert smiles == DEFAULT and kwargs == {"draw": True, "verbose": False, "show_spectrum": False}
    assert result is returned and len(result) == 9  # VIF's own drawn result, nothing added

    graph_png, ms_png = f"{prefix}_graph.png", f"{prefix}_ms.png"
    # The graph file holds VIF's 12 x 10 figure, the spectrum file the 11 x 5.5 one.
    assert saved == [
        (graph_png, [12, 10], {"dpi": 140, "bbox_inches": "tight"}),
        (ms_png, [11, 5.5], {"dpi": 140, "bbox_inches": "tight"}),
    ]
    for path in (graph_png, ms_png):
        with Image.open(path) as im:
            assert im.info["dpi"] == pytest.approx((140, 140), abs=0.1)

    lpi = result["lpi"]
    split = [e for e in result["fragments"] if e["split"]]
    assert 0 < len(split) < len(result["fragments"])  # the molecule has cuts that are skipped
    lines = capsys.readouterr().out.splitlines()
    assert lines[:3] == [
        f"Molecule : {DEFAULT}",
        f"M+ = {result['mol_mass']}   LPI = {{{lpi['n+']}, {lpi['n0']}, {lpi['n-']}}}",
        "Fragments (single-cut):",
    ]
    assert lines[3:-1] == [
        "   " + e["bond"].rjust(10) + "  ->  " + ", ".join(f"{f}({mz})" for f, _m, mz in e["fragments"]) for e in split
    ]
    assert "     C13-Cl16  ->  C13H8N3(206), Cl(35)" in lines
    assert lines[-1] == f"Saved: {graph_png} , {ms_png}"
    spectrum = plt.gcf().axes[0]
    assert spectrum.get_title() == f"Tessarin predicted EI-MS fragments: {DEFAULT}"


def test_bond_labels_right_aligned_unsplit_cuts_skipped_nothing_saved(tmp_path, monkeypatch, capsys, saved):
    monkeypatch.chdir(tmp_path)
    real = tessarin.VIF
    fragments = [
        {"bond": "C0-O1", "split": True, "mode": "single", "fragments": [("HO", 17.0, 17), ("CH3", 15.0, 15)]},
        {"bond": "C1-Cl2", "split": False, "mode": "single", "fragments": None},
        {"bond": "C1000-Cl1001", "split": True, "mode": "ring", "fragments": [("X", 1.0, 1)]},
    ]
    monkeypatch.setattr(tessarin, "VIF", lambda smiles, **kw: dict(real(smiles, **kw), fragments=fragments))
    tessarin.triple_group_demo("CO", save_prefix=None)
    assert capsys.readouterr().out.splitlines()[2:] == [
        "Fragments (single-cut):",
        "        C0-O1  ->  HO(17), CH3(15)",
        "   C1000-Cl1001  ->  X(1)",
    ]
    fragments.clear()
    tessarin.triple_group_demo("O", save_prefix="")
    assert capsys.readouterr().out.splitlines()[2:] == ["Fragments (single-cut):"]
    assert saved == [] and list(tmp_path.iterdir()) == []


def test_graph_is_saved_even_when_show_closes_the_figures(tmp_path, monkeypatch):
    titles = []
    real = matplotlib.figure.Figure.savefig
    monkeypatch.setattr(
        matplotlib.figure.Figure,
        "savefig",
        lambda fig, *a, **k: (titles.append(fig.axes[0].get_title()), real(fig, *a, **k)),
    )
    monkeypatch.setattr(plt, "show", lambda *a, **k: plt.close("all"))  # as notebook back ends do
    tessarin.triple_group_demo("CCl", save_prefix=str(tmp_path / "nb"))
    assert titles[0].startswith("VIF: CCl   |   LPI = {n+=")
    assert titles[1] == "Tessarin predicted EI-MS fragments: CCl"


def test_unreadable_smiles_or_missing_directory(tmp_path, capsys):
    prefix = tmp_path / "demo"
    with pytest.raises(ValueError, match="SMILES okunamad\u0131!"):
        tessarin.triple_group_demo("C1CC", save_prefix=str(prefix))
    assert list(tmp_path.iterdir()) == [] and capsys.readouterr().out == ""

    with pytest.raises(FileNotFoundError):
        tessarin.triple_group_demo("CCl", save_prefix=str(tmp_path / "absent" / "demo"))
    assert capsys.readouterr().out == ""  # the first save failed before the report
