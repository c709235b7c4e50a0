#include "spectra/molecular_mass.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <functional>
#include <limits>
#include <string>
#include <utility>

#include "core/errors.h"
#include "spectra/isotopes.h"
#include "spectra/molecular_mass_weights.h"
#include "spectra/similarity.h"

namespace tessarin::spectra {
namespace {

// Intensities are read on a log scale from this share of the base peak up.
constexpr double kFloor = 1e-4;
// The highest peak the candidates are placed around: at least this share.
constexpr double kSignificant = 0.005;
// A peak this strong counts as a molecular ion with an isotope cluster.
constexpr double kPresent = 0.001;
constexpr int kCandidatesBelow = 16;
constexpr int kCandidatesAbove = 150;
// EI spectra end far below this; a higher m/z is refused rather than binned.
constexpr double kMaxMz = 100000;
constexpr int kClusterWidth = 8;  // isotope peaks read above a candidate
// A molecular ion this strong shows its isotope cluster well enough to read.
constexpr double kReadableCluster = 0.02;

double log_intensity(double share) { return std::log10(std::max(share, kFloor)) + 4; }

// Common neutral losses and what they usually are.
struct Loss {
  int mass;
  const char* neutral;
  char needs = 0;  // 'S', 'C' (Cl) or 'B' (Br): the element the neutral must hold
};
constexpr std::array<Loss, 32> kLosses{{{1, "H"},
                                        {2, "H2"},
                                        {15, "CH3"},
                                        {16, "O, NH2, CH4"},
                                        {17, "OH, NH3"},
                                        {18, "H2O"},
                                        {19, "F"},
                                        {20, "HF"},
                                        {26, "C2H2, CN"},
                                        {27, "HCN, C2H3"},
                                        {28, "CO, C2H4"},
                                        {29, "CHO, C2H5"},
                                        {30, "CH2O, NO"},
                                        {31, "OCH3"},
                                        {32, "CH3OH, S"},
                                        {33, "SH", 'S'},
                                        {34, "H2S", 'S'},
                                        {35, "Cl", 'C'},
                                        {36, "HCl", 'C'},
                                        {42, "CH2CO, C3H6"},
                                        {43, "C3H7, CH3CO"},
                                        {44, "CO2"},
                                        {45, "OC2H5, COOH"},
                                        {46, "NO2"},
                                        {47, "CH3S", 'S'},
                                        {55, "C4H7"},
                                        {57, "C4H9"},
                                        {59, "COOCH3"},
                                        {60, "CH3COOH"},
                                        {79, "Br", 'B'},
                                        {80, "HBr", 'B'},
                                        {127, "I"}}};

// Features read from the spectrum, in this order, then the library's.
enum Feature : std::size_t {
  kMolecularIon,
  kNoMolecularIon,
  kAboveUnexplained,
  kAboveAny,
  kImpossible4to13,
  kImpossible21to25,
  kOddMass,
  kOddMassEvenFragments,
  kEvenMassEvenFragments,
  kAboveHighest,
  kBeyondHighest,
  kBelowHighest,
  kAtHighest,
  kM1TooStrong,
  kM1AgainstM,
  kM2AgainstM,
  kIsotopeMisfit,
  kIsotopeOfLower,
  kProtonatedOnly,
  kFirstLoss,
};
constexpr std::size_t kPeakFeatures = kFirstLoss + 2 * kLosses.size();
constexpr std::size_t kLibraryBest = kPeakFeatures;
constexpr std::size_t kLibraryNone = kPeakFeatures + 1;
constexpr std::size_t kLibraryBelowBest = kPeakFeatures + 2;
constexpr std::size_t kLibraryBestMass = kPeakFeatures + 3;
constexpr std::size_t kLibrarySecondMass = kPeakFeatures + 4;
constexpr std::size_t kLibraryThirdMass = kPeakFeatures + 5;
constexpr std::size_t kLibraryBestNoIon = kPeakFeatures + 6;
constexpr std::size_t kLibraryBelowBestNoIon = kPeakFeatures + 7;
constexpr std::size_t kAllFeatures = kPeakFeatures + 8;

std::vector<std::string> feature_name_storage() {
  std::vector<std::string> names = {"molecular ion",
                                    "no molecular ion",
                                    "above M unexplained",
                                    "above M any",
                                    "peaks at M-4..M-13",
                                    "peaks at M-21..M-25",
                                    "odd mass",
                                    "odd mass, even fragments",
                                    "even mass, even fragments",
                                    "above the highest peak",
                                    "beyond the highest peak",
                                    "below the highest peak",
                                    "at the highest peak",
                                    "M+1 too strong",
                                    "M-1 against M",
                                    "M-2 against M",
                                    "isotope misfit",
                                    "isotope peak of M-1 or M-2",
                                    "M+1 without M"};
  for (const Loss& loss : kLosses) names.push_back("loses " + std::to_string(loss.mass));
  for (const Loss& loss : kLosses) names.push_back("loses " + std::to_string(loss.mass) + ", no molecular ion");
  names.insert(names.end(),
               {"library best", "library none", "library below best", "library best mass", "library second mass",
                "library third mass", "library best, no molecular ion", "library below best, no molecular ion"});
  return names;
}

const std::vector<std::string_view>& feature_names() {
  static const std::vector<std::string> storage = feature_name_storage();
  static const std::vector<std::string_view> names(storage.begin(), storage.end());
  return names;
}

// Intensities summed per nominal m/z, relative to the strongest.
struct NominalPeaks {
  std::vector<double> share;  // index: m/z
  int highest = 0;            // highest m/z of at least kSignificant
  int top = 0;                // highest m/z with any intensity

  double operator()(int mz) const {
    return mz >= 0 && static_cast<std::size_t>(mz) < share.size() ? share[static_cast<std::size_t>(mz)] : 0.0;
  }
};

NominalPeaks nominal_peaks(const Spectrum& spectrum) {
  spectrum.check();
  NominalPeaks peaks;
  double top_mz = 0;
  for (std::size_t i = 0; i < spectrum.size(); ++i) {
    if (spectrum.intensities[i] > 0) top_mz = std::max(top_mz, spectrum.mz[i]);
  }
  if (spectrum.max_intensity() <= 0) {
    throw InvalidInput("the spectrum has no peak of positive intensity, so it says nothing of the molecular mass");
  }
  if (top_mz > kMaxMz) throw InvalidInput("m/z " + std::to_string(top_mz) + " is beyond an EI spectrum's range");
  peaks.share.assign(static_cast<std::size_t>(std::lround(top_mz)) + 1, 0.0);
  for (std::size_t i = 0; i < spectrum.size(); ++i) {
    if (spectrum.intensities[i] > 0)
      peaks.share[static_cast<std::size_t>(std::lround(spectrum.mz[i]))] += spectrum.intensities[i];
  }
  const double base = *std::max_element(peaks.share.begin(), peaks.share.end());
  for (double& v : peaks.share) v /= base;
  for (std::size_t mz = 0; mz < peaks.share.size(); ++mz) {
    if (peaks.share[mz] > 0) peaks.top = static_cast<int>(mz);
    if (peaks.share[mz] >= kSignificant) peaks.highest = static_cast<int>(mz);
  }
  return peaks;
}

// An isotope pattern: abundance at m+k relative to m (the all-lightest ion).
struct Pattern {
  int carbons = 0, chlorines = 0, bromines = 0, sulfurs = 0, silicons = 0;
  std::array<double, kClusterWidth + 1> relative{};
  double misfit = 0;
};

const std::array<double, kClusterWidth + 1>& pattern_of(int c, int cl, int br, int s, int si) {
  // Same numbers whatever thread asks first: each is isotope_cluster's.
  thread_local std::map<std::array<int, 5>, std::array<double, kClusterWidth + 1>> memo;
  const std::array<int, 5> key{c, cl, br, s, si};
  auto it = memo.find(key);
  if (it != memo.end()) return it->second;
  std::vector<ElementCount> elements;
  if (c > 0) elements.push_back({6, c});
  if (si > 0) elements.push_back({14, si});
  if (s > 0) elements.push_back({16, s});
  if (cl > 0) elements.push_back({17, cl});
  if (br > 0) elements.push_back({35, br});
  std::array<double, kClusterWidth + 1> rel{};
  rel[0] = 1;
  if (!elements.empty()) {
    const std::vector<IsotopePeak> cluster = isotope_cluster(elements, {}, 1e-6);
    const int low = cluster.front().mz;
    const double first = cluster.front().abundance;
    for (const IsotopePeak& p : cluster) {
      const int k = p.mz - low;
      if (k <= kClusterWidth) rel[static_cast<std::size_t>(k)] = p.abundance / first;
    }
  }
  return memo.emplace(key, rel).first->second;
}

// The isotope pattern that best explains the peaks above m as m's cluster:
// carbons from the M+1 peak, halogens, S and Si by the least misfit of the
// square-rooted ratios (a small charge per heteroatom prefers the simpler).
Pattern best_pattern(const NominalPeaks& peaks, int m) {
  Pattern best;
  best.misfit = std::numeric_limits<double>::infinity();
  const double at_m = peaks(m);
  if (at_m <= 0) return best;
  std::array<double, kClusterWidth + 1> observed{};
  for (int k = 1; k <= kClusterWidth; ++k)
    observed[static_cast<std::size_t>(k)] = std::sqrt(std::min(peaks(m + k) / at_m, 10.0));
  const double r1 = peaks(m + 1) / at_m;
  for (int br = 0; br <= 4; ++br) {
    for (int cl = 0; cl + br <= 6; ++cl) {
      for (int s = 0; s <= 2; ++s) {
        for (int si = 0; si <= 2; ++si) {
          const int heavy = 35 * cl + 79 * br + 32 * s + 28 * si;
          if (heavy > m) continue;
          const int max_carbons = (m - heavy) / 12;
          const double carbon_share = r1 - 0.0079 * s - 0.0508 * si;
          const int c = std::clamp(static_cast<int>(std::lround(carbon_share / 0.0108)), 0, std::max(0, max_carbons));
          const auto& rel = pattern_of(c, cl, br, s, si);
          const int width = std::min(kClusterWidth, 2 * (cl + br + s + si) + 2);
          double misfit = 0.02 * (cl + br + s + si);
          for (int k = 1; k <= width; ++k)
            misfit += std::abs(observed[static_cast<std::size_t>(k)] - std::sqrt(rel[static_cast<std::size_t>(k)]));
          if (misfit < best.misfit) {
            best.carbons = c;
            best.chlorines = cl;
            best.bromines = br;
            best.sulfurs = s;
            best.silicons = si;
            best.relative = rel;
            best.misfit = misfit;
          }
        }
      }
    }
  }
  return best;
}

struct Candidates {
  NominalPeaks peaks;
  int low = 0;
  std::vector<int> masses;
  std::vector<Pattern> patterns;  // for low-2 .. last mass: the cluster fit at each present peak
  std::vector<std::array<double, kAllFeatures>> rows;

  const Pattern& pattern(int m) const { return patterns[static_cast<std::size_t>(m - (low - 2))]; }
};

Candidates describe(const Spectrum& spectrum, const LibraryMassEvidence* library) {
  Candidates cand;
  cand.peaks = nominal_peaks(spectrum);
  const NominalPeaks& peaks = cand.peaks;
  cand.low = std::max(kCandidatesBelow, peaks.highest - kCandidatesBelow);
  const int high = std::max(peaks.highest, cand.low) + kCandidatesAbove;
  for (int m = cand.low - 2; m <= high; ++m) {
    cand.patterns.push_back(peaks(m) >= kPresent ? best_pattern(peaks, m) : Pattern{});
  }

  // Share of the fragments' (square-rooted) intensity at even m/z below each m.
  std::vector<double> even_prefix(peaks.share.size() + 1, 0.0), all_prefix(peaks.share.size() + 1, 0.0);
  for (std::size_t x = 0; x < peaks.share.size(); ++x) {
    const double v = x >= 40 ? std::sqrt(peaks.share[x]) : 0.0;
    all_prefix[x + 1] = all_prefix[x] + v;
    even_prefix[x + 1] = even_prefix[x] + (x % 2 == 0 ? v : 0.0);
  }
  auto prefix = [&](const std::vector<double>& p, int end) {
    return p[static_cast<std::size_t>(std::clamp(end, 0, static_cast<int>(p.size()) - 1))];
  };

  // The candidates' best library scores, best first, for each mass's place among them.
  std::vector<double> library_order;
  if (library) {
    for (int m = cand.low; m <= high; ++m) {
      auto it = library->masses.find(m);
      if (it != library->masses.end() && it->second.best > 0) library_order.push_back(it->second.best);
    }
    std::sort(library_order.begin(), library_order.end(), std::greater<>());
  }
  const double library_top = library_order.empty() ? 0.0 : library_order.front();

  for (int m = cand.low; m <= high; ++m) {
    std::array<double, kAllFeatures> x{};
    const double at_m = peaks(m);
    const bool absent = at_m < kPresent;
    const Pattern& pat = cand.pattern(m);
    x[kMolecularIon] = log_intensity(at_m);
    x[kNoMolecularIon] = absent ? 1.0 : 0.0;
    double unexplained = 0, any = 0;
    for (int mz = m + 1; mz <= peaks.top; ++mz) {
      const int k = mz - m;
      const double expected = !absent && k <= kClusterWidth ? at_m * pat.relative[static_cast<std::size_t>(k)] : 0.0;
      unexplained = std::max(unexplained, peaks(mz) - 1.5 * expected - 0.002);
      any = std::max(any, peaks(mz));
    }
    x[kAboveUnexplained] = log_intensity(unexplained);
    x[kAboveAny] = log_intensity(any);
    double w1 = 0, w2 = 0;
    for (int mz = m - 13; mz <= m - 4; ++mz) w1 = std::max(w1, peaks(mz));
    for (int mz = m - 25; mz <= m - 21; ++mz) w2 = std::max(w2, peaks(mz));
    x[kImpossible4to13] = log_intensity(w1);
    x[kImpossible21to25] = log_intensity(w2);
    const double odd = m % 2 != 0 ? 1.0 : 0.0;
    const double total = prefix(all_prefix, m - 3);
    const double even_share = total > 0 ? prefix(even_prefix, m - 3) / total : 0.5;
    x[kOddMass] = odd;
    x[kOddMassEvenFragments] = odd * even_share;
    x[kEvenMassEvenFragments] = (1 - odd) * even_share;
    x[kAboveHighest] = std::max(0, m - peaks.highest) / 50.0;
    x[kBeyondHighest] = m > peaks.highest ? 1.0 : 0.0;
    x[kBelowHighest] = std::max(0, peaks.highest - m) / 5.0;
    x[kAtHighest] = m == peaks.highest ? 1.0 : 0.0;
    if (at_m > 0) {
      const double r1 = peaks(m + 1) / at_m;
      const double ceiling = 0.0111 * (m / 12.0) + 0.02;
      x[kM1TooStrong] = r1 > ceiling ? std::log(r1 / ceiling) : 0.0;
      x[kM1AgainstM] = std::clamp(std::log10(std::max(peaks(m - 1), kFloor) / at_m), -2.0, 2.0);
      x[kM2AgainstM] = std::clamp(std::log10(std::max(peaks(m - 2), kFloor) / at_m), -2.0, 2.0);
    }
    if (!absent) {
      x[kIsotopeMisfit] = pat.misfit;
      double explained = 0;
      for (int j = 1; j <= 2; ++j) {
        const Pattern& lower = cand.pattern(m - j);
        if (peaks(m - j) >= kPresent)
          explained = std::max(explained, peaks(m - j) * lower.relative[static_cast<std::size_t>(j)]);
      }
      x[kIsotopeOfLower] = std::min(1.0, explained / at_m);
    } else {
      x[kProtonatedOnly] = log_intensity(peaks(m + 1));
    }
    for (std::size_t i = 0; i < kLosses.size(); ++i) {
      const double v = log_intensity(peaks(m - kLosses[i].mass));
      x[kFirstLoss + i] = v;
      x[kFirstLoss + kLosses.size() + i] = absent ? v : 0.0;
    }
    if (library) {
      auto it = library->masses.find(m);
      const double best = it != library->masses.end() ? it->second.best : 0.0;
      x[kLibraryBest] = best;
      x[kLibraryNone] = it == library->masses.end() || it->second.entries == 0 ? 1.0 : 0.0;
      x[kLibraryBelowBest] = best - library_top;
      if (best > 0) {
        const auto place = std::lower_bound(library_order.begin(), library_order.end(), best, std::greater<>()) -
                           library_order.begin();
        x[kLibraryBestMass] = place == 0 ? 1.0 : 0.0;
        x[kLibrarySecondMass] = place == 1 ? 1.0 : 0.0;
        x[kLibraryThirdMass] = place == 2 ? 1.0 : 0.0;
      }
      x[kLibraryBestNoIon] = absent ? best : 0.0;
      x[kLibraryBelowBestNoIon] = absent ? best - library_top : 0.0;
    }
    cand.masses.push_back(m);
    cand.rows.push_back(x);
  }
  return cand;
}

std::string percent(double share) {
  char text[32];
  if (share >= 0.1) {
    std::snprintf(text, sizeof text, "%.0f %%", 100 * share);
  } else if (share >= 0.01) {
    std::snprintf(text, sizeof text, "%.1f %%", 100 * share);
  } else {
    std::snprintf(text, sizeof text, "%.2f %%", 100 * share);
  }
  return text;
}

std::string pattern_words(const Pattern& p) {
  std::string words = p.carbons > 0 ? "about " + std::to_string(p.carbons) + " C" : "M+1 too weak to count carbons";
  auto add = [&](int n, const char* symbol) {
    if (n > 0) words += ", " + std::to_string(n) + " " + symbol;
  };
  add(p.chlorines, "Cl");
  add(p.bromines, "Br");
  add(p.sulfurs, "S");
  add(p.silicons, "Si");
  if (p.chlorines + p.bromines + p.sulfurs + p.silicons == 0) words += "; no Cl, Br, S or Si";
  return words;
}

std::vector<std::string> evidence_of(const Candidates& cand, int m, const LibraryMassEvidence* library) {
  const NominalPeaks& peaks = cand.peaks;
  const double at_m = peaks(m);
  const std::string ms = std::to_string(m);
  std::vector<std::string> lines;
  if (at_m >= kPresent) {
    lines.push_back("molecular ion: m/z " + ms + " at " + percent(at_m) + " of the base peak");
    if (at_m >= kReadableCluster) {
      lines.push_back("isotope cluster: M+1 " + percent(peaks(m + 1) / at_m) + ", M+2 " + percent(peaks(m + 2) / at_m) +
                      " of M: " + pattern_words(cand.pattern(m)));
    } else {
      lines.push_back("isotope cluster: M too weak to read it");
    }
  } else if (at_m > 0) {
    lines.push_back("molecular ion: only a trace at m/z " + ms + " (" + percent(at_m) + " of the base peak)");
  } else {
    lines.push_back("molecular ion: no peak at m/z " + ms + "; M would not survive ionisation");
  }
  lines.push_back(m % 2 == 0 ? "nitrogen rule: even mass, so no nitrogen or an even number of them"
                             : "nitrogen rule: odd mass, so an odd number of nitrogens");
  // The strongest common losses; those of S, Cl or Br only when the cluster
  // shows that element (else the peak is more likely an isotope peak).
  const Pattern& cluster = cand.pattern(m);
  const bool readable = at_m >= kReadableCluster;
  std::vector<std::pair<double, const Loss*>> seen;
  for (const Loss& loss : kLosses) {
    if (readable && ((loss.needs == 'S' && cluster.sulfurs == 0) || (loss.needs == 'C' && cluster.chlorines == 0) ||
                     (loss.needs == 'B' && cluster.bromines == 0))) {
      continue;
    }
    const double v = peaks(m - loss.mass);
    if (v >= 0.01) seen.emplace_back(v, &loss);
  }
  std::stable_sort(seen.begin(), seen.end(), [](const auto& a, const auto& b) { return a.first > b.first; });
  if (!seen.empty()) {
    std::string text = "losses that fit:";
    for (std::size_t i = 0; i < seen.size() && i < 6; ++i) {
      text += std::string(i ? "," : "") + " M-" + std::to_string(seen[i].second->mass) + " (" +
              seen[i].second->neutral + ") " + percent(seen[i].first);
    }
    lines.push_back(text);
  } else {
    lines.push_back("losses that fit: no common loss from M shows a peak of 1 % or more");
  }
  std::string impossible;
  for (int d = 4; d <= 25; ++d) {
    if (d > 13 && d < 21) continue;
    const double v = peaks(m - d);
    if (v >= 0.01) impossible += (impossible.empty() ? " " : ", ") + ("M-" + std::to_string(d)) + " " + percent(v);
  }
  lines.push_back(impossible.empty() ? "impossible losses: no peak of 1 % or more at M-4..M-13 or M-21..M-25"
                                     : "impossible losses: peaks at" + impossible + " (no neutral of 4-13 or 21-25 u)");
  int worst = 0;
  double worst_share = 0;
  const Pattern& p = cand.pattern(m);
  for (int mz = m + 1; mz <= peaks.top; ++mz) {
    const int k = mz - m;
    const double expected = at_m >= kPresent && k <= kClusterWidth ? at_m * p.relative[static_cast<std::size_t>(k)] : 0;
    const double u = peaks(mz) - 1.5 * expected - 0.002;
    if (u > worst_share) {
      worst_share = u;
      worst = mz;
    }
  }
  if (worst_share >= 0.003) {
    lines.push_back("above M: m/z " + std::to_string(worst) + " at " + percent(peaks(worst)) +
                    " is no isotope peak of M");
  }
  if (library) {
    auto it = library->masses.find(m);
    if (it == library->masses.end() || it->second.entries == 0) {
      lines.push_back("library: no entry of mass " + ms);
    } else {
      char score[32];
      std::snprintf(score, sizeof score, "%.3f", it->second.best);
      std::string text = "library: " + std::to_string(it->second.entries) + " entr" +
                         (it->second.entries == 1 ? "y" : "ies") + " of mass " + ms;
      text += it->second.best > 0 ? ", the best scores " + std::string(score) +
                                        (it->second.best_name.empty() ? "" : " (" + it->second.best_name + ")")
                                  : ", none shares a peak";
      lines.push_back(text);
    }
  }
  return lines;
}

}  // namespace

void MassEstimateOptions::check() const {
  if (max_hypotheses < 1) throw InvalidInput("at least one mass hypothesis must be asked for");
  if (!(min_score >= 0 && min_score <= 1)) throw InvalidInput("the minimum score must lie within 0..1");
  if (!(plausible_ratio >= 0 && plausible_ratio <= 1)) throw InvalidInput("the plausible ratio must lie within 0..1");
  if (max_plausible < 1) throw InvalidInput("at least one plausible mass must be kept");
}

std::vector<double> weights_in_order(std::span<const NamedWeight> table, std::span<const std::string_view> names) {
  std::vector<double> w(names.size(), 0.0);
  for (const NamedWeight& nw : table) {
    const auto it = std::find(names.begin(), names.end(), nw.name);
    if (it == names.end()) throw std::logic_error("a weight for unknown evidence: " + std::string(nw.name));
    w[static_cast<std::size_t>(it - names.begin())] = nw.weight;
  }
  return w;
}

std::span<const std::string_view> mass_feature_names(bool with_library) {
  const auto& names = feature_names();
  return {names.data(), with_library ? kAllFeatures : kPeakFeatures};
}

MassFeatures molecular_mass_features(const Spectrum& spectrum, const LibraryMassEvidence* library) {
  Candidates cand = describe(spectrum, library);
  MassFeatures out;
  out.masses = cand.masses;
  const std::size_t n = library ? kAllFeatures : kPeakFeatures;
  for (const auto& row : cand.rows) out.rows.emplace_back(row.begin(), row.begin() + static_cast<std::ptrdiff_t>(n));
  return out;
}

MassEstimate estimate_molecular_mass(const Spectrum& spectrum, const MassEstimateOptions& options,
                                     const LibraryMassEvidence* library) {
  options.check();
  static const std::vector<double> peak_weights =
      weights_in_order(molecular_mass_weights(false), mass_feature_names(false));
  static const std::vector<double> library_weights =
      weights_in_order(molecular_mass_weights(true), mass_feature_names(true));
  const std::vector<double>& w = library ? library_weights : peak_weights;
  const Candidates cand = describe(spectrum, library);

  std::vector<double> score(cand.rows.size());
  for (std::size_t i = 0; i < cand.rows.size(); ++i) {
    double s = 0;
    for (std::size_t j = 0; j < w.size(); ++j) s += w[j] * cand.rows[i][j];
    score[i] = s;
  }
  const double top = *std::max_element(score.begin(), score.end());
  double z = 0;
  for (double& s : score) z += (s = std::exp(s - top));
  std::vector<std::size_t> order(score.size());
  for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
  std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) { return score[a] > score[b]; });

  MassEstimate estimate;
  estimate.used_library = library != nullptr;
  for (std::size_t i : order) {
    const double p = score[i] / z;
    if (estimate.hypotheses.size() >= options.max_hypotheses) break;
    if (!estimate.hypotheses.empty() && p < options.min_score) break;
    estimate.hypotheses.push_back({cand.masses[i], p, evidence_of(cand, cand.masses[i], library)});
  }
  const double best = estimate.hypotheses.front().score;
  for (const MassHypothesis& h : estimate.hypotheses) {
    if (estimate.plausible.size() >= options.max_plausible) break;
    if (!estimate.plausible.empty() && h.score < options.plausible_ratio * best) break;
    estimate.plausible.push_back(h.mass);
  }
  return estimate;
}

std::vector<LibraryMassEvidence> library_mass_evidence(const SpectralLibrary& library,
                                                       std::span<const Spectrum> queries, unsigned threads) {
  // Nominal mass of every entry.
  std::vector<int> mass(library.size(), -1);
  std::map<int, std::size_t> entries;
  for (std::size_t i = 0; i < library.size(); ++i) {
    Spectrum meta;
    meta.metadata = library.metadata(i);
    if (auto mm = meta.molecular_mass(); mm && *mm > 0 && *mm < kMaxMz) {
      mass[i] = static_cast<int>(std::lround(*mm));
      ++entries[mass[i]];
    }
  }
  SearchOptions options;
  options.similarity = sqrt_cosine();
  options.top = std::max<std::size_t>(1, library.size());
  options.threads = threads;
  std::vector<QueryHits> found = library.search(queries, options);
  std::vector<LibraryMassEvidence> out(queries.size());
  for (std::size_t q = 0; q < queries.size(); ++q) {
    if (!found[q].error.empty()) continue;
    for (const auto& [m, n] : entries) out[q].masses[m].entries = n;
    // Hits come best first, so the first of each mass is its best.
    for (const Hit& h : found[q].hits) {
      const int m = mass[h.index - library.first_index()];
      if (m < 0) continue;
      LibraryMassEvidence::Mass& e = out[q].masses[m];
      if (h.score > e.best) {
        e.best = h.score;
        e.best_index = h.index;
        e.best_name = library.metadata(h.index - library.first_index()).get(keys::name);
      }
    }
  }
  return out;
}

std::vector<MassEstimate> estimate_molecular_masses(std::span<const Spectrum> spectra,
                                                    const MassEstimateOptions& options, const SpectralLibrary* library,
                                                    unsigned threads) {
  options.check();
  for (const Spectrum& s : spectra) nominal_peaks(s);  // refuse bad input before the search
  std::vector<LibraryMassEvidence> evidence;
  if (library) evidence = library_mass_evidence(*library, spectra, threads);
  std::vector<MassEstimate> out;
  out.reserve(spectra.size());
  for (std::size_t i = 0; i < spectra.size(); ++i) {
    out.push_back(estimate_molecular_mass(spectra[i], options, library ? &evidence[i] : nullptr));
  }
  return out;
}

}  // namespace tessarin::spectra
