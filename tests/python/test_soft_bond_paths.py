"""The fast soft-bond path (screen, peeling) gives the dense path's answer on real orbital graphs."""

import tessarin
from support import nci_smiles
from tessarin import _native


def test_fast_peeled_and_dense_soft_bonds_agree_on_nci_molecules():
    tested = 0

    def edge(record):
        return record["u_node"], record["v_node"], record["atom_u"], record["atom_v"], record["k"]

    for smiles in nci_smiles(150):
        r = tessarin.VIF(smiles, draw=False, verbose=False, n_iter=60)
        if isinstance(r, str):
            continue
        args = (r["graph"], r["chem_bonds"], r["lpi"], 1e-9)
        dense = _native._testing.soft_bond_positions(*args, "dense")
        assert _native._testing.soft_bond_positions(*args, "auto") == dense, smiles
        if _native._testing.peeling_applies(r["graph"], 1e-9):
            assert _native._testing.soft_bond_positions(*args, "peeled") == dense, smiles
        # The analysis itself reports exactly the bonds the dense path finds soft.
        assert [edge(s) for s in r["soft_bonds"]] == [edge(r["chem_bonds"][i]) for i in dense], smiles
        tested += len(r["chem_bonds"])
    assert tested > 4000
