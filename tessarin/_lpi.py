"""LPI of a weighted graph."""

import math
import numbers

from . import _native


def compute_lpi(graph, tol=1e-09, weight="weight"):
    """Count the positive, zero and negative eigenvalues of ``graph``'s adjacency matrix.

    Returns ``{"n+": int, "n0": int, "n-": int, "eigenvalues": ndarray}``, the
    eigenvalues ascending. An eigenvalue counts as zero when ``|x| <= tol``.
    Edges without the ``weight`` attribute count 1. A ``tol`` that is not a
    real number raises TypeError, a NaN ``tol`` ValueError.
    """
    if not isinstance(tol, numbers.Real):
        raise TypeError(f"tol must be a real number, not {type(tol).__name__}")
    tol = float(tol)
    if math.isnan(tol):
        raise ValueError("tol must be a number, not NaN")
    return _native.lpi(graph, tol, weight)
