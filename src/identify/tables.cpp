#include "identify/tables.h"

#include <sstream>

#include "core/number_format.h"

namespace tessarin::identify {
namespace {

std::string field(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c == '\t' || c == '\n' || c == '\r') c = ' ';
  }
  return out;
}

std::string fixed(double value) { return core::format_fixed(value, 4); }

template <class T>
std::string optional_text(const std::optional<T>& value) {
  if (!value) return "";
  if constexpr (std::is_same_v<T, bool>) {
    return *value ? "1" : "0";
  } else if constexpr (std::is_floating_point_v<T>) {
    return fixed(*value);
  } else {
    return std::to_string(*value);
  }
}

// Shortest text of a number, whole numbers without ".0" (0.5, 3, 0.25).
std::string number_text(double value) {
  std::string text = core::float_repr(value);
  if (text.size() > 2 && text.ends_with(".0")) text.resize(text.size() - 2);
  return text;
}

// The columns of a mass hypothesis and of the score that ranks across the
// hypotheses, each after a tab.
constexpr const char* kMassColumns = "\tmass_hypothesis\tmass_score\trank_score";
std::string mass_fields(const std::optional<MassPrior>& mass, double rank_score) {
  std::string out = "\t";
  if (!mass) return out + "\t\t";
  out += std::to_string(mass->mass);
  out += '\t';
  out += fixed(mass->score);
  out += '\t';
  out += fixed(rank_score);
  return out;
}

}  // namespace

std::string ranking_header(bool mass_hypotheses) {
  return std::string("rank\tscore\tmatched\tname\tsmiles\tformula") + (mass_hypotheses ? kMassColumns : "") + "\n";
}

std::string ranking_row(const RankedCandidate& r, bool mass_hypotheses) {
  return std::to_string(r.rank) + "\t" + fixed(r.score) + "\t" + std::to_string(r.matched) + "\t" + field(r.name) +
         "\t" + field(r.smiles) + "\t" + field(r.formula) + (mass_hypotheses ? mass_fields(r.mass, r.rank_score) : "") +
         "\n";
}

std::string hits_header(bool mass_hypotheses) {
  return std::string("query\tquery_name\trank\tscore\tmatched\tlibrary_index\tname\tsmiles\tformula") +
         (mass_hypotheses ? kMassColumns : "") + "\n";
}

std::string hits_rows(const QueryResult& result, const std::vector<const spectra::Metadata*>& entries) {
  std::string out;
  const std::string prefix = std::to_string(result.query + 1) + "\t" + field(result.spectrum.name()) + "\t";
  for (std::size_t k = 0; k < result.hits.size(); ++k) {
    const spectra::Hit& h = result.hits[k];
    const spectra::Metadata& m = *entries.at(k);
    out += prefix + std::to_string(k + 1) + "\t" + fixed(h.score) + "\t" + std::to_string(h.matched) + "\t" +
           std::to_string(h.index + 1) + "\t" + field(m.get(spectra::keys::name)) + "\t" +
           field(m.get(spectra::keys::smiles)) + "\t" + field(m.get(spectra::keys::formula)) +
           (k < result.hit_hypotheses.size()
                ? mass_fields(result.hit_hypotheses[k].mass, result.hit_hypotheses[k].rank_score)
                : std::string()) +
           "\n";
  }
  return out;
}

std::string hits_rows(const spectra::SpectralLibrary& library, const QueryResult& result) {
  std::vector<const spectra::Metadata*> entries;
  entries.reserve(result.hits.size());
  for (const spectra::Hit& h : result.hits) entries.push_back(&library.metadata(h.index - library.first_index()));
  return hits_rows(result, entries);
}

std::string evaluation_header() {
  return "record\tfile\tline\taccession\tname\tsmiles\tformula\tnominal_mass\tscore\trecall_at_5\tprecision\t"
         "base_peak_hit\tcandidates\trank\ttop1\ttop3\treciprocal_rank\terror\n";
}

std::string evaluation_row(const EvaluatedSpectrum& e) {
  const spectra::MoleculeEvaluation& m = e.measures;
  std::string out = std::to_string(e.record + 1) + "\t" + field(e.path) + "\t" +
                    (e.line ? std::to_string(e.line) : "") + "\t" + field(e.accession) + "\t" + field(e.name) + "\t" +
                    field(e.smiles) + "\t" + field(e.formula) + "\t" + optional_text(e.nominal_mass) + "\t" +
                    optional_text(m.score) + "\t" + optional_text(m.peaks.recall) + "\t" +
                    optional_text(m.peaks.precision) + "\t" + optional_text(m.peaks.base_peak_hit) + "\t";
  if (m.rank) {
    out += std::to_string(e.candidates) + "\t" + number_text(m.rank->rank) + "\t" + number_text(m.rank->top1) + "\t" +
           number_text(m.rank->top3) + "\t" + fixed(m.rank->reciprocal_rank);
  } else {
    out += "\t\t\t\t";
  }
  return out + "\t" + field(e.error) + "\n";
}

std::string score_description(const spectra::SimilarityOptions& o) {
  return std::string(spectra::method_name(o.method)) + (o.reverse ? " reverse" : "") + " (m/z^" +
         number_text(o.mz_power_or_default()) + " * I^" + number_text(o.intensity_power_or_default()) + ", tolerance " +
         number_text(o.tolerance) + ")";
}

std::string evaluation_summary(const Evaluation& ev, const EvaluateOptions& options) {
  const spectra::EvaluationSummary& s = ev.summary;
  std::size_t failed = 0;
  for (const EvaluatedSpectrum& e : ev.spectra) failed += e.error.empty() ? 0 : 1;
  std::ostringstream out;
  auto line = [&out](const char* what, const spectra::Mean& mean, const std::string& note = {}) {
    out << what << (mean.count ? fixed(mean.value) : std::string("-")) << "  (" << mean.count << " spectra" << note
        << ")\n";
  };
  out << "spectra          " << s.molecules << " (" << (s.molecules - failed) << " evaluated, " << failed
      << " without measures)\n";
  out << "structures       " << ev.structures << " predicted once each, " << ev.failed_structures << " failed\n";
  out << "model            " << prediction::model_name(options.run.prediction.model)
      << (options.run.prediction.analysis.ring_fragmentation ? ", ring cuts" : "")
      << (options.run.prediction.analysis.recursive
              ? ", " + std::to_string(options.run.prediction.analysis.max_generations) + " further generations"
              : std::string())
      << "\n";
  line("score            ", s.score, ", " + score_description(options.score));
  line("recall@5         ", s.recall);
  line("precision        ", s.precision);
  line("base-peak hit    ", s.base_peak_hit);
  line("top-1            ", s.top1, ", by " + score_description(options.identification));
  line("top-3            ", s.top3);
  line("MRR              ", s.reciprocal_rank);
  out << "candidates       " << core::format_fixed(ev.mean_candidates, 1) << " on average (mean rank "
      << (s.candidates_rank.count ? core::format_fixed(s.candidates_rank.value, 2) : std::string("-")) << ")\n";
  if (ev.cancelled) out << "interrupted: structures not predicted are left out\n";
  return out.str();
}

std::string record_error_header() { return "file\tline\treason\n"; }

std::string record_error_row(const spectra::RecordError& e) {
  return field(e.path()) + "\t" + std::to_string(e.line()) + "\t" + field(e.reason()) + "\n";
}

}  // namespace tessarin::identify
