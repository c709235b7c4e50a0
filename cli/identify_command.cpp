// tessarin identify SPECTRUM --candidates FILE: every candidate structure
// predicted and ranked by its score against a measured spectrum.
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <optional>
#include <string>

#include "batch/writers.h"
#include "commands.h"
#include "common.h"
#include "core/errors.h"
#include "core/number_format.h"
#include "identify/candidate_index.h"
#include "identify/pubchem_candidates.h"
#include "identify/rank.h"
#include "identify/tables.h"
#include "plot.h"
#include "progress.h"
#include "pubchem/reply_cache.h"
#include "pubchem/request.h"
#include "run/input.h"
#include "spectra/molecular_mass.h"
#include "spectra/reader.h"
#include "table_output.h"

namespace tessarin::cli {
namespace {

struct IdentifyArguments {
  SpectrumChoice spectrum;
  std::string candidates;
  std::string output = "-";
  std::optional<int> mass;
  bool auto_mass = false;  // --mass auto
  bool same_mass = false;
  bool full_range = false;
  std::string pubchem_rest;
  std::string pubchem_cache;
  std::optional<std::string> formula;
  std::size_t top = 0;  // 0: every candidate
  std::string plot;
  std::size_t plot_count = 3;
  bool annotate = false;
  identify::RankOptions rank;
};

}  // namespace

spectra::Spectrum read_record(const std::string& path, std::size_t n) {
  std::optional<spectra::SpectrumReader> reader;
  try {
    reader.emplace(path);
  } catch (const InvalidInput& e) {
    throw UsageError(e.what());
  }
  spectra::Spectrum s;
  std::size_t k = 1;
  for (;; ++k) {
    try {
      if (!reader->next(s)) break;
    } catch (const spectra::RecordError& e) {
      if (k == n) throw UsageError(std::string("the spectrum cannot be read: ") + e.what());
      continue;
    }
    if (k == n) return s;
  }
  if (k == 1) throw UsageError(path + " holds no spectrum");
  throw UsageError("--record " + std::to_string(n) + ": " + path + " holds only " + std::to_string(k - 1) +
                   (k == 2 ? " spectrum" : " spectra"));
}

namespace {

constexpr std::string_view kPubChem = "pubchem";

void say_masses(const char* what, const std::vector<identify::MassPrior>& masses) {
  std::cerr << "tessarin: " << what << ':';
  for (const identify::MassPrior& m : masses)
    std::cerr << ' ' << m.mass << " (" << core::format_fixed(m.score, 3) << ')';
  std::cerr << '\n';
}

// The masses --mass auto asks for candidates of: PubChem's of the plausible
// hypotheses of the peaks, a file's of the first identify::kSearchedMasses
// (the candidates' predictions then choose among them).
std::vector<identify::MassPrior> estimated_masses(const spectra::Spectrum& measured, bool from_pubchem) {
  try {
    if (!from_pubchem) return identify::searched_masses(measured);
    std::vector<identify::MassPrior> masses = identify::plausible_masses(spectra::estimate_molecular_mass(measured));
    say_masses("plausible molecular masses of the peaks", masses);
    return masses;
  } catch (const InvalidInput& e) {
    throw UsageError(std::string("--mass auto: ") + e.what());
  }
}

// The candidates of the formula, the mass or each hypothesis's mass from
// PubChem, one per parent structure; what was found and kept said on
// standard error.
std::vector<identify::Candidate> pubchem_candidates(const IdentifyArguments& args) {
  const identify::CandidateFilter& filter = args.rank.filter;
  std::vector<identify::PubChemQuery> queries;
  if (filter.formula) {
    queries.push_back({filter.formula, std::nullopt, {}, 100});
  } else if (filter.nominal_mass) {
    queries.push_back({std::nullopt, filter.nominal_mass, {}, 100});
  } else {
    for (const identify::MassPrior& m : args.rank.mass_hypotheses) queries.push_back({std::nullopt, m.mass, {}, 100});
  }
  if (queries.empty()) throw UsageError("--candidates pubchem needs --formula, --mass or --same-mass");
  pubchem::SearchOptions options;
  options.base = args.pubchem_rest;
  options.cache_dir = args.pubchem_cache;
  options.keep_going = [] { return !stop_requested().load(); };
  std::vector<identify::Candidate> all;
  identify::CandidateCounts counts;
  std::size_t formulas = 0;
  std::size_t requests = 0;
  std::size_t cached = 0;
  try {
    for (const identify::PubChemQuery& q : queries) {
      identify::PubChemCandidates found = identify::pubchem_candidates(q, options);
      all.insert(all.end(), found.candidates.begin(), found.candidates.end());
      counts.found += found.counts.found;
      counts.kept += found.counts.kept;
      counts.duplicates += found.counts.duplicates;
      counts.salts += found.counts.salts;
      counts.unparsable += found.counts.unparsable;
      counts.other_formula += found.counts.other_formula;
      formulas += found.formulas.size();
      requests += found.requests;
      cached += found.cache_hits;
      for (const std::string& f : found.truncated) {
        std::cerr << "tessarin: PubChem: the reply for " << f << " was cut at 1000 compounds; there may be more\n";
      }
    }
  } catch (const pubchem::TransferCancelled&) {
    std::cerr << "tessarin: interrupted (" << stop_signal_name() << "); nothing was identified\n";
    std::_Exit(stop_exit_status());
  } catch (const std::exception& e) {  // faults, busy service, time-outs, transfers that failed
    const std::string what = e.what();
    throw UsageError(what.starts_with("PubChem") ? what : "PubChem: " + what);
  }
  std::cerr << "tessarin: PubChem: " << counts.found << " compounds found for " << formulas << " formulas, "
            << counts.kept << " candidates kept (" << counts.duplicates << " duplicates, " << counts.salts
            << " salts or charged forms, " << counts.unparsable << " unreadable, " << counts.other_formula
            << " of another formula); " << requests << " requests, " << cached << " formulas from the cache\n";
  return all;
}

// The candidates of a file of the filter's (or the hypotheses') masses and
// formula, read once into an index: only those are predicted.
std::vector<identify::Candidate> indexed_candidates(const IdentifyArguments& args,
                                                    std::vector<identify::FailedMolecule>& failed,
                                                    std::size_t& indexed) {
  const identify::CandidateFilter& filter = args.rank.filter;
  std::optional<identify::CandidateIndex> index;
  try {
    index.emplace(args.candidates, false, [] { return !stop_requested().load(); });
  } catch (const identify::IndexingStopped&) {
    std::cerr << "tessarin: interrupted (" << stop_signal_name() << "); nothing was identified\n";
    std::_Exit(stop_exit_status());
  } catch (const InvalidInput& e) {  // a file that cannot be used (its message names it)
    throw UsageError(e.what());
  } catch (const std::runtime_error& e) {
    throw UsageError(args.candidates + ": " + e.what());
  }
  failed = index->failed();
  indexed = index->size();
  std::vector<identify::Candidate> out;
  if (args.rank.mass_hypotheses.empty()) {
    out = index->find(filter.nominal_mass, filter.formula);
  } else {
    for (const identify::MassPrior& m : args.rank.mass_hypotheses) {
      if (filter.nominal_mass && *filter.nominal_mass != m.mass) continue;
      std::vector<identify::Candidate> found = index->find(m.mass, filter.formula);
      out.insert(out.end(), found.begin(), found.end());
    }
    std::stable_sort(out.begin(), out.end(),
                     [](const identify::Candidate& a, const identify::Candidate& b) { return a.line < b.line; });
  }
  return out;
}

int run_identify(IdentifyArguments& args) {
  if (!args.plot.empty()) check_output_path("--plot", args.plot);
  const spectra::Spectrum measured = read_record(args.spectrum.path, args.spectrum.record);
  identify::CandidateFilter& filter = args.rank.filter;
  filter.nominal_mass = args.mass;
  args.rank.score.measured_range = !args.full_range;
  if (args.same_mass) {
    filter.nominal_mass = identify::molecular_ion_mass(measured);
    if (!filter.nominal_mass) {
      throw UsageError(
          "--same-mass: the spectrum gives no molecular mass (MW, exact mass, precursor m/z or formula); use --mass");
    }
  }
  filter.formula = args.formula;
  try {
    filter.check();
  } catch (const InvalidInput& e) {
    throw UsageError(std::string("--formula: ") + e.what());
  }
  const bool from_pubchem = args.candidates == kPubChem;
  if (!from_pubchem && args.candidates != "-" && args.output != "-" && same_file(args.candidates, args.output)) {
    throw UsageError("the output would overwrite the candidates " + args.candidates);
  }
  install_stop_handler();
  if (args.auto_mass) args.rank.mass_hypotheses = estimated_masses(measured, from_pubchem);
  // The candidates: PubChem's, those of an index of the file when a mass or
  // formula picks a few of them, else the file read as it is predicted.
  std::unique_ptr<run::MoleculeFile> candidates;
  std::vector<identify::Candidate> picked;
  std::vector<identify::FailedMolecule> unread;
  std::size_t indexed = 0;  // molecules of the file the index read (the filter then kept `picked`)
  identify::MoleculeSource source;
  if (from_pubchem) {
    picked = pubchem_candidates(args);
    source = identify::candidate_source(picked);
  } else if (args.candidates != "-" && (filter.active() || args.auto_mass)) {
    picked = indexed_candidates(args, unread, indexed);
    source = identify::candidate_source(picked);
  } else {
    try {
      candidates = std::make_unique<run::MoleculeFile>(args.candidates);
    } catch (const InvalidInput& e) {
      throw UsageError(e.what());
    }
    source = [&candidates](run::MoleculeInput& m) { return candidates->next(m); };
  }
  TableOutput out(args.output, batch::error_header());

  const bool show_progress = ::isatty(STDERR_FILENO) == 1;
  ProgressBar bar(stderr, std::nullopt);
  args.rank.run.cancel = &stop_requested();
  if (show_progress) args.rank.run.progress = [&bar](const run::BatchProgress& p) { bar.update(p); };
  identify::Ranking ranking;
  try {
    ranking = identify::rank_candidates(measured, source, args.rank);
  } catch (const InvalidInput& e) {
    bar.finish();
    throw UsageError(args.candidates + ": " + e.what());
  }
  bar.finish();
  if (indexed > picked.size()) ranking.filtered_out += indexed - picked.size();
  if (args.auto_mass && !ranking.rows.empty() && !ranking.cancelled) {
    say_masses("plausible molecular masses (the peaks, with the candidates' predictions as evidence)",
               identify::candidates_across_masses(measured, ranking));
  }
  if (ranking.rows.empty() && ranking.failed.empty() && unread.empty() && !ranking.cancelled) {
    // nothing to rank: said before any table is written
    const std::string file = args.candidates == "-" ? std::string("standard input") : args.candidates;
    if (ranking.filtered_out == 0) throw UsageError("no candidate to rank: " + file + " holds no molecule");
    throw UsageError("no candidate to rank: " +
                     (ranking.filtered_out == 1
                          ? "the one molecule of " + file + " does not have"
                          : "none of the " + std::to_string(ranking.filtered_out) + " molecules of " + file + " has") +
                     " the mass or formula asked for");
  }

  out.write(identify::ranking_header(args.auto_mass));
  const std::size_t shown = args.top == 0 ? ranking.rows.size() : std::min(args.top, ranking.rows.size());
  for (std::size_t k = 0; k < shown; ++k) out.write(identify::ranking_row(ranking.rows[k], args.auto_mass));
  // Molecules the index could not read, then those that could not be predicted, by line.
  ranking.failed.insert(ranking.failed.begin(), unread.begin(), unread.end());
  std::stable_sort(
      ranking.failed.begin(), ranking.failed.end(),
      [](const identify::FailedMolecule& a, const identify::FailedMolecule& b) { return a.line < b.line; });
  for (const identify::FailedMolecule& f : ranking.failed) out.error(batch::error_row(f.line, f.smiles, f.reason));
  out.close();

  int status = ranking.failed.empty() ? kExitOk : kExitFailed;
  if (!args.plot.empty() && !ranking.cancelled) {
    std::vector<spectra::Spectrum> best;
    for (std::size_t k = 0; k < ranking.rows.size() && k < args.plot_count; ++k) {
      spectra::Spectrum p = ranking.rows[k].predicted;
      const std::string name = ranking.rows[k].name.empty() ? ranking.rows[k].smiles : ranking.rows[k].name;
      p.metadata.set(spectra::keys::name, "#" + std::to_string(ranking.rows[k].rank) + " " + name);
      best.push_back(std::move(p));
    }
    if (best.empty()) {
      std::cerr << "tessarin: no candidate to plot\n";
      status = kExitFailed;
    } else if (!mirror_plots_drawn(measured, best, args.rank.score, args.plot, args.annotate)) {
      status = kExitFailed;
    }
  }
  if (!ranking.failed.empty()) {
    std::cerr << "tessarin: " << ranking.failed.size() << " candidates could not be predicted (see "
              << out.errors_place() << ")\n";
  }
  if (ranking.cancelled) {
    std::cerr << "tessarin: interrupted; the table ranks the " << ranking.rows.size() << " candidates predicted\n";
    std::fflush(stdout);
    std::cerr.flush();
    std::_Exit(stop_exit_status());  // the reader may still be blocked reading standard input
  }
  return status;
}

}  // namespace

Command add_identify_command(CLI::App& program) {
  auto args = std::make_shared<IdentifyArguments>();
  args->rank.score = {};  // the method's powers: for the cosine, square-rooted intensities
  args->rank.run.prediction.model = prediction::Model::ei;  // the model that identifies best
  CLI::App* command = add_command(
      program, "identify", "Rank candidate structures by how well their predicted spectra match a measured one.");
  add_spectrum_options(*command, args->spectrum);
  command
      ->add_option("--candidates", args->candidates,
                   "SMILES, SDF, or CSV/TSV file with a SMILES column (gzip too); - stdin; pubchem: PubChem's "
                   "compounds of --formula or --mass")
      ->type_name("FILE")
      ->check(not_empty())
      ->required();
  command->add_option("-o,--output", args->output, "table of the ranked candidates; - standard output")
      ->type_name("OUTPUT")
      ->check(not_empty())
      ->capture_default_str();
  command->add_option("--top", args->top, "rows of the table; 0: every candidate")
      ->type_name("N")
      ->check(whole_number(0, 1'000'000'000))
      ->capture_default_str();
  auto* mass =
      command
          ->add_option_function<std::string>(
              "--mass",
              [args](const std::string& m) {
                if (m == "auto") {
                  args->auto_mass = true;
                } else {
                  args->mass = std::stoi(m);
                }
              },
              "keep candidates of this nominal mass; auto: of the spectrum's plausible molecular masses, "
              "estimated from its peaks (see below)")
          ->type_name("M")
          ->check(CLI::Validator(
              [](std::string& m) { return m == "auto" ? std::string() : whole_number(1, 1'000'000'000)(m); }, ""));
  command->add_flag("--same-mass", args->same_mass, "keep candidates of the spectrum's molecular mass")->excludes(mass);
  command
      ->add_option_function<std::string>(
          "--formula", [args](const std::string& f) { args->formula = f; }, "keep candidates of this molecular formula")
      ->type_name("FORMULA")
      ->check(not_empty());
  command->add_option("--plot", args->plot, "draw mirror plots of the best candidates into this image (needs Python)")
      ->type_name("FILE")
      ->check(not_empty());
  command->add_option("--plot-count", args->plot_count, "candidates in the plot")
      ->type_name("N")
      ->check(whole_number(1, 20))
      ->capture_default_str();
  command->add_flag("--annotate", args->annotate, "in the plot, name the ions of the measured peaks it explains");
  add_score_options(*command, args->rank.score);
  add_full_range_option(*command, args->full_range);
  command
      ->add_option("--pubchem-rest", args->pubchem_rest,
                   "PubChem's PUG REST compound endpoint (default: $TESSARIN_PUBCHEM_REST, else PubChem's own)")
      ->type_name("URL")
      ->check(not_empty());
  command
      ->add_option("--pubchem-cache", args->pubchem_cache,
                   "where PubChem's replies are kept (default: $TESSARIN_PUBCHEM_CACHE, else "
                   "$XDG_CACHE_HOME/tessarin/pubchem, else ~/.cache/tessarin/pubchem)")
      ->type_name("DIR")
      ->check(not_empty());
  add_model_options(*command, args->rank.run.prediction);
  add_jobs_option(*command, args->rank.run.jobs, "worker threads");
  add_time_limit_option(*command, args->rank.run.time_limit_seconds,
                        "seconds per candidate, checked between analysis steps; 0: no limit");
  command->footer(
      "The table has the columns rank, score, matched (peaks), name, smiles and formula, best first; equal\n"
      "scores share a rank and keep the order of the candidates. Candidates that cannot be predicted go to\n"
      "OUTPUT.errors.tsv (standard error for standard output) and the run goes on. No candidate to rank (an\n"
      "empty file, or none passing --mass, --same-mass or --formula) is said on standard error (exit status 2).\n" +
      std::string(kScoreHelp) +
      "The score counts only the m/z range the measured spectrum covers: predicted peaks below its lowest or\n"
      "above its highest m/z (or outside its scan_range, LOW-HIGH, when it declares one) are left out\n"
      "(--full-range counts them). --mass auto estimates the molecular mass from the peaks alone and predicts\n"
      "a file's candidates of its first 10 hypotheses (PubChem's of its plausible masses: those scoring at\n"
      "least 0.3 times the best, at most 3), estimates the mass again with these predictions as evidence (the\n"
      "mass whose candidates explain the peaks best), keeps the candidates of its plausible masses and ranks\n"
      "them by a score fitted on measured spectra over the mass's score, the similarity and how the candidate\n"
      "explains the spectrum's last 50 m/z; standard error names the masses, and the columns mass_hypothesis,\n"
      "mass_score and rank_score (that fitted score, by which the rows are ordered) follow. With a mass or\n"
      "formula, a candidate file is read once into an index by mass and only the candidates kept are\n"
      "predicted. --candidates pubchem asks PubChem for the compounds of --formula, or of every formula of the\n"
      "mass (the 100 most plausible), one per parent structure (salts and stereoisomers merged), replies kept\n"
      "in the cache so that a rerun asks nothing; standard error says how many were found and kept.\n"
      "exit status: 0 every candidate predicted, 1 some failed or the plot failed, 2 usage, file or PubChem\n"
      "error or nothing to rank, 130 interrupted");
  return {command, [args] {
            if (args->pubchem_rest.empty()) {
              const char* rest = std::getenv("TESSARIN_PUBCHEM_REST");
              args->pubchem_rest = rest && *rest ? rest : std::string(pubchem::kDefaultBase);
            }
            if (args->pubchem_cache.empty()) args->pubchem_cache = pubchem::default_cache_dir();
            return run_identify(*args);
          }};
}

}  // namespace tessarin::cli
