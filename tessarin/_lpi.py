"""LPI of a weighted graph."""

from typing import Any

import networkx as nx

from . import _native


def compute_lpi(graph: nx.Graph, tol: float = 1e-09, weight: str | None = "weight") -> dict[str, Any]:
    """Count the positive, zero and negative eigenvalues of ``graph``'s adjacency matrix.

    Returns ``{"n+": int, "n0": int, "n-": int, "eigenvalues": ndarray}``, the
    eigenvalues ascending. An eigenvalue counts as zero when ``|x| <= tol``.
    Edges without the ``weight`` attribute count 1 (every edge, with ``weight``
    None). ``graph`` is an undirected networkx graph: a directed graph or a
    multigraph raises TypeError. A ``tol`` that is not a real number raises
    TypeError, a NaN ``tol`` ValueError.

    Below 500 nodes, and for graphs that no numbering makes narrow, the
    eigenvalues are NumPy's ``eigvalsh`` digits. A larger graph whose nodes can
    be numbered so that every edge joins nearby numbers (a chain, a polymer) is
    solved in band storage: O(n * bandwidth) memory, eigenvalues equal to
    NumPy's to rounding. MemoryError when the matrix would not fit in memory.
    """
    return _native.lpi(graph, tol, weight)
