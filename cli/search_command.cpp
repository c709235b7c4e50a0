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
  std::string library;
  std::string output = "-";
  identify::QuerySearch search;
  std::optional<double> mass_tolerance;
};

int run_search(SearchArguments& args) {
  for (const std::string& q : args.queries) {
    if (args.output != "-" && same_file(q, args.output))
      throw UsageError("the output would overwrite the queries " + q);
  }
  if (args.output != "-" && same_file(args.library, args.output)) {
    throw UsageError("the output would overwrite the library " + args.library);
  }
  args.search.options.mass_tolerance = args.mass_tolerance;
  install_stop_handler();
  TableOutput out(args.output, identify::record_error_header());

  std::vector<spectra::RecordError> refused;
  std::optional<spectra::SpectralLibrary> library;
  try {
    library.emplace(spectra::SpectralLibrary::read(args.library, std::nullopt, &refused));
  } catch (const InvalidInput& e) {
    throw UsageError(e.what());
  }
  for (const spectra::RecordError& e : refused) out.error(identify::record_error_row(e));
  if (library->size() == 0) std::cerr << "tessarin: the library " << args.library << " holds no spectra\n";
  if (stop_requested()) std::_Exit(stop_exit_status());

  out.write(identify::hits_header());
  identify::QuerySearch& search = args.search;
  search.queries = args.queries;
  search.cancel = &stop_requested();
  search.result = [&](const identify::QueryResult& q) {
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
  out.close();
  if (out.errors() > 0) {
    std::cerr << "tessarin: " << out.errors() << " records could not be read or searched (see " << out.errors_place()
              << ")\n";
  }
  if (summary.cancelled) {
    std::cerr << "tessarin: interrupted; the table has the hits of the first " << summary.queries << " queries\n";
    std::fflush(stdout);
    std::cerr.flush();
    std::_Exit(stop_exit_status());
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
  command->add_option("--library", args->library, "spectral library file, measured or made by 'tessarin predict'")
      ->type_name("LIBRARY")
      ->check(not_empty())
      ->required();
  command->add_option("-o,--output", args->output, "table of the hits; - standard output")
      ->type_name("OUTPUT")
      ->check(not_empty())
      ->capture_default_str();
  command->add_option("--top", args->search.options.top, "hits kept per query")
      ->type_name("N")
      ->check(whole_number(1, 1'000'000))
      ->capture_default_str();
  command->add_option("--min-score", args->search.options.min_score, "lowest score of a hit")
      ->type_name("S")
      ->check(finite_number())
      ->capture_default_str();
  command
      ->add_option_function<double>(
          "--mass-tolerance", [args](double d) { args->mass_tolerance = d; },
          "keep entries whose molecular mass is within this of the query's")
      ->type_name("D")
      ->check(finite_number(0.0));
  add_score_options(*command, args->search.options.similarity);
  add_jobs_option(*command, args->search.options.threads, "threads");
  add_scheduler_options(*command, false);
  command->footer(
      "The table has one row per hit: query (1-based), query_name, rank, score, matched (peaks),\n"
      "library_index (1-based), name, smiles, formula. The hits are those of scoring every library entry:\n"
      "entries with at least one matched peak, best first, equal scores in library order. Records that cannot\n"
      "be read, of the library or the queries, go to OUTPUT.errors.tsv (standard error for standard output)\n"
      "and the run goes on.\n"
      "exit status: 0 every record searched, 1 some could not be read or searched, 2 usage or file error,\n"
      "130 interrupted");
  return {command, [args] { return run_search(*args); }};
}

}  // namespace tessarin::cli
