"""Hostile input through the public functions: a clear exception or the documented failure value,
never a crash, a hang or a quietly wrong answer; and Ctrl-C stops long native work."""

import contextlib
import faulthandler
import math
import os
import signal
import sys
import threading
import time

import networkx as nx
import numpy as np
import pytest
from rdkit import Chem

import tessarin
from tessarin import (
    VIF,
    _cut_atom_set,
    _fragment_atom_softs,
    compute_atom_layout,
    compute_lpi,
    detect_soft_bonds,
    predict_fragments,
    predict_fragments_recursive,
    predict_library,
)
from support import prepared, reference_soft_bonds

UNREADABLE = "SMILES okunamad\u0131!"


def quiet(smiles, **kw):
    return VIF(smiles, draw=False, verbose=False, **kw)


def triple(lpi):
    return lpi["n+"], lpi["n0"], lpi["n-"]


@pytest.fixture(scope="module")
def nitrobenzene():
    """A molecule with soft single and ring bonds: (prepared mol, VIF result)."""
    smiles = "c1ccc(cc1)[N+](=O)[O-]"
    return prepared(smiles), quiet(smiles, n_iter=100)


class TestSmilesText:
    @pytest.mark.parametrize(
        "text",
        [
            "CCO\x00CC",  # the parser would stop at the NUL and read ethanol
            "\x00",
            "CC\udcff",  # a lone surrogate has no UTF-8 form
            "(" * 20000,
            "C1" * 5000,
            "[" * 5000,
            "C" * 20 + "." * 1000,
            "\U0001f4a5",
        ],
        ids=lambda text: ascii(text[:12]) + (f"...({len(text)})" if len(text) > 12 else ""),
    )
    def test_text_that_is_no_smiles_gives_the_failure_value(self, text, capsys):
        assert VIF(text, draw=False) == UNREADABLE
        assert capsys.readouterr().out == ""

    @pytest.mark.parametrize("value", [42, 3.5, ["CCO"], Chem.MolFromSmiles("CCO")])
    def test_non_strings_raise_type_error(self, value):
        with pytest.raises(TypeError, match="SMILES string"):
            quiet(value)

    def test_batch_treats_such_text_as_its_failures(self, tmp_path):
        rows = predict_library(["CCO\x00CC", "CCO"])
        assert rows[0]["error"] == "the SMILES holds a NUL character" and "peaks" in rows[1]
        with pytest.raises(ValueError, match="molecule 2"):
            predict_library(["CCO", "CC\udcff"])
        with pytest.raises(ValueError, match="molecule 1"):
            predict_library([("name\udcff", "CCO")])
        target = tmp_path / "out.msp"
        with pytest.raises(ValueError, match="NUL"):
            predict_library(["CCO"], output=str(target) + "\x00.txt")
        assert list(tmp_path.iterdir()) == []
        for jobs in (10**30, -(10**30), 0):
            with pytest.raises(ValueError, match="jobs"):
                predict_library(["CCO"], jobs=jobs)


class TestVifArguments:
    @pytest.mark.parametrize(
        "option, value, error",
        [
            ("n_iter", 2**31, ValueError),
            ("n_iter", 10**30, ValueError),
            ("n_iter", -1, ValueError),
            ("max_generations", 10**30, ValueError),
            ("max_generations", -(10**30), ValueError),
            ("target_bond_len", "1.5", TypeError),
            ("radius_ratio", None, TypeError),
            ("bond_kappa", 1j, TypeError),
            ("target_bond_len", -1.0, ValueError),
            ("target_bond_len", float("inf"), ValueError),
        ],
    )
    def test_bad_numbers_are_refused_naming_the_argument(self, option, value, error):
        with pytest.raises(error, match=option):
            quiet("CCO", **{option: value})

    def test_numpy_integers_and_negative_generations_are_accepted(self, capsys):
        r = quiet("CCO", n_iter=np.int64(40), recursive_ms=True, max_generations=np.int8(1))
        assert triple(r["lpi"]) == (9, 0, 9)
        # Fewer than one generation: the molecular ion alone, and the report says what was asked.
        r = VIF("c1ccccc1CCO", draw=False, verbose=True, recursive_ms=True, max_generations=-5)
        assert r["recursive_peaks"] == {122: {"formula": "C8H10O", "generation": 0}}
        assert capsys.readouterr().out.splitlines()[-2] == "      Multi-generation MS (-5 generations, 1 peaks):"


class TestSize:
    def test_a_molecule_of_a_thousand_atoms_is_analysed(self):
        # C333H668: 1001 atoms, 2000 orbital nodes; the multi-generation search runs too.
        r = quiet("C" * 333, n_iter=100, recursive_ms=True)
        assert len(r["atom_subgraphs"]) == 1001
        assert r["graph"].number_of_nodes() == 2000 == sum(triple(r["lpi"]))
        assert r["mol_mass"] == 333 * 12 + 668
        assert list(r["recursive_peaks"])[0] == r["mol_mass"]

    def test_what_cannot_fit_in_memory_is_refused_at_once(self):
        # A dendrimer of 16,383 carbons (a complete binary tree): about 98,000 orbital nodes, and no
        # numbering of a tree that large keeps its edges near the diagonal, so the LPI needs the
        # dense matrix, of 77 GB.
        def tree(depth):
            return "C" if depth == 0 else "C(" + tree(depth - 1) + ")" + tree(depth - 1)

        dendrimer = tree(13)
        started = time.monotonic()
        with pytest.raises(MemoryError, match="too large"):
            quiet(dendrimer)
        assert time.monotonic() - started < 60
        with pytest.raises(MemoryError, match="too large"):
            compute_lpi(nx.star_graph(400000))
        wide = nx.star_graph(400000)
        wide.add_edge(0, 0)  # no peeling with a self-loop: every count would be dense
        with pytest.raises(MemoryError, match="too large"):
            detect_soft_bonds(wide, [{"u_node": 0, "v_node": 1}], {"n+": 1, "n0": 399999, "n-": 1})
        rows = predict_library([dendrimer, "CCO"])
        assert "too large" in rows[0]["error"] and "peaks" in rows[1]

    def test_large_narrow_graphs_are_counted_in_band_storage(self):
        # The same sizes, numbered so that every edge stays near the diagonal: O(n) memory.
        lpi = compute_lpi(nx.empty_graph(400000))
        assert triple(lpi) == (0, 400000, 0) and not lpi["eigenvalues"].any()
        looped = nx.empty_graph(400000)
        looped.add_edge(0, 0)
        looped.add_edge(0, 1)  # [[1, 1], [1, 0]]: (1 +- sqrt 5) / 2, and zeros
        assert triple(compute_lpi(looped)) == (1, 399998, 1)
        assert detect_soft_bonds(looped, [{"u_node": 0, "v_node": 1}], {"n+": 1, "n0": 399998, "n-": 1}) == []


class TestGraphs:
    def test_tol_of_compute_lpi_must_be_a_number(self):
        g = nx.path_graph(3)
        with pytest.raises(ValueError, match="NaN"):
            compute_lpi(g, tol=float("nan"))
        for tol in ("1e-9", None, [0.1]):
            with pytest.raises(TypeError, match="tol"):
                compute_lpi(g, tol=tol)
        assert triple(compute_lpi(g, tol=np.float32(0.5))) == (1, 1, 1)

    def test_a_negative_tol_counts_as_defined_and_soft_tests_follow_it(self, nitrobenzene):
        _mol, r = nitrobenzene
        H, bonds = r["graph"], r["chem_bonds"]
        eig = np.linalg.eigvalsh(nx.to_numpy_array(H))
        for tol in (-0.5, -1e-9, -math.inf, math.inf):
            lpi = compute_lpi(H, tol=tol)
            # The classes overlap below zero: each count is its own test.
            assert triple(lpi) == (int(np.sum(eig > tol)), int(np.sum(np.abs(eig) <= tol)), int(np.sum(eig < -tol)))
            assert detect_soft_bonds(H, bonds, lpi, tol=tol) == reference_soft_bonds(H, bonds, lpi, tol)

    def test_fragment_softs_and_recursion_take_any_hashable_node_labels(self, nitrobenzene):
        mol, r = nitrobenzene
        H, subs, bonds = r["graph"], r["atom_subgraphs"], r["chem_bonds"]
        name = {n: ("orbital", str(n)) if n % 2 else f"n{n}" for n in H}
        G = nx.relabel_nodes(H, name)
        subs2 = {a: [name[n] for n in nodes] for a, nodes in subs.items()}
        bonds2 = [dict(b, u_node=name[b["u_node"]], v_node=name[b["v_node"]]) for b in bonds]
        atoms = set(range(mol.GetNumAtoms()))
        expected = [bonds.index(b) for b in _fragment_atom_softs(H, subs, bonds, atoms)]
        assert expected  # the nitro group's bonds are soft
        assert [bonds2.index(b) for b in _fragment_atom_softs(G, subs2, bonds2, atoms)] == expected
        assert predict_fragments_recursive(mol, G, subs2, bonds2, max_generations=2) == predict_fragments_recursive(
            mol, H, subs, bonds, max_generations=2
        )

    def test_self_loops_in_a_fragment_are_counted_like_any_edge(self, nitrobenzene):
        mol, r = nitrobenzene
        H, subs, bonds = r["graph"].copy(), r["atom_subgraphs"], r["chem_bonds"]
        H.add_edge(0, 0, weight=0.7)
        H.add_edge(5, 5, weight=-1.3)
        atoms = {a for a in subs if a != 11}
        sub = H.subgraph([n for a in atoms for n in subs[a]]).copy()
        inside = [b for b in bonds if b["atom_u"] in atoms and b["atom_v"] in atoms]
        reference = reference_soft_bonds(sub, inside, compute_lpi(sub))
        assert _fragment_atom_softs(H, subs, bonds, atoms) == reference

    @pytest.mark.parametrize("bad", [float("nan"), float("inf"), -float("inf")])
    def test_non_finite_weights_raise_value_error_everywhere(self, nitrobenzene, bad):
        mol, r = nitrobenzene
        H = r["graph"].copy()
        H[0][1]["weight"] = bad
        subs, bonds = r["atom_subgraphs"], r["chem_bonds"]
        for call in (
            lambda: compute_lpi(H),
            lambda: detect_soft_bonds(H, bonds, r["lpi"]),
            lambda: _fragment_atom_softs(H, subs, bonds, {0, 1, 2}),
            lambda: predict_fragments_recursive(mol, H, subs, bonds),
        ):
            with pytest.raises(ValueError, match="finite"):
                call()


class TestRecords:
    def test_foreign_node_and_atom_numbers_are_bonds_outside_the_graph(self, nitrobenzene):
        mol, r = nitrobenzene
        H, subs, bonds = r["graph"], r["atom_subgraphs"], r["chem_bonds"]
        plain = predict_fragments_recursive(mol, H, subs, bonds)
        foreign = [
            dict(bonds[0], u_node=10**6),
            dict(bonds[1], atom_u=-7),
            dict(bonds[2], atom_v=10**40),
            dict(bonds[3], v_node="nowhere"),
        ]
        assert predict_fragments_recursive(mol, H, subs, bonds + foreign) == plain
        assert _fragment_atom_softs(H, subs, foreign, set(subs)) == []
        assert _cut_atom_set(mol, set(subs), [dict(bonds[0], atom_u=10**40)], True, 25) == set()
        assert detect_soft_bonds(H, [dict(bonds[0], u_node=10**6)], r["lpi"]) == []

    @pytest.mark.parametrize("missing", ["atom_u", "atom_v", "u_node", "v_node"])
    def test_missing_keys_raise_key_error(self, nitrobenzene, missing):
        mol, r = nitrobenzene
        H, subs, bonds = r["graph"], r["atom_subgraphs"], r["chem_bonds"]
        broken = bonds[:3] + [{k: v for k, v in bonds[3].items() if k != missing}]
        with pytest.raises(KeyError, match=missing):
            predict_fragments_recursive(mol, H, subs, broken)
        with pytest.raises(KeyError, match=missing):
            _fragment_atom_softs(H, subs, broken, set(subs))

    def test_records_that_are_not_mappings_raise_type_error(self, nitrobenzene):
        mol, r = nitrobenzene
        H, subs, bonds = r["graph"], r["atom_subgraphs"], r["chem_bonds"]
        for junk in (None, 7, "u_node"):
            with pytest.raises(TypeError):
                predict_fragments_recursive(mol, H, subs, bonds + [junk])
            with pytest.raises(TypeError):
                predict_fragments(mol, [junk])
        with pytest.raises(TypeError):
            predict_fragments_recursive(mol, H, {a: 5 for a in subs}, bonds)

    @pytest.mark.parametrize("generations, peaks", [(-1, 1), (-(10**30), 1), (10**30, None), (2**31, None)])
    def test_any_integer_generation_count(self, nitrobenzene, generations, peaks):
        mol, r = nitrobenzene
        args = (mol, r["graph"], r["atom_subgraphs"], r["chem_bonds"])
        result = predict_fragments_recursive(*args, max_generations=generations)
        # Beyond the molecule's size more generations change nothing.
        assert len(result) == (peaks or len(predict_fragments_recursive(*args, max_generations=60)))


class TestLayoutHelpers:
    @pytest.mark.parametrize("bad", [np.nan, np.inf, -np.inf])
    def test_non_finite_coordinates_are_refused_before_anything_moves(self, bad):
        for call in (
            lambda c: tessarin._radial_equalize(c, {0: [0, 1, 2]}),
            lambda c: tessarin._enforce_mirror(c, [0, 0, 0], 1),
            lambda c: tessarin._pca_align(c),
        ):
            coords = np.array([[1.0, 0.5], [1.2, -0.3], [0.0, 0.0]])
            coords[2, 1] = bad
            before = coords.copy()
            with pytest.raises(ValueError, match="finite"):
                call(coords)
            np.testing.assert_array_equal(coords, before)

    def test_scalar_helpers_refuse_numbers_they_cannot_use(self):
        with pytest.raises(ValueError, match="overflow"):
            tessarin._angle_diff(1e308, -1e308)
        assert tessarin._angle_diff(1e300, 1e300) == 0.0
        with pytest.raises(ValueError, match="atomic number"):
            tessarin._nominal_atom_mass(10**30)
        with pytest.raises(TypeError, match="atomic_num"):
            tessarin._nominal_atom_mass("C")
        assert tessarin._nominal_atom_mass(np.int16(17)) == 35


@contextlib.contextmanager
def sigint_after(delay):
    """Send SIGINT to this process from a timer thread after `delay` seconds.

    While the block runs, SIGINT raises KeyboardInterrupt as Python's default
    handler does; a signal that comes after the block is ignored, so a late
    timer cannot break the test run.
    """
    state = {"armed": True, "sent": None}

    def handler(signum, frame):
        if state["armed"]:
            raise KeyboardInterrupt

    def fire():
        state["sent"] = time.monotonic()
        os.kill(os.getpid(), signal.SIGINT)

    previous = signal.signal(signal.SIGINT, handler)
    # A call that never looks for the signal would hang the run: end it with tracebacks instead.
    # (The process's own stderr: with --capture=sys, sys.stderr has no file descriptor.)
    faulthandler.dump_traceback_later(120, exit=True, file=sys.__stderr__)
    timer = threading.Timer(delay, fire)
    timer.start()
    try:
        yield state
    finally:
        state["armed"] = False
        timer.cancel()
        timer.join()
        faulthandler.cancel_dump_traceback_later()
        signal.signal(signal.SIGINT, previous)


def big_ring_with_soft_ring_bonds():
    mol = Chem.AddHs(Chem.MolFromSmiles("C1" + "C" * 1498 + "C1"))
    softs = [
        {"atom_u": b.GetBeginAtomIdx(), "atom_v": b.GetEndAtomIdx(), "sym_u": "C", "sym_v": "C", "order": 1}
        for b in mol.GetBonds()
        if b.IsInRing()
    ]
    return mol, softs


PVC = "CC(Cl)" * 40  # 242 atoms; three generations of cuts take minutes


def vif_recursion():
    return lambda: quiet(PVC, recursive_ms=True, max_generations=3)


def vif_layout():
    return lambda: quiet("CCO", n_iter=2**31 - 1)


def atom_layout():
    ethane = Chem.AddHs(Chem.MolFromSmiles("CC"))
    return lambda: compute_atom_layout(ethane, n_iter=2**31 - 1)


def mirror_pairing():
    rows = np.random.default_rng(1).normal(size=(400000, 2))
    return lambda: tessarin._enforce_mirror(rows, [0] * len(rows), 1)


def dense_soft_bond_tests():
    # The hub meets every node, so no numbering makes the matrix narrow, and the loop stops peeling:
    # one dense eigenvalue solve per candidate.
    looped = nx.wheel_graph(700)
    looped.add_edge(1, 1, weight=0.5)
    records = [{"u_node": u, "v_node": v} for u, v in looped.edges if u != v]
    baseline = compute_lpi(looped)
    return lambda: detect_soft_bonds(looped, records, baseline)


def ring_double_cuts():
    mol, softs = big_ring_with_soft_ring_bonds()
    return lambda: predict_fragments(mol, softs, True)


def atom_set_ring_double_cuts():
    mol, softs = big_ring_with_soft_ring_bonds()
    return lambda: _cut_atom_set(mol, set(range(mol.GetNumAtoms())), softs, True, 25)


def recursion():
    r = quiet(PVC, n_iter=50)
    args = (prepared(PVC), r["graph"], r["atom_subgraphs"], r["chem_bonds"])
    return lambda: predict_fragments_recursive(*args, max_generations=3)


@pytest.mark.parametrize(
    "make_call, delay",
    [
        (vif_recursion, 1.0),
        (vif_layout, 0.3),
        (atom_layout, 0.3),
        (mirror_pairing, 0.3),
        (dense_soft_bond_tests, 0.5),
        (ring_double_cuts, 0.3),
        (atom_set_ring_double_cuts, 0.3),
        (recursion, 0.5),
    ],
    ids=lambda v: v.__name__ if callable(v) else str(v),
)
def test_ctrl_c_stops_long_native_work_promptly(make_call, delay):
    """Each call would run for minutes or more, in a different long loop of the engine."""
    name = make_call.__name__
    call = make_call()
    started = time.monotonic()
    with sigint_after(delay) as state:
        with pytest.raises(KeyboardInterrupt):
            call()
    stopped = time.monotonic()
    assert state["sent"] is not None, f"{name} ended before the signal"
    # The timer thread got the GIL when due: the engine lets other threads run.
    assert state["sent"] - started < delay + 2.0, f"{name} kept the timer thread waiting"
    assert stopped - state["sent"] < 3.0, f"{name} went on {stopped - state['sent']:.1f} s after Ctrl-C"
    assert stopped - started < 30
    # The module is still in working order.
    assert triple(quiet("CCO")["lpi"]) == (9, 0, 9)
