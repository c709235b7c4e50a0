// tessarin identify SPECTRUM --candidates FILE: every candidate structure
// predicted and ranked by its score against a measured spectrum.
#include <unistd.h>

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
#include "identify/rank.h"
#include "identify/tables.h"
#include "plot.h"
#include "progress.h"
#include "run/input.h"
#include "spectra/reader.h"
#include "table_output.h"

namespace tessarin::cli {
namespace {

struct IdentifyArguments {
  std::string spectrum;
  std::size_t record = 1;
  std::string candidates;
  std::string output = "-";
  std::optional<int> mass;
  bool same_mass = false;
  std::optional<std::string> formula;
  std::size_t top = 0;  // 0: every candidate
  std::string plot;
  std::size_t plot_count = 3;
  bool annotate = false;
  identify::RankOptions rank;
};

// Record `n` (1-based) of a spectrum file.
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

int run_identify(IdentifyArguments& args) {
  if (!args.plot.empty()) check_output_path("--plot", args.plot);
  const spectra::Spectrum measured = read_record(args.spectrum, args.record);
  identify::CandidateFilter& filter = args.rank.filter;
  filter.nominal_mass = args.mass;
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
  if (args.candidates != "-" && args.output != "-" && same_file(args.candidates, args.output)) {
    throw UsageError("the output would overwrite the candidates " + args.candidates);
  }
  std::unique_ptr<run::MoleculeFile> candidates;
  try {
    candidates = std::make_unique<run::MoleculeFile>(args.candidates);
  } catch (const InvalidInput& e) {
    throw UsageError(e.what());
  }
  TableOutput out(args.output, batch::error_header());

  const bool show_progress = ::isatty(STDERR_FILENO) == 1;
  ProgressBar bar(stderr, std::nullopt);
  install_stop_handler();
  args.rank.run.cancel = &stop_requested();
  if (show_progress) args.rank.run.progress = [&bar](const run::BatchProgress& p) { bar.update(p); };
  identify::Ranking ranking;
  try {
    ranking = identify::rank_candidates(
        measured, [&candidates](run::MoleculeInput& m) { return candidates->next(m); }, args.rank);
  } catch (const InvalidInput& e) {
    bar.finish();
    throw UsageError(args.candidates + ": " + e.what());
  }
  bar.finish();

  out.write(identify::ranking_header());
  const std::size_t shown = args.top == 0 ? ranking.rows.size() : std::min(args.top, ranking.rows.size());
  for (std::size_t k = 0; k < shown; ++k) out.write(identify::ranking_row(ranking.rows[k]));
  for (const identify::FailedMolecule& f : ranking.failed) out.error(batch::error_row(f.line, f.smiles, f.reason));
  out.close();
  if (ranking.rows.empty() && ranking.failed.empty() && !ranking.cancelled) {
    const std::string file = args.candidates == "-" ? std::string("standard input") : args.candidates;
    if (ranking.filtered_out == 0) throw UsageError("no candidate to rank: " + file + " holds no molecule");
    throw UsageError("no candidate to rank: " +
                     (ranking.filtered_out == 1
                          ? "the one molecule of " + file + " does not have"
                          : "none of the " + std::to_string(ranking.filtered_out) + " molecules of " + file + " has") +
                     " the mass or formula asked for");
  }

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
    } else {
      try {
        draw_mirror_plots(measured, best, args.rank.score, args.plot, args.annotate);
      } catch (const std::exception& e) {
        std::cerr << "tessarin: " << e.what() << '\n';
        status = kExitFailed;
      }
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
  command->add_option("SPECTRUM", args->spectrum, "measured spectrum file (MSP, MassBank, JCAMP-DX, MGF, JSON Lines)")
      ->required();
  command->add_option("--record", args->record, "which spectrum of the file (1: the first)")
      ->type_name("N")
      ->check(whole_number(1, 1'000'000'000))
      ->capture_default_str();
  command->add_option("--candidates", args->candidates, "SMILES, SDF, or CSV/TSV file with a SMILES column; - stdin")
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
  auto* mass = command
                   ->add_option_function<int>(
                       "--mass", [args](int m) { args->mass = m; }, "keep candidates of this nominal mass")
                   ->type_name("M")
                   ->check(whole_number(1, 1'000'000'000));
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
      "exit status: 0 every candidate predicted, 1 some failed or the plot failed, 2 usage or file error or\n"
      "nothing to rank, 130 interrupted");
  return {command, [args] { return run_identify(*args); }};
}

}  // namespace tessarin::cli
