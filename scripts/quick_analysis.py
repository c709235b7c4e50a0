"""A short look at what the engine computes today: element data, masses,
formulas and the LPI of a hand-built orbital graph."""

import networkx as nx
from rdkit import Chem

import tessarin


def main():
    print("tessarin quick analysis")
    for smiles in ["O", "CCl", "c1ccc(cc1)[N+](=O)[O-]", "CC(=NO)C"]:
        mol = Chem.AddHs(Chem.MolFromSmiles(smiles))
        atoms = range(mol.GetNumAtoms())
        periods = sorted({(a.GetSymbol(), tessarin._get_period(a.GetSymbol())) for a in mol.GetAtoms()})
        print(f"  {smiles:<24} {tessarin._fragment_formula(mol, atoms):<9} "
              f"M = {tessarin._nominal_mass(mol, atoms):>3}   periods {periods}")

    # Methane's orbital graph: carbon's four sigma nodes wired together, one hydrogen on each.
    g = nx.Graph()
    g.add_nodes_from(range(4), symbol="C", rol="Merkez", kind="sigma")
    g.add_nodes_from(range(4, 8), symbol="H", rol="Uç", kind="sigma")
    for i in range(4):
        for j in range(i + 1, 4):
            g.add_edge(i, j, weight=1.0)
        g.add_edge(i, 4 + i, weight=0.9)
    lpi = tessarin.compute_lpi(g)
    print("  methane orbital graph:")
    print(tessarin._native.lpi_report_line(lpi))
    print(tessarin._native.eigenvalue_line(lpi["eigenvalues"]))


if __name__ == "__main__":
    main()
