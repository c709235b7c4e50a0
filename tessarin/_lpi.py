"""LPI of a weighted graph."""

from . import _native


def compute_lpi(graph, tol=1e-09, weight="weight"):
    """Count the positive, zero and negative eigenvalues of ``graph``'s adjacency matrix.

    Returns ``{"n+": int, "n0": int, "n-": int, "eigenvalues": ndarray}``, the
    eigenvalues ascending. An eigenvalue counts as zero when ``|x| <= tol``.
    Edges without the ``weight`` attribute count 1 (every edge, with ``weight``
    None). ``graph`` is an undirected networkx graph: a directed graph or a
    multigraph raises TypeError. A ``tol`` that is not a real number raises
    TypeError, a NaN ``tol`` ValueError.
    """
    return _native.lpi(graph, tol, weight)
