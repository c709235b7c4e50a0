// Integer bond orders of a molecule's bonds.
#pragma once

#include <GraphMol/ROMol.h>

#include <vector>

namespace tessarin::vif {

// RDKit's bond type as a number, rounded half to even (aromatic 1.5 -> 2,
// 2.5 -> 2), at least 1; a bond type of 0 counts as 1.
int integer_bond_order(double bond_type);

// Order of every bond, indexed by RDKit bond index.
struct BondOrders {
  std::vector<int> by_bond;

  // Order of the bond between two atoms, 1 when they are not bonded.
  int between(const RDKit::ROMol& mol, unsigned int a, unsigned int b) const;
};

BondOrders build_bond_orders(const RDKit::ROMol& mol);

}  // namespace tessarin::vif
