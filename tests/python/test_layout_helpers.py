"""The layout helpers as a NumPy caller sees them: in-place contracts, refusals, agreement with NumPy."""

import math

import numpy as np
import pytest

from support import layout as ref
from tessarin import _angle_diff, _enforce_mirror, _pca_align, _radial_equalize, _yerlestir_dugumler


# --- in-place contracts -----------------------------------------------------------------------


def test_radial_equalize_moves_rows_of_the_callers_array():
    b = math.sqrt(9 - 0.75**2)
    coords = np.array([[2.0, 0.0], [0.75, b], [-2.75, -b], [5.0, 5.0]]) + [1.0, -2.0]
    assert _radial_equalize(coords[:3], {7: [0, 1, 2]}) is None  # a view: its base changes
    assert np.allclose(np.linalg.norm(coords[:3] - [1.0, -2.0], axis=1), 3.0)
    assert np.array_equal(coords[3], [6.0, 3.0])


def test_radial_equalize_takes_groups_as_numpy_indexing_does():
    coords = np.array([[0.0, 0.0], [4.0, 0.0], [0.0, 1.0]])
    expected = coords.copy()
    ref.radial_equalize(expected, {0: [0, 2, 1]})
    same = coords.copy()
    _radial_equalize(same, {0: np.array([0, -1, 1])})  # NumPy integers, negative index from the end
    assert np.array_equal(same, expected)


def test_pca_align_centres_the_callers_array_and_returns_a_new_one():
    coords = np.array([[1.0, 1.0], [2.0, 2.0], [3.0, 3.0]])
    out = _pca_align(coords)
    assert out is not coords and not np.shares_memory(out, coords)
    assert out.dtype == np.float64 and out.shape == (3, 2) and np.allclose(out[:, 1], 0.0)
    assert np.array_equal(coords, [[-1.0, -1.0], [0.0, 0.0], [1.0, 1.0]])
    single = np.array([[3.0, -4.0]])
    assert _pca_align(single) is single and np.array_equal(single, [[0.0, 0.0]])


def test_enforce_mirror_returns_the_callers_array_changed():
    coords = np.array([[1.0, 0.5], [1.2, -0.3], [1.0, 0.02]])
    assert _enforce_mirror(coords, np.array([4, 4, 9]), 1) is coords
    assert np.allclose(coords, [[1.1, 0.4], [1.1, -0.4], [1.0, 0.0]])


# --- refusals: never a silent copy -----------------------------------------------------------------

BAD_ARRAYS = [
    ([[0.0, 1.0], [2.0, 3.0]], TypeError),  # a list, not an array
    (np.array([[0, 1], [2, 3]]), TypeError),  # int64
    (np.array([[0, 1], [2, 3]], dtype=np.float32), TypeError),
    (np.array([[0, 1], [2, 3]], dtype=">f8"), TypeError),  # byte-swapped
    (np.zeros((2, 3)), ValueError),
    (np.zeros(4), ValueError),
    (np.zeros((4, 2))[::2], ValueError),  # strided view
    (np.asfortranarray(np.arange(6.0).reshape(3, 2)), ValueError),
]


def _read_only():
    a = np.arange(4.0).reshape(2, 2)
    a.setflags(write=False)
    return a


@pytest.mark.parametrize(
    "call",
    [
        lambda c: _radial_equalize(c, {0: [0, 1]}),
        lambda c: _pca_align(c),
        lambda c: _enforce_mirror(c, [0, 0], 1),
    ],
    ids=["radial_equalize", "pca_align", "enforce_mirror"],
)
def test_in_place_helpers_refuse_arrays_they_cannot_change_in_place(call):
    for coords, error in BAD_ARRAYS + [(_read_only(), ValueError)]:
        before = np.array(coords, copy=True)
        with pytest.raises(error):
            call(coords)
        assert np.array_equal(np.asarray(coords), before)


def test_bad_groups_ranks_and_axis_are_refused_before_anything_moves():
    coords = np.array([[0.0, 0.3], [1.0, -0.2], [2.0, 0.01]])
    before = coords.copy()
    with pytest.raises(TypeError):
        _radial_equalize(coords, [[0, 1]])  # not a mapping
    with pytest.raises(IndexError):
        _radial_equalize(coords, {0: [0, 1], 1: [2, 3]})
    with pytest.raises(TypeError):
        _radial_equalize(coords, {0: [0, 1.0]})
    with pytest.raises(ValueError):
        _enforce_mirror(coords, [0, 0], 1)  # one rank short
    with pytest.raises(TypeError):
        _enforce_mirror(coords, [0, 0, 0.5], 1)
    with pytest.raises(ValueError):
        _enforce_mirror(coords, [0, 0, 0], 2)
    with pytest.raises(ValueError):
        _enforce_mirror(coords, [0, 0, 0], 1, eps=float("nan"))
    assert np.array_equal(coords, before)
    with pytest.raises(ValueError):
        _pca_align(np.array([[0.0, 0.0], [np.nan, 1.0]]))


# --- the same numbers as NumPy -------------------------------------------------------------------


def test_helpers_agree_with_numpy_bit_for_bit():
    rng = np.random.default_rng(3)
    for trial in range(60):
        n = int(rng.integers(2, 140))
        coords = rng.normal(size=(n, 2)) * rng.uniform(0.1, 20)
        ranks = [int(r) for r in rng.integers(0, max(1, n // 3), size=n)]
        groups = ref.groups_of(ranks)

        mine, theirs = coords.copy(), coords.copy()
        _radial_equalize(mine, groups)
        ref.radial_equalize(theirs, groups)
        assert np.array_equal(mine, theirs)

        mine, theirs = coords.copy(), coords.copy()
        assert np.array_equal(_pca_align(mine), ref.pca_align(theirs))
        assert np.array_equal(mine, theirs)

        mirrored = ref.pca_align(coords.copy())
        for axis in (1, 0):
            mine, theirs = mirrored.copy(), mirrored.copy()
            _enforce_mirror(mine, ranks, axis)
            ref.enforce_mirror(theirs, ranks, axis)
            assert np.array_equal(mine, theirs)

    for a, b in rng.uniform(-20, 20, size=(500, 2)):
        assert _angle_diff(a, b) == ref.angle_diff(a, b)


def test_scalar_helpers_convert_their_arguments():
    assert _angle_diff(np.float64(2.5), 2) == 0.5
    assert _yerlestir_dugumler(4, (0.0,)) == [0.0, math.pi, math.pi / 2, 3 * math.pi / 2]
    assert _yerlestir_dugumler(2, np.array([1.0, 2.0, 3.0])) == [1.0, 2.0]
    assert all(type(a) is float for a in _yerlestir_dugumler(np.int64(9), [1, 2]))
    assert _yerlestir_dugumler(1, None) == [0.0]  # a single node never looks at the targets
    with pytest.raises(TypeError):
        _angle_diff("0", 1.0)
    with pytest.raises(ValueError):
        _angle_diff(float("inf"), 1.0)


def test_yerlestir_dugumler_refusals():
    for n_nodes, targets, error in [
        (0, [], ValueError),
        (-1, [1.0], ValueError),
        (2.0, [], TypeError),
        (True, [], TypeError),
        (3, "ab", TypeError),
        (3, [float("nan")], ValueError),
        (3, 1.0, TypeError),
        (10**12, [], ValueError),
    ]:
        with pytest.raises(error):
            _yerlestir_dugumler(n_nodes, targets)
