#include "core/element_data.h"

#include <GraphMol/PeriodicTable.h>

#include <array>
#include <string>
#include <unordered_map>

#include "core/errors.h"

namespace tessarin::core {
namespace {

struct ElementTable {
  std::array<ElementRecord, kMaxAtomicNumber + 1> by_number{};
  std::array<int, kMaxAtomicNumber + 1> most_common_isotope{};
  std::unordered_map<std::string, int> number_by_symbol;

  ElementTable() {
    const RDKit::PeriodicTable* table = RDKit::PeriodicTable::getTable();
    for (int z = 0; z <= kMaxAtomicNumber; ++z) {
      const auto uz = static_cast<unsigned int>(z);
      most_common_isotope[z] = table->getMostCommonIsotope(uz);
      if (z == 0) continue;  // "*" is a placeholder, not an element
      ElementRecord& rec = by_number[z];
      rec.symbol = table->getElementSymbol(uz);
      rec.atomic_number = z;
      rec.period = period_of_atomic_number(z);
      number_by_symbol.emplace(rec.symbol, z);
    }
  }
};

const ElementTable& table() {
  static const ElementTable instance;
  return instance;
}

}  // namespace

int period_of_atomic_number(int atomic_number) {
  // Last atomic number of each period.
  static constexpr std::array<int, 7> kPeriodEnds{2, 10, 18, 36, 54, 86, 118};
  if (atomic_number < 1 || atomic_number > kMaxAtomicNumber) {
    throw InvalidInput("no element has atomic number " + std::to_string(atomic_number));
  }
  int period = 1;
  for (int end : kPeriodEnds) {
    if (atomic_number <= end) break;
    ++period;
  }
  return period;
}

const ElementRecord& element_by_symbol(std::string_view symbol) {
  const auto& t = table();
  auto it = t.number_by_symbol.find(std::string(symbol));
  if (it == t.number_by_symbol.end()) {
    throw InvalidInput("unknown element symbol '" + std::string(symbol) + "'");
  }
  return t.by_number[it->second];
}

const ElementRecord& element_by_number(int atomic_number) {
  if (atomic_number < 1 || atomic_number > kMaxAtomicNumber) {
    throw InvalidInput("no element has atomic number " + std::to_string(atomic_number));
  }
  return table().by_number[atomic_number];
}

int period_of(std::string_view symbol) { return element_by_symbol(symbol).period; }

int nominal_atom_mass(int atomic_number) {
  if (atomic_number < 0 || atomic_number > kMaxAtomicNumber) {
    throw InvalidInput("no element has atomic number " + std::to_string(atomic_number));
  }
  return table().most_common_isotope[atomic_number];
}

}  // namespace tessarin::core
