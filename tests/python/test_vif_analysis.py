"""VIF(smiles, draw=False): the orbital graph, the LPI, the fragments, the result map and the report."""

import contextlib
import io

import networkx as nx
import numpy as np
import pytest

import tessarin

KEYS_14 = [
    "lpi",
    "soft_bonds",
    "fragments",
    "real_fragments",
    "single_fragments",
    "ringcut_fragments",
    "ring_soft_bonds",
    "recursive_peaks",
    "graph",
    "chem_bonds",
    "atom_subgraphs",
    "pos",
    "mol_mass",
    "mol_mass_avg",
]
RECORD_KEYS = ["u_node", "v_node", "atom_u", "atom_v", "sym_u", "sym_v", "order", "k"]


def quiet(smiles, **kw):
    return tessarin.VIF(smiles, draw=False, verbose=False, **kw)


def triple(lpi):
    return lpi["n+"], lpi["n0"], lpi["n-"]


@pytest.mark.parametrize(
    "smiles, expected",
    [
        ("O", (3, 0, 3)),
        ("CO", (6, 0, 6)),
        ("CN", (6, 1, 6)),
        ("F", (2, 0, 3)),
        ("CF", (5, 0, 6)),
        ("C=C", (6, 0, 6)),
        ("C", (4, 0, 4)),
        ("c1ccccc1", (15, 0, 15)),
        ("C1CCCCC1", (18, 0, 18)),
        ("CCC", (10, 0, 10)),
        ("CCCC", (13, 0, 13)),
        ("CC(=O)OC1=CC=CC=C1C(=O)O", (26, 0, 34)),
    ],
)
def test_reference_lpi_triples(smiles, expected):
    assert triple(quiet(smiles)["lpi"]) == expected


def test_methane_result_map_and_types(capsys):
    r = quiet("C")
    assert capsys.readouterr().out == ""
    assert list(r) == KEYS_14
    g = r["graph"]
    assert isinstance(g, nx.Graph) and g.number_of_nodes() == 8 and g.number_of_edges() == 10
    assert list(g.nodes) == list(range(8))
    assert g.nodes[0] == {"symbol": "C", "rol": "Merkez", "kind": "sigma"}
    assert g.nodes[5] == {"symbol": "H", "rol": "U\u00e7", "kind": "sigma"}
    weights = sorted(w for _, _, w in g.edges(data="weight"))
    assert weights == [0.9] * 4 + [1.0] * 6
    assert r["atom_subgraphs"] == {0: [0, 1, 2, 3], 1: [4], 2: [5], 3: [6], 4: [7]}
    assert sorted(r["pos"]) == list(range(8))
    assert all(isinstance(p, np.ndarray) and p.shape == (2,) and p.dtype == np.float64 for p in r["pos"].values())
    assert type(r["mol_mass"]) is int and r["mol_mass"] == 16
    assert type(r["mol_mass_avg"]) is float and abs(r["mol_mass_avg"] - 16.043) < 1e-3
    assert r["recursive_peaks"] is None
    assert isinstance(r["lpi"]["eigenvalues"], np.ndarray)
    assert np.array_equal(r["lpi"]["eigenvalues"], tessarin.compute_lpi(g)["eigenvalues"])
    assert all(list(rec) == RECORD_KEYS for rec in r["chem_bonds"])


def test_ethylene_numbering_and_formaldehyde_records():
    g = quiet("C=C")["graph"]
    assert [g.nodes[n]["kind"] for n in range(8)] == ["sigma"] * 3 + ["pi"] + ["sigma"] * 3 + ["pi"]
    intra = [(u, v) for u, v, w in g.edges(data="weight") if w == 1.0]
    assert sorted(intra) == [(0, 1), (0, 2), (1, 2), (4, 5), (4, 6), (5, 6)]

    r = quiet("C=O")
    bonds = r["chem_bonds"]
    assert [(b["atom_u"], b["atom_v"], b["order"], b["k"]) for b in bonds] == [
        (0, 1, 2, 0),
        (0, 1, 2, 1),
        (0, 2, 1, 0),
        (0, 3, 1, 0),
    ]
    assert all(r["graph"][b["u_node"]][b["v_node"]]["weight"] == 0.9 for b in bonds)
    assert tessarin._build_bond_orders(tessarin.Chem.MolFromSmiles("C=O")) == {(0, 1): 2, (1, 0): 2}


def test_soft_bonds_are_the_chem_bond_records_themselves():
    r = quiet("CCO")
    ids = {id(b) for b in r["chem_bonds"]}
    assert all(id(s) in ids for s in r["soft_bonds"])
    for entry in r["real_fragments"]:
        assert entry in r["fragments"]
    assert r["real_fragments"] == r["single_fragments"] + r["ringcut_fragments"]
    assert all(not e["split"] for e in r["ring_soft_bonds"])


def test_fragment_tuples_are_plain_python_values():
    r = quiet("c1ccc(cc1)[N+](=O)[O-]")
    mzs = {t[2] for e in r["fragments"] if e["split"] for t in e["fragments"]}
    assert {77, 46} <= mzs
    for entry in r["fragments"]:
        assert list(entry) == ["bond", "split", "mode", "fragments"]
        for formula, mass, mz in entry["fragments"] or []:
            assert type(formula) is str and type(mass) is float and type(mz) is int
    oxime = quiet("CC(=NO)C")
    assert {56, 17} <= {t[2] for e in oxime["fragments"] if e["split"] for t in e["fragments"]}


def test_unreadable_smiles_return_the_failure_text_and_print_nothing(capsys):
    for bad in ["C1CC", "not a smiles", "C(", "", "[Xx]"]:
        assert tessarin.VIF(bad, draw=False) == "SMILES okunamad\u0131!"
    assert capsys.readouterr().out == ""


def test_hostile_inputs_raise_python_errors():
    with pytest.raises(ValueError, match=r"'\*'"):
        quiet("C*")
    with pytest.raises(TypeError):
        tessarin.VIF(None, draw=False)
    with pytest.raises(TypeError):
        tessarin.VIF(b"CCO", draw=False)
    for option, value in (("n_iter", 1.5), ("max_generations", 2.0), ("max_generations", True)):
        with pytest.raises(TypeError, match=option):
            quiet("CCO", **{option: value})
    for option in ("radius_ratio", "bond_kappa", "target_bond_len"):
        with pytest.raises(ValueError, match=option):
            quiet("CCO", **{option: float("nan")})


def test_unsanitisable_molecules_are_processed_as_written():
    for smiles in ["C1[Li]C[Li]1", "c1ccc(cc1)[N+](=O)[O-]", "c1cccc1", "C(C)(C)(C)(C)C", tessarin.diborane]:
        r = quiet(smiles)
        assert r["graph"].number_of_nodes() == sum(len(v) for v in r["atom_subgraphs"].values())


def test_large_molecules_work():
    r = quiet("C" * 120, n_iter=50)
    assert r["mol_mass"] == 120 * 12 + 242
    assert sum(triple(r["lpi"])) == r["graph"].number_of_nodes()


def test_report_goes_to_the_current_sys_stdout():
    buf = io.StringIO()
    with contextlib.redirect_stdout(buf):
        tessarin.VIF("C", draw=False)
    lines = buf.getvalue().splitlines()
    assert lines[0] == "[VIF] C"
    assert lines[1] == "      Molecular mass M = 16.04 g/mol (avg)  (M+ peak m/z = 16 nominal)"
    assert lines[2] == "      LPI = {n+=4, n0=0, n-=4}  (8 orbitals total)"
    assert lines[3] == "      Eigenvalues: [-1.53, -1.53, -1.53, -0.249, 0.53, 0.53, 0.53, 3.249]"


def test_a_failing_stdout_raises_cleanly():
    class Broken(io.StringIO):
        def write(self, s):
            raise OSError("disk full")

    with contextlib.redirect_stdout(Broken()):
        with pytest.raises(OSError, match="disk full"):
            tessarin.VIF("CCO", draw=False)


def report_of(smiles, **kw):
    buf = io.StringIO()
    with contextlib.redirect_stdout(buf):
        tessarin.VIF(smiles, draw=False, **kw)
    return buf.getvalue().splitlines()


def test_methanol_report_verbatim():
    assert report_of("CO") == [
        "[VIF] CO",
        "      Molecular mass M = 32.04 g/mol (avg)  (M+ peak m/z = 32 nominal)",
        "      LPI = {n+=6, n0=0, n-=6}  (12 orbitals total)",
        "      Eigenvalues: [-1.777, -1.53, -1.53, -1.398, -1.0, -0.648, 0.081, 0.408, 0.53, 0.53, 2.952, 3.382]",
        "      Soft bonds: none (all bonds essential \u2192 stable M+ dominates)",
        "      No real fragments \u2192 M+ dominates, single peak",
    ]


def test_ring_cut_report_verbatim():
    lines = report_of("CC1CCC(C)CC1", ring_fragmentation=True)
    assert lines[:3] == [
        "[VIF] CC1CCC(C)CC1",
        "      Molecular mass M = 112.22 g/mol (avg)  (M+ peak m/z = 112 nominal)",
        "      LPI = {n+=24, n0=0, n-=24}  (48 orbitals total)",
    ]
    assert lines[3].startswith("      Eigenvalues: [-1.9, -1.871, ")
    assert lines[4:] == [
        "      Soft bonds: 6  (0 single-cut fragment(s) + 6 ring bond(s))",
        "      Ring double-cut fragments (2 possible cleavages \u2014 not all may be observed):",
        "        C1-C2 + C4-C6:  C4H8 (m/z=56)  +  C4H8 (m/z=56)",
        "        C1-C2 + C6-C7:  C5H10 (m/z=70)  +  C3H6 (m/z=42)",
        "      Expected peak m/z list: [70, 56, 42]",
    ]
    # Without ring fragmentation only the ring bonds are counted.
    assert report_of("CC1CCC(C)CC1")[4:] == [
        "      Soft bonds: 6  (0 single-cut fragment(s) + 6 ring bond(s))",
        "      No real fragments \u2192 M+ dominates, single peak",
    ]


def test_single_cut_report_lines():
    lines = report_of("c1ccc(cc1)[N+](=O)[O-]")
    assert lines[4:] == [
        "      Soft bonds: 9  (2 single-cut fragment(s) + 6 ring bond(s))",
        "      Single-cut MS fragments (m/z):",
        "        if C3-N6 cleaves:  C6H5 (m/z=77)  +  NO2 (m/z=46)",
        "        if N6-O8 cleaves:  C6H5NO (m/z=107)  +  O (m/z=16)",
        "      Expected peak m/z list: [107, 77, 46, 16]",
    ]
