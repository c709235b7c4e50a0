"""The VIF graph of one molecule: orbital nodes round their atoms, essential and soft edges."""

import matplotlib.pyplot as plt
import networkx as nx

from .. import _native

# Element colours of the orbital nodes; anything else is gray.
ELEMENT_COLORS = {
    "C": "red",
    "Li": "orange",
    "H": "skyblue",
    "Cl": "lightgreen",
    "O": "red",
    "B": "pink",
    "N": "violet",
    "F": "yellow",
    "S": "gold",
    "P": "darkorange",
}


def soft_label(softs):
    return f"soft: {len(softs)} bond" if softs else "soft: yok"


def soft_edge_set(softs):
    return {(min(s["u_node"], s["v_node"]), max(s["u_node"], s["v_node"])) for s in softs}


def split_edges(graph, softs):
    """(essential, soft) edges of the graph, in its edge order; direction does not matter."""
    soft_pairs = soft_edge_set(softs)
    essential, soft = [], []
    for u, v in graph.edges():
        (soft if (min(u, v), max(u, v)) in soft_pairs else essential).append((u, v))
    return essential, soft


def draw_vif_graph(smiles, graph, pos, lpi, softs):
    """Draw the graph in a new 12 x 10 inch figure; return the figure."""
    fig = plt.figure(figsize=(12, 10))
    node_colors = [ELEMENT_COLORS.get(graph.nodes[n].get("symbol"), "gray") for n in graph.nodes]
    labels = {n: f"{graph.nodes[n].get('symbol')}{n}" for n in graph.nodes}
    essential_edges, soft_edges = split_edges(graph, softs)

    nx.draw_networkx_nodes(graph, pos, node_color=node_colors, node_size=800, alpha=0.9)
    nx.draw_networkx_labels(graph, pos, labels=labels, font_size=8)
    nx.draw_networkx_edges(graph, pos, edgelist=essential_edges, edge_color="black", width=1.5, alpha=0.9)
    nx.draw_networkx_edges(graph, pos, edgelist=soft_edges, edge_color="red", width=2.0, style="dashed", alpha=0.9)
    plt.title(f"VIF: {smiles}{_native.lpi_title_part(lpi)}{soft_label(softs)}")
    plt.axis("equal")
    return fig
