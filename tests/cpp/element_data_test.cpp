#include "core/element_data.h"

#include <gtest/gtest.h>

#include "core/errors.h"

namespace tessarin::core {
namespace {

TEST(ElementData, PeriodsFollowThePeriodicTableRows) {
  EXPECT_EQ(period_of("H"), 1);
  EXPECT_EQ(period_of("He"), 1);
  EXPECT_EQ(period_of("Li"), 2);
  EXPECT_EQ(period_of("C"), 2);
  EXPECT_EQ(period_of("Ne"), 2);
  EXPECT_EQ(period_of("Na"), 3);
  EXPECT_EQ(period_of("Cl"), 3);
  EXPECT_EQ(period_of("K"), 4);
  EXPECT_EQ(period_of("Br"), 4);
  EXPECT_EQ(period_of("I"), 5);
  EXPECT_EQ(period_of("Cs"), 6);
  EXPECT_EQ(period_of("Rn"), 6);
  EXPECT_EQ(period_of("Fr"), 7);
  EXPECT_EQ(period_of("Og"), 7);
}

TEST(ElementData, SymbolAndNumberLookupsAgree) {
  for (int z = 1; z <= kMaxAtomicNumber; ++z) {
    const ElementRecord& by_number = element_by_number(z);
    EXPECT_EQ(by_number.atomic_number, z);
    EXPECT_EQ(&element_by_symbol(by_number.symbol), &by_number) << by_number.symbol;
  }
}

TEST(ElementData, UnknownSymbolsAreRejectedWithTheirName) {
  for (const char* bad : {"*", "Xx", "c", "CL", "", "D"}) {
    try {
      element_by_symbol(bad);
      ADD_FAILURE() << "accepted " << bad;
    } catch (const InvalidInput& e) {
      EXPECT_NE(std::string(e.what()).find(std::string("'") + bad + "'"), std::string::npos) << e.what();
    }
  }
  EXPECT_THROW(element_by_number(0), InvalidInput);
  EXPECT_THROW(element_by_number(119), InvalidInput);
}

TEST(ElementData, NominalMassesAreMostCommonIsotopes) {
  EXPECT_EQ(nominal_atom_mass(1), 1);
  EXPECT_EQ(nominal_atom_mass(3), 7);
  EXPECT_EQ(nominal_atom_mass(5), 11);
  EXPECT_EQ(nominal_atom_mass(6), 12);
  EXPECT_EQ(nominal_atom_mass(7), 14);
  EXPECT_EQ(nominal_atom_mass(8), 16);
  EXPECT_EQ(nominal_atom_mass(9), 19);
  EXPECT_EQ(nominal_atom_mass(15), 31);
  EXPECT_EQ(nominal_atom_mass(16), 32);
  EXPECT_EQ(nominal_atom_mass(17), 35);
  EXPECT_EQ(nominal_atom_mass(35), 79);
  EXPECT_EQ(nominal_atom_mass(53), 127);
  EXPECT_EQ(nominal_atom_mass(0), 0);
  EXPECT_THROW(nominal_atom_mass(-1), InvalidInput);
  EXPECT_THROW(nominal_atom_mass(119), InvalidInput);
}

}  // namespace
}  // namespace tessarin::core
