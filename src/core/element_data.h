// Element facts the analysis needs: symbol, atomic number, period, and the
// mass number of the most common isotope, all read from RDKit's periodic table.
#pragma once

#include <string>
#include <string_view>

namespace tessarin::core {

struct ElementRecord {
  std::string symbol;
  int atomic_number = 0;
  int period = 0;
};

// Highest atomic number in the periodic table.
inline constexpr int kMaxAtomicNumber = 118;

// Period (row) of the periodic table for an atomic number >= 1.
int period_of_atomic_number(int atomic_number);

// Element by its symbol as RDKit writes it ("C", "Cl"). Case-sensitive.
// Throws InvalidInput naming the symbol when no element has it; the dummy
// atom "*" is not an element and has no period.
const ElementRecord& element_by_symbol(std::string_view symbol);

// Element by atomic number 1..118; throws InvalidInput otherwise.
const ElementRecord& element_by_number(int atomic_number);

// Shorthand for element_by_symbol(symbol).period.
int period_of(std::string_view symbol);

// Mass number of the element's most common isotope (RDKit's value), the
// nominal mass of one atom. Atomic number 0 (dummy atom) gives 0. Throws
// InvalidInput for numbers outside 0..118.
int nominal_atom_mass(int atomic_number);

}  // namespace tessarin::core
