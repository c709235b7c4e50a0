#include "spectra/similarity.h"

#include <algorithm>
#include <cmath>

#include "core/errors.h"

namespace tessarin::spectra {

std::string_view method_name(ScoreMethod method) {
  switch (method) {
    case ScoreMethod::cosine:
      return "cosine";
    case ScoreMethod::dot_product:
      return "dot_product";
    case ScoreMethod::composite:
      return "composite";
  }
  return "";
}

std::optional<ScoreMethod> method_named(std::string_view name) {
  for (ScoreMethod m : {ScoreMethod::cosine, ScoreMethod::dot_product, ScoreMethod::composite}) {
    if (name == method_name(m)) return m;
  }
  return std::nullopt;
}

double SimilarityOptions::mz_power_or_default() const {
  if (mz_power) return *mz_power;
  return method == ScoreMethod::cosine ? 0.0 : 3.0;
}

double SimilarityOptions::intensity_power_or_default() const {
  if (intensity_power) return *intensity_power;
  return method == ScoreMethod::cosine ? 0.5 : 0.6;
}

void SimilarityOptions::check() const {
  if (!std::isfinite(tolerance) || tolerance < 0) throw InvalidInput("the m/z tolerance must be a number >= 0");
  const double p = mz_power_or_default();
  const double q = intensity_power_or_default();
  if (!std::isfinite(p) || p < 0) throw InvalidInput("the m/z power must be a number >= 0");
  if (!std::isfinite(q) || q < 0) throw InvalidInput("the intensity power must be a number >= 0");
  if (method != ScoreMethod::cosine && method != ScoreMethod::dot_product && method != ScoreMethod::composite) {
    throw InvalidInput("unknown score method");
  }
}

std::optional<std::pair<double, double>> measured_mz_range(const Spectrum& spectrum) {
  if (const std::string* declared = spectrum.metadata.find(keys::scan_range)) {
    // "LOW-HIGH"; the dash after the first character, so that the text is
    // not read as a negative number.
    const std::size_t dash = declared->find('-', 1);
    if (dash != std::string::npos) {
      Metadata parts{{"low", declared->substr(0, dash)}, {"high", declared->substr(dash + 1)}};
      const std::optional<double> low = parts.number("low");
      const std::optional<double> high = parts.number("high");
      if (low && high && *low <= *high) return std::make_pair(*low, *high);
    }
  }
  std::optional<std::pair<double, double>> range;
  for (std::size_t i = 0; i < spectrum.size(); ++i) {
    if (!(spectrum.intensities[i] > 0)) continue;
    const double mz = spectrum.mz[i];
    if (!range) {
      range.emplace(mz, mz);
    } else {
      range->first = std::min(range->first, mz);
      range->second = std::max(range->second, mz);
    }
  }
  return range;
}

SimilarityOptions sqrt_cosine() {
  SimilarityOptions o;
  o.method = ScoreMethod::cosine;
  o.tolerance = 0.5;
  o.mz_power = 0.0;
  o.intensity_power = 0.5;
  return o;
}

namespace detail {

void weigh(const double* mz, const double* intensity, std::size_t n, double mz_power, double intensity_power,
           WeightedPeaks& out) {
  out.mz.clear();
  out.weight.clear();
  out.source.clear();
  out.norm2 = 0;
  double top_mz = 0;
  double top_intensity = 0;
  for (std::size_t i = 0; i < n; ++i) {
    if (intensity[i] > 0) {
      top_mz = std::max(top_mz, mz[i]);
      top_intensity = std::max(top_intensity, intensity[i]);
    }
  }
  if (!(top_intensity > 0)) return;
  for (std::size_t i = 0; i < n; ++i) {
    if (!(intensity[i] > 0)) continue;
    const double wm = top_mz > 0 ? std::pow(mz[i] / top_mz, mz_power) : (mz_power == 0 ? 1.0 : 0.0);
    const double w = wm * std::pow(intensity[i] / top_intensity, intensity_power);
    if (!(w > 0)) continue;
    out.mz.push_back(mz[i]);
    out.weight.push_back(w);
    out.source.push_back(i);
    out.norm2 += w * w;
  }
}

PeakView crop(const PeakView& v, double low, double high, std::size_t* first) {
  const double* begin = std::lower_bound(v.mz, v.mz + v.size, low);
  const double* end = std::upper_bound(begin, v.mz + v.size, high);
  const auto at = static_cast<std::size_t>(begin - v.mz);
  if (first) *first = at;
  PeakView out{begin, v.weight + at, static_cast<std::size_t>(end - begin), 0};
  for (std::size_t i = 0; i < out.size; ++i) out.norm2 += out.weight[i] * out.weight[i];
  return out;
}

double score_weighted(const PeakView& a, const PeakView& b, const SimilarityOptions& options, ScoreWorkspace& ws,
                      std::size_t& matched) {
  matched = 0;
  ws.matched.clear();
  if (a.size == 0 || b.size == 0) return 0;
  const double tol = options.tolerance;

  // Candidate pairs; the window of b slides forward with a's m/z.
  ws.candidates.clear();
  ws.kept_a.assign(a.size, 0);
  bool one_to_one = true;
  std::size_t start = 0;
  for (std::size_t i = 0; i < a.size; ++i) {
    const double x = a.mz[i];
    while (start < b.size && b.mz[start] < x && !(std::fabs(x - b.mz[start]) <= tol)) ++start;
    for (std::size_t j = start; j < b.size; ++j) {
      if (std::fabs(x - b.mz[j]) <= tol) {
        if (!ws.candidates.empty() && (ws.candidates.back().i == i || ws.candidates.back().j >= j)) one_to_one = false;
        ws.candidates.push_back(
            {a.weight[i] * b.weight[j], static_cast<std::uint32_t>(i), static_cast<std::uint32_t>(j)});
        ws.kept_a[i] = 1;
      } else if (b.mz[j] > x) {
        break;
      }
    }
  }
  if (ws.candidates.empty()) return 0;

  if (one_to_one) {
    for (const auto& c : ws.candidates) ws.matched.emplace_back(c.i, c.j);
  } else {
    std::sort(ws.candidates.begin(), ws.candidates.end(), [](const auto& x, const auto& y) {
      if (x.product != y.product) return x.product > y.product;
      if (x.i != y.i) return x.i < y.i;
      return x.j < y.j;
    });
    ws.used_a.assign(a.size, 0);
    ws.used_b.assign(b.size, 0);
    for (const auto& c : ws.candidates) {
      if (ws.used_a[c.i] || ws.used_b[c.j]) continue;
      ws.used_a[c.i] = 1;
      ws.used_b[c.j] = 1;
      ws.matched.emplace_back(c.i, c.j);
    }
    std::sort(ws.matched.begin(), ws.matched.end());
  }
  matched = ws.matched.size();

  double dot = 0;
  for (const auto& [i, j] : ws.matched) dot += a.weight[i] * b.weight[j];
  double norm2_a = a.norm2;
  std::size_t n_query = a.size;
  if (options.reverse) {
    norm2_a = 0;
    n_query = 0;
    for (std::size_t i = 0; i < a.size; ++i) {
      if (ws.kept_a[i]) {
        norm2_a += a.weight[i] * a.weight[i];
        ++n_query;
      }
    }
  }
  if (!(norm2_a > 0) || !(b.norm2 > 0)) return 0;
  const double cosine = std::min(1.0, dot / std::sqrt(norm2_a * b.norm2));
  if (options.method == ScoreMethod::cosine) return cosine;
  const double d = cosine * cosine;
  if (options.method == ScoreMethod::dot_product) return d;

  double ratio_sum = 0;
  for (std::size_t k = 1; k < ws.matched.size(); ++k) {
    const auto [i, j] = ws.matched[k];
    const auto [pi, pj] = ws.matched[k - 1];
    const double num = b.weight[j] * a.weight[pi];
    const double den = b.weight[pj] * a.weight[i];
    ratio_sum += num < den ? num / den : (num > 0 ? den / num : 1.0);
  }
  const double n_lu = static_cast<double>(matched);
  const double ratio = ratio_sum / n_lu;
  const double n_u = static_cast<double>(n_query);
  return std::min(1.0, (n_u * d + n_lu * ratio) / (n_u + n_lu));
}

}  // namespace detail

Similarity similarity(const Spectrum& a, const Spectrum& b, const SimilarityOptions& options) {
  options.check();
  a.check();
  b.check();
  const double p = options.mz_power_or_default();
  const double q = options.intensity_power_or_default();
  detail::WeightedPeaks wa;
  detail::WeightedPeaks wb;
  detail::weigh(a.mz.data(), a.intensities.data(), a.size(), p, q, wa);
  detail::weigh(b.mz.data(), b.intensities.data(), b.size(), p, q, wb);
  detail::ScoreWorkspace ws;
  Similarity out;
  detail::PeakView vb = detail::view(wb);
  std::size_t first_b = 0;
  if (options.measured_range) {
    const std::optional<std::pair<double, double>> range = measured_mz_range(a);
    if (!range) return out;  // a has no peaks: nothing scores
    vb = detail::crop(vb, range->first, range->second, &first_b);
  }
  out.score = detail::score_weighted(detail::view(wa), vb, options, ws, out.matched);
  out.pairs.reserve(ws.matched.size());
  for (const auto& [i, j] : ws.matched) out.pairs.emplace_back(wa.source[i], wb.source[first_b + j]);
  return out;
}

}  // namespace tessarin::spectra
