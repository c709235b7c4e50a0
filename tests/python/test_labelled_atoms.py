"""Atoms labelled with a mass number weigh it in the analysis, the fragments, the records and the figures."""

import csv
import json
import subprocess
from pathlib import Path

import matplotlib
from rdkit import Chem

import tessarin

matplotlib.use("Agg")

ROOT = Path(__file__).resolve().parents[2]

# Worked by hand: CD3-O-C(=O)-CH3 is 36 + 3 + 6 + 32; CD3O+ 12 + 6 + 16; the
# chloroacetone with 37Cl and 18O is 36 + 5 + 37 + 18; the 13C benzene 79.
CASES = {
    "[2H]C([2H])([2H])OC(=O)C": (77, "C3H3D3O2", {"O4-C5": [("C2H3O", 43), ("CD3O", 34)]}),
    "[37Cl]CC(=[18O])C": (
        96,
        "C3H5[37Cl][18O]",
        {"Cl0-C1": [("C3H5[18O]", 59), ("[37Cl]", 37)], "C1-C2": [("CH2[37Cl]", 51), ("C2H3[18O]", 45)]},
    ),
    "[13cH]1ccccc1": (79, "C5[13C]H6", {"C0-C1 + C3-C4": [("C2[13C]H3", 40), ("C3H3", 39)]}),
}


def pieces(result):
    return {f["bond"]: [(t[0], t[2]) for t in f["fragments"]] for f in result["fragments"] if f["split"]}


def test_analysis_fragments_generations_and_report_count_the_labels(capsys):
    methanol = tessarin.VIF("[2H]C([2H])([2H])O", draw=False, verbose=True)
    assert methanol["mol_mass"] == 35 and round(methanol["mol_mass_avg"]) == 35
    assert "(M+ peak m/z = 35 nominal)" in capsys.readouterr().out
    for smiles, (mass, formula, cuts) in CASES.items():
        a = tessarin.VIF(smiles, draw=False, verbose=True, ring_fragmentation=True)
        assert a["mol_mass"] == mass == round(a["mol_mass_avg"])
        assert pieces(a) == cuts
        report = capsys.readouterr().out
        for formula_mz in cuts.values():
            assert "  +  ".join(f"{f} (m/z={mz})" for f, mz in formula_mz) in report
    deep = tessarin.VIF("[37Cl]CC(=[18O])C", draw=False, verbose=False, recursive_ms=True)["recursive_peaks"]
    assert {mz: p["formula"] for mz, p in deep.items()} == {
        96: "C3H5[37Cl][18O]",
        37: "[37Cl]",
        51: "CH2[37Cl]",
        59: "C3H5[18O]",
        45: "C2H3[18O]",
        14: "CH2",
    }


def test_python_helpers_spectrum_and_figure(tmp_path):
    mol = Chem.AddHs(Chem.MolFromSmiles("[2H]C([2H])([2H])O"))
    everything = range(mol.GetNumAtoms())
    assert tessarin._fragment_formula(mol, everything) == "CHD3O"
    saved = tessarin._nominal_atom_mass(1)
    tessarin._NOMINAL_ISOTOPE[1] = 5  # the table weighs ordinary hydrogen only
    try:
        assert tessarin._nominal_mass(mol, everything) == 12 + 3 * 2 + 16 + 5
    finally:
        tessarin._NOMINAL_ISOTOPE[1] = saved

    s = tessarin.predict_spectrum("[2H]C([2H])([2H])OC(=O)C")
    assert (s.metadata["mol_mass"], s.metadata["formula"]) == ("77", "C3H3D3O2")
    assert list(s.mz) == [34, 43, 77] and s.annotations == ["CD3O", "C2H3O", "C3H3D3O2"]

    a = tessarin.VIF("[37Cl]CC(=[18O])C", draw=False, verbose=False)
    ax = tessarin.plot_mass_spectrum("[37Cl]CC(=[18O])C", a["mol_mass"], a["fragments"])
    labels = {t.get_text() for t in ax.texts}
    assert {"M+\n96", "[37Cl]\n37", "CH2[37Cl]\n51"} <= labels


def test_records_in_every_format(tmp_path):
    src = tmp_path / "labelled.smi"
    src.write_text("".join(f"{s} m{i}\n" for i, s in enumerate(CASES)) + "CC(=O)CCl plain\n")
    cli = str(ROOT / "build" / "tessarin")
    for fmt in ("msp", "jsonl", "csv"):
        run = subprocess.run(
            [cli, "predict", src, "-o", tmp_path / f"lib.{fmt}", "--format", fmt, "--ring"],
            capture_output=True,
            timeout=300,
        )
        assert run.returncode == 0, run.stderr
    records = [json.loads(line) for line in (tmp_path / "lib.jsonl").read_text().splitlines()]
    expected = [(mass, formula) for mass, formula, _ in CASES.values()] + [(92, "C3H5ClO")]
    assert [(r["mol_mass"], r["formula"]) for r in records] == expected
    for r, (_, _, cuts) in zip(records, CASES.values()):
        peaks = {p["mz"]: p["formula"] for p in r["peaks"]}
        assert peaks[r["mol_mass"]] == r["formula"]
        assert all(peaks[mz] == f for pair in cuts.values() for f, mz in pair)
    assert abs(records[3]["mol_mass_avg"] - 92.525) < 1e-3
    msp = (tmp_path / "lib.msp").read_text()
    assert "Name: m1\nFormula: C3H5[37Cl][18O]\nMW: 96\n" in msp and '\n51 599 "CH2[37Cl]"\n' in msp
    assert "Name: plain\nFormula: C3H5ClO\nMW: 92\n" in msp
    with open(tmp_path / "lib.csv", newline="") as f:
        rows = [(r["name"], int(r["mz"]), r["formula"]) for r in csv.DictReader(f)]
    assert rows == [(r["name"], p["mz"], p["formula"]) for r in records for p in r["peaks"]]
    assert ("m0", 34, "CD3O") in rows and ("m2", 40, "C2[13C]H3") in rows
