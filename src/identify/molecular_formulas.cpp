#include "identify/molecular_formulas.h"

#include <algorithm>
#include <array>
#include <tuple>

#include "core/errors.h"

namespace tessarin::identify {
namespace {

// The elements besides hydrogen, heaviest first (the order they are chosen
// in), with what the rules need of each.
struct ElementRule {
  const char* symbol;
  int mass;
  int valence;
  double max_per_carbon;    // 0: no bound beyond the valences
  int max_count;            // 0: none
  double usual_per_carbon;  // the range most compounds keep
  bool rare;                // one of the elements few compounds hold more than two kinds of
  // How much less plausible a formula becomes with the element, and with
  // each atom of it beyond the first (roughly minus the logarithm of how
  // often compounds of EI libraries hold it, and hold more of it).
  double presence_cost;
  double atom_cost;
};

constexpr std::array<ElementRule, 10> kRules{{
    {"I", 127, 1, 0, 4, 0.8, true, 4.5, 1.5},
    {"Br", 79, 1, 0, 8, 0.8, true, 3.5, 1.0},
    {"Cl", 35, 1, 0, 12, 0.8, true, 2.5, 0.5},
    {"S", 32, 2, 3, 4, 0.8, true, 2.5, 1.0},
    {"P", 31, 3, 2, 3, 0.3, true, 4.0, 2.0},
    {"Si", 28, 4, 1, 6, 0.5, true, 3.0, 1.0},
    {"F", 19, 1, 0, 0, 1.5, true, 3.5, 0.2},
    {"O", 16, 2, 3, 0, 1.2, false, 0.3, 0.3},
    {"N", 14, 3, 4, 0, 1.3, false, 1.0, 0.5},
    {"C", 12, 4, 0, 0, 0, false, 0, 0},
}};
constexpr std::size_t kCarbon = kRules.size() - 1;
constexpr int kMaxOtherElements = 4;  // besides C and H
constexpr int kMaxRareElements = 3;   // of S, P, Si and the halogens
constexpr double kUnusualCost = 3.0;  // outside the ranges most compounds keep

struct Found {
  double cost;
  std::string text;
  bool operator<(const Found& o) const { return std::tie(cost, text) < std::tie(o.cost, o.text); }
};

// How much an H-poor formula costs for each ring or double bond beyond three
// quarters of the carbons plus one (benzene, naphthalene, pyrene stay within).
constexpr double kUnsaturationCost = 1.5;

class Enumeration {
 public:
  Enumeration(int mass, std::array<bool, kRules.size()> allowed, bool hydrogen, std::size_t limit)
      : mass_(mass), allowed_(allowed), hydrogen_(hydrogen), limit_(limit) {}

  // The `limit` least costly, cheapest first; `total` gets how many pass the rules.
  std::vector<Found> run(std::size_t& total) {
    choose(0, mass_, 0, 0);
    total = total_;
    std::sort_heap(best_.begin(), best_.end());
    return std::move(best_);
  }

 private:
  // Counts of the elements before `i` are set; `left` mass remains for the
  // rest and hydrogen; `kinds` elements besides C and H are in use.
  // `rare` of them are rare elements.
  void choose(std::size_t i, int left, int kinds, int rare) {
    if (i == kCarbon) {
      carbons(left);
      return;
    }
    const ElementRule& rule = kRules[i];
    const bool room = kinds < kMaxOtherElements && (!rule.rare || rare < kMaxRareElements);
    int most = allowed_[i] && room ? left / rule.mass : 0;
    if (rule.max_count > 0) most = std::min(most, rule.max_count);
    for (int n = 0; n <= most; ++n) {
      counts_[i] = n;
      const int more = n > 0 ? 1 : 0;
      choose(i + 1, left - n * rule.mass, kinds + more, rare + (rule.rare ? more : 0));
    }
    counts_[i] = 0;
  }

  // The carbon counts that leave a hydrogen count the valences allow.
  void carbons(int left) {
    // Twice the rings plus double bonds: sum over atoms of (valence - 2), plus 2.
    int others = 0;
    for (std::size_t i = 0; i < kCarbon; ++i) others += counts_[i] * (kRules[i].valence - 2);
    // With c carbons and h = left - 12c hydrogens: 2 * rdbe = 2c - h + others + 2 >= 0,
    // so 14c >= left - others - 2.
    const int low = std::max(1, ceil_div(left - others - 2, 14));
    for (int c = low; 12 * c <= left; ++c) {
      const int h = left - 12 * c;
      if (h > 0 && !hydrogen_) continue;
      const int twice_rdbe = 2 * c - h + others + 2;
      if (twice_rdbe < 0 || twice_rdbe % 2 != 0) continue;
      keep(c, h, twice_rdbe / 2);
    }
  }

  static int ceil_div(int a, int b) { return a >= 0 ? (a + b - 1) / b : -((-a) / b); }

  void keep(int c, int h, int rdbe) {
    bool usual = h >= 0.2 * c && h <= 3.1 * c;
    double cost = kUnsaturationCost * std::max(0.0, rdbe - (0.75 * c + 1));
    for (std::size_t i = 0; i < kCarbon; ++i) {
      const int n = counts_[i];
      if (n == 0) continue;
      const ElementRule& rule = kRules[i];
      if (rule.max_per_carbon > 0 && n > rule.max_per_carbon * c) return;
      if (n > rule.usual_per_carbon * c) usual = false;
      cost += rule.presence_cost + rule.atom_cost * (n - 1);
    }
    if (!usual) cost += kUnusualCost;
    ++total_;
    // A max-heap of the best ones: the costliest of them on top, replaced by a cheaper one.
    if (limit_ == 0) return;
    if (best_.size() == limit_ && cost > best_.front().cost) return;
    Found f{cost, text(c, h)};
    if (best_.size() < limit_) {
      best_.push_back(std::move(f));
      std::push_heap(best_.begin(), best_.end());
    } else if (f < best_.front()) {
      std::pop_heap(best_.begin(), best_.end());
      best_.back() = std::move(f);
      std::push_heap(best_.begin(), best_.end());
    }
  }

  // C, H, then the other symbols in code-point order.
  std::string text(int c, int h) const {
    std::string out = term("C", c) + term("H", h);
    std::array<std::size_t, kCarbon> order{};
    for (std::size_t i = 0; i < kCarbon; ++i) order[i] = i;
    std::sort(order.begin(), order.end(), [](std::size_t a, std::size_t b) {
      return std::string_view(kRules[a].symbol) < std::string_view(kRules[b].symbol);
    });
    for (const std::size_t i : order) out += term(kRules[i].symbol, counts_[i]);
    return out;
  }

  static std::string term(const char* symbol, int n) {
    if (n == 0) return {};
    return n == 1 ? std::string(symbol) : symbol + std::to_string(n);
  }

  int mass_;
  std::array<bool, kRules.size()> allowed_;
  bool hydrogen_;
  std::size_t limit_;
  std::array<int, kRules.size()> counts_{};
  std::vector<Found> best_;
  std::size_t total_ = 0;
};

}  // namespace

const std::vector<std::string>& candidate_elements() {
  static const std::vector<std::string> elements{"C", "H", "N", "O", "S", "P", "F", "Cl", "Br", "I", "Si"};
  return elements;
}

namespace {

// Which of kRules the caller allows, and hydrogen; throws as formulas_of_nominal_mass does.
std::array<bool, kRules.size()> allowed_elements(int nominal_mass, const std::vector<std::string>& elements,
                                                 bool& hydrogen) {
  if (nominal_mass < 1 || nominal_mass > kMaxFormulaMass) {
    throw InvalidInput("candidate formulas are enumerated for nominal masses from 1 to " +
                       std::to_string(kMaxFormulaMass) + ", got " + std::to_string(nominal_mass));
  }
  const std::vector<std::string>& named = elements.empty() ? candidate_elements() : elements;
  std::array<bool, kRules.size()> allowed{};
  hydrogen = false;
  for (const std::string& symbol : named) {
    if (symbol == "H") {
      hydrogen = true;
      continue;
    }
    const auto rule =
        std::find_if(kRules.begin(), kRules.end(), [&](const ElementRule& r) { return symbol == r.symbol; });
    if (rule == kRules.end()) {
      throw InvalidInput("'" + symbol + "' is not an element candidate formulas are built from (C, H, N, O, S, P, F, " +
                         "Cl, Br, I, Si)");
    }
    allowed[static_cast<std::size_t>(rule - kRules.begin())] = true;
  }
  if (!allowed[kCarbon]) throw InvalidInput("candidate formulas need carbon among the elements");
  return allowed;
}

}  // namespace

void check_formula_request(int nominal_mass, const std::vector<std::string>& elements) {
  bool hydrogen = false;
  (void)allowed_elements(nominal_mass, elements, hydrogen);
}

FormulaList formulas_of_nominal_mass(int nominal_mass, const std::vector<std::string>& elements, std::size_t limit) {
  bool hydrogen = false;
  const std::array<bool, kRules.size()> allowed = allowed_elements(nominal_mass, elements, hydrogen);
  FormulaList out;
  std::vector<Found> found = Enumeration(nominal_mass, allowed, hydrogen, limit).run(out.total);
  out.formulas.reserve(found.size());
  for (Found& f : found) out.formulas.push_back(std::move(f.text));
  return out;
}

}  // namespace tessarin::identify
