// tessarin search QUERIES --library LIBRARY: each query spectrum against a
// spectral library, the best hits of each in a table.
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "commands.h"
#include "common.h"
#include "core/errors.h"
#include "identify/library_search.h"
#include "identify/tables.h"
#include "scheduler.h"
#include "spectra/search.h"
#include "table_output.h"

namespace tessarin::cli {
namespace {

struct SearchArguments {
  std::vector<std::string> queries;
  std::vector<std::string> libraries;  // one file, or the shards of one library with --scheduler
  std::string output = "-";
  identify::QuerySearch search;
  std::optional<double> mass_tolerance;
  bool auto_mass = false;  // --mass auto
  bool full_range = false;
  SchedulerOptions scheduler;
};

void report_errors(const TableOutput& out) {
  if (out.errors() > 0) {
    std::cerr << "tessarin: " << out.errors() << " records could not be read or searched (see " << out.errors_place()
              << ")\n";
  }
}

nlohmann::json optional_number(const std::optional<double>& value) {
  return value ? nlohmann::json(*value) : nlohmann::json(nullptr);
}

// The search handed to the Dask driver: one task per library shard, the hits
// joined as one search over the shards read as one library would rank them,
// the table and its errors written here as a search on this machine writes
// them.
int run_search_on_cluster(const SearchArguments& args) {
  const spectra::SearchOptions& o = args.search.options;
  const spectra::SimilarityOptions& score = o.similarity;
  const nlohmann::json request = {{"request", "search"},
                                  {"scheduler", args.scheduler.address},
                                  {"queries", args.queries},
                                  {"library", args.libraries},
                                  {"options",
                                   {{"top", o.top},
                                    {"min_score", o.min_score},
                                    {"mass_tolerance", optional_number(o.mass_tolerance)},
                                    {"method", std::string(spectra::method_name(score.method))},
                                    {"tolerance", score.tolerance},
                                    {"mz_power", optional_number(score.mz_power)},
                                    {"intensity_power", optional_number(score.intensity_power)},
                                    {"reverse", score.reverse},
                                    {"measured_range", score.measured_range},
                                    {"jobs", o.threads == 0 ? nlohmann::json(nullptr) : nlohmann::json(o.threads)}}}};
  install_stop_handler();
  TableOutput out(args.output, identify::record_error_header());
  const DriverReply driver = run_on_scheduler(request);
  if (stop_requested().load()) {
    out.close();
    std::cerr << "tessarin: interrupted (" << stop_signal_name() << "); nothing was searched\n";
    return stop_exit_status();
  }
  if (!driver.reply) {
    out.close();
    return driver.status == kExitOk ? kExitUsage : driver.status;
  }
  const auto error_of = [](const nlohmann::json& e) {
    return spectra::RecordError(e.at(0).get<std::string>(), e.at(1).get<std::size_t>(), e.at(2).get<std::string>());
  };
  try {
    const nlohmann::json& reply = *driver.reply;
    for (const nlohmann::json& e : reply.at("library_errors")) out.error(identify::record_error_row(error_of(e)));
    if (reply.at("library_size").get<std::size_t>() == 0) {
      out.close();
      std::cerr << "tessarin: nothing to search: the library holds no spectrum\n";
      return kExitUsage;
    }
    if (reply.at("queries").empty() && reply.at("query_errors").empty()) {
      out.close();
      throw UsageError(
          "nothing to search: " +
          (args.queries.size() == 1 ? args.queries.front() + " holds" : std::string("the query files hold")) +
          " no spectrum");
    }
    out.write(identify::hits_header());
    for (const nlohmann::json& e : reply.at("query_errors")) out.error(identify::record_error_row(error_of(e)));
    std::size_t i = 0;
    for (const nlohmann::json& q : reply.at("queries")) {
      identify::QueryResult result;
      result.query = i++;
      result.path = q.at("path").get<std::string>();
      result.line = q.at("line").get<std::size_t>();
      result.spectrum.metadata.set(spectra::keys::name, q.at("name").get<std::string>());
      if (q.at("error").is_string()) result.error = q.at("error").get<std::string>();
      std::vector<spectra::Metadata> entries;
      for (const nlohmann::json& h : q.at("hits")) {
        result.hits.push_back({h.at(0).get<std::size_t>(), h.at(1).get<double>(), h.at(2).get<std::size_t>()});
        spectra::Metadata& m = entries.emplace_back();
        m.set(spectra::keys::name, h.at(3).get<std::string>());
        m.set(spectra::keys::smiles, h.at(4).get<std::string>());
        m.set(spectra::keys::formula, h.at(5).get<std::string>());
      }
      if (!result.error.empty()) {
        out.error(identify::record_error_row(
            spectra::RecordError(result.path, result.line, "not searched: " + result.error)));
      }
      std::vector<const spectra::Metadata*> pointers;
      for (const spectra::Metadata& m : entries) pointers.push_back(&m);
      out.write(identify::hits_rows(result, pointers));
    }
  } catch (const nlohmann::json::exception& e) {
    out.close();
    std::cerr << "tessarin: the Dask driver's reply is not a search's: " << e.what() << '\n';
    return kExitUsage;
  }
  out.close();
  report_errors(out);
  return out.errors() > 0 ? kExitFailed : kExitOk;
}

int run_search(SearchArguments& args) {
  for (const std::string& q : args.queries) {
    if (args.output != "-" && same_file(q, args.output))
      throw UsageError("the output would overwrite the queries " + q);
  }
  for (const std::string& library : args.libraries) {
    if (args.output != "-" && same_file(library, args.output)) {
      throw UsageError("the output would overwrite the library " + library);
    }
  }
  args.search.options.mass_tolerance = args.mass_tolerance;
  args.search.options.similarity.measured_range = !args.full_range;
  args.search.mass_hypotheses = args.auto_mass;
  if (args.auto_mass && !args.scheduler.address.empty()) throw UsageError("--mass auto does not run with --scheduler");
  try {
    args.search.options.check();
  } catch (const InvalidInput& e) {
    throw UsageError(e.what());
  }
  if (!args.scheduler.address.empty()) return run_search_on_cluster(args);
  if (args.libraries.size() != 1) throw UsageError("--library is given once, or once per shard with --scheduler");
  const std::string& library_path = args.libraries.front();
  install_stop_handler();
  TableOutput out(args.output, identify::record_error_header());

  std::vector<spectra::RecordError> refused;
  std::optional<spectra::SpectralLibrary> library;
  try {
    library.emplace(spectra::SpectralLibrary::read(library_path, std::nullopt, &refused));
  } catch (const InvalidInput& e) {
    throw UsageError(e.what());
  }
  for (const spectra::RecordError& e : refused) out.error(identify::record_error_row(e));
  if (library->size() == 0) {
    out.close();
    throw UsageError("nothing to search: the library " + library_path + " holds no spectrum");
  }
  if (stop_requested()) std::_Exit(stop_exit_status());

  // The table's header comes with its first query, so that query files
  // holding no spectrum leave no table begun.
  bool header_written = false;
  const auto header = [&] {
    if (!header_written) out.write(identify::hits_header(args.auto_mass));
    header_written = true;
  };
  identify::QuerySearch& search = args.search;
  search.queries = args.queries;
  search.cancel = &stop_requested();
  search.result = [&](const identify::QueryResult& q) {
    header();
    if (!q.error.empty()) {
      out.error(identify::record_error_row(spectra::RecordError(q.path, q.line, "not searched: " + q.error)));
    }
    out.write(identify::hits_rows(*library, q));
  };
  search.record_error = [&](const spectra::RecordError& e) { out.error(identify::record_error_row(e)); };
  identify::QuerySearchSummary summary;
  try {
    summary = identify::search_queries(*library, search);
  } catch (const InvalidInput& e) {
    out.close();
    throw UsageError(e.what());
  }
  if (summary.queries > 0 || summary.refused_records > 0 || summary.cancelled) header();
  out.close();
  report_errors(out);
  if (summary.cancelled) {
    std::cerr << "tessarin: interrupted; the table has the hits of the first " << summary.queries << " queries\n";
    std::fflush(stdout);
    std::cerr.flush();
    std::_Exit(stop_exit_status());
  }
  if (summary.queries == 0 && summary.refused_records == 0) {
    throw UsageError(
        "nothing to search: " +
        (args.queries.size() == 1 ? args.queries.front() + " holds" : std::string("the query files hold")) +
        " no spectrum");
  }
  return out.errors() > 0 ? kExitFailed : kExitOk;
}

}  // namespace

Command add_search_command(CLI::App& program) {
  auto args = std::make_shared<SearchArguments>();
  CLI::App* command = add_command(program, "search", "Search query spectra against a spectral library.");
  command->add_option("QUERIES", args->queries, "query spectrum files (MSP, MassBank, JCAMP-DX, MGF, JSON Lines)")
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll)
      ->required();
  command
      ->add_option("--library", args->libraries,
                   "spectral library file, measured or made by 'tessarin predict' (with --scheduler: once per shard, "
                   "in library order)")
      ->type_name("LIBRARY")
      ->check(not_empty())
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll)
      ->required();
  command->add_option("-o,--output", args->output, "table of the hits; - standard output")
      ->type_name("OUTPUT")
      ->check(not_empty())
      ->capture_default_str();
  command->add_option("--top", args->search.options.top, "hits kept per query; 0: every hit")
      ->type_name("N")
      ->check(whole_number(0, 1'000'000))
      ->capture_default_str();
  command->add_option("--min-score", args->search.options.min_score, "lowest score of a hit")
      ->type_name("S")
      ->check(finite_number())
      ->capture_default_str();
  auto* tolerance = command
                        ->add_option_function<double>(
                            "--mass-tolerance", [args](double d) { args->mass_tolerance = d; },
                            "keep entries whose molecular mass is within this of the query's")
                        ->type_name("D")
                        ->check(finite_number(0.0));
  command
      ->add_option_function<std::string>(
          "--mass", [args](const std::string&) { args->auto_mass = true; },
          "auto: search each query among the entries of its plausible molecular masses, estimated from its peaks "
          "(see below)")
      ->type_name("MASS")
      ->check(CLI::Validator([](std::string& m) { return m == "auto" ? std::string() : "only auto is known"; }, ""))
      ->excludes(tolerance);
  add_score_options(*command, args->search.options.similarity);
  command->add_flag("--full-range", args->full_range,
                    "score the library's peaks outside the query's m/z range too (see below)");
  add_jobs_option(*command, args->search.options.threads, "threads");
  add_scheduler_options(*command, args->scheduler, false);
  command->footer(
      "The table has one row per hit: query (1-based), query_name, rank, score, matched (peaks),\n"
      "library_index (1-based), name, smiles, formula. The hits are those of scoring every library entry:\n"
      "entries with at least one matched peak, best first, equal scores in library order. Records that cannot\n"
      "be read, of the library or the queries, go to OUTPUT.errors.tsv (standard error for standard output)\n"
      "and the run goes on. The library's spectra are compared as they are: search predicts nothing (make a\n"
      "predicted library with 'tessarin predict', whose --model chooses its spectra).\n" +
      std::string(kScoreHelp) +
      "The score counts only the m/z range the query covers: library peaks below its lowest or above its\n"
      "highest m/z (or outside its scan_range, LOW-HIGH, when it declares one) are left out (--full-range\n"
      "counts them). --mass auto estimates each query's molecular mass from its peaks alone (with the\n"
      "library's best match of each mass as evidence), searches the entries within 0.5 of each plausible\n"
      "mass (those scoring at least 0.3 times the best, at most 3) and ranks every hit across them by a score\n"
      "fitted on measured spectra over the mass's score, the similarity and how the entry explains the\n"
      "query's last 50 m/z; the columns mass_hypothesis, mass_score and rank_score (that fitted score, by\n"
      "which the rows are ordered) follow.\n"
      "exit status: 0 every record searched, 1 some could not be read or searched, 2 usage or file error or\n"
      "nothing to search (a library or queries without spectra), 130 interrupted");
  return {command, [args] { return run_search(*args); }};
}

}  // namespace tessarin::cli
