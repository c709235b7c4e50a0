#include "vif/bond_orders.h"

#include <GraphMol/Bond.h>

#include <algorithm>
#include <cmath>

namespace tessarin::vif {

int integer_bond_order(double bond_type) {
  if (bond_type == 0.0) return 1;
  return std::max(static_cast<int>(std::nearbyint(bond_type)), 1);
}

int BondOrders::between(const RDKit::ROMol& mol, unsigned int a, unsigned int b) const {
  const RDKit::Bond* bond = mol.getBondBetweenAtoms(a, b);
  return bond == nullptr ? 1 : by_bond[bond->getIdx()];
}

BondOrders build_bond_orders(const RDKit::ROMol& mol) {
  BondOrders out;
  out.by_bond.reserve(mol.getNumBonds());
  for (const RDKit::Bond* bond : mol.bonds()) out.by_bond.push_back(integer_bond_order(bond->getBondTypeAsDouble()));
  return out;
}

}  // namespace tessarin::vif
