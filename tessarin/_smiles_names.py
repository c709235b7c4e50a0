"""Named SMILES strings of common test molecules, and upper-case aliases."""

diborane = "[H]B1([H])[H][B]([H])([H])[H]1"
ccl4 = "C(Cl)(Cl)(Cl)Cl"
co2 = "O=C=O"
h2o = "O"
methyl_li = "C[Li]"
dimethyllithium = "C1[Li]C[Li]1"
methanol = "CO"
ethanol = "CCO"
formaldehyde = "C=O"
formic_acid = "OC=O"
dodecane = "CCCCCCCCCCCC"
nitrobenzene = "c1ccc(cc1)[N+](=O)[O-]"
dnb = "c1cc(cc(c1)[N+](=O)[O-])[N+](=O)[O-]"
tnb = "c1c(cc(cc1[N+](=O)[O-])[N+](=O)[O-])[N+](=O)[O-]"
tnt = "Cc1c(cc(cc1[N+](=O)[O-])[N+](=O)[O-])[N+](=O)[O-]"
acetone_oxime = "CC(=NO)C"
benzaldehyde_imine = "C(=NC)c1ccccc1"

CO = methanol
NB = nitrobenzene
DNB = dnb
TNB = tnb
TNT = tnt
H2O = h2o
CO2 = co2
CCl4 = ccl4

__all__ = [
    "diborane",
    "ccl4",
    "co2",
    "h2o",
    "methyl_li",
    "dimethyllithium",
    "methanol",
    "ethanol",
    "formaldehyde",
    "formic_acid",
    "dodecane",
    "nitrobenzene",
    "dnb",
    "tnb",
    "tnt",
    "acetone_oxime",
    "benzaldehyde_imine",
    "CO",
    "NB",
    "DNB",
    "TNB",
    "TNT",
    "H2O",
    "CO2",
    "CCl4",
]
