// Timings of the drivers that score predictions against measured spectra.
//
//   identify_bench evaluate SPECTRA [--jobs N] [--ring] [--recursive]
//                  [--max-generations N] [--table OUT.tsv]
//       predicts the structure of every spectrum of SPECTRA, measures the
//       predictions and the identification among isobaric candidates, and
//       prints the time of each phase and the summary.
//   identify_bench search LIBRARY QUERIES [--queries N] [--jobs N] [--top K]
//       reads the library, then searches the first N query records (default
//       1000) through the query driver, in batches, and prints the times.
#include <chrono>
#include <ctime>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "identify/evaluate.h"
#include "identify/library_search.h"
#include "identify/tables.h"
#include "spectra/reader.h"
#include "spectra/search.h"
#include "spectra/writer.h"

namespace id = tessarin::identify;
namespace sp = tessarin::spectra;

namespace {

using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

// Processor time of the process (all threads): on a machine shared with
// other work it shows what the wall-clock time would be alone.
double cpu_since(std::clock_t start) { return static_cast<double>(std::clock() - start) / CLOCKS_PER_SEC; }

std::string option(std::vector<std::string>& args, const std::string& name, const std::string& fallback) {
  for (std::size_t i = 0; i + 1 < args.size(); ++i) {
    if (args[i] == name) {
      std::string v = args[i + 1];
      args.erase(args.begin() + static_cast<long>(i), args.begin() + static_cast<long>(i) + 2);
      return v;
    }
  }
  return fallback;
}

bool flag(std::vector<std::string>& args, const std::string& name) {
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (args[i] == name) {
      args.erase(args.begin() + static_cast<long>(i));
      return true;
    }
  }
  return false;
}

int evaluate(std::vector<std::string> args) {
  id::EvaluateOptions options;
  options.run.jobs = static_cast<unsigned>(std::stoul(option(args, "--jobs", "2")));
  options.run.prediction.analysis.ring_fragmentation = flag(args, "--ring");
  options.run.prediction.analysis.recursive = flag(args, "--recursive");
  options.run.prediction.analysis.max_generations = std::stoi(option(args, "--max-generations", "2"));
  const std::string table = option(args, "--table", "");
  if (args.size() != 1) {
    std::cerr << "usage: identify_bench evaluate SPECTRA [--jobs N] [--ring] [--recursive] [--table OUT]\n";
    return 2;
  }
  const auto start = Clock::now();
  const std::clock_t cpu = std::clock();
  std::size_t refused = 0;
  const id::Evaluation ev = id::evaluate_files({args[0]}, options, [&refused](const sp::RecordError&) { ++refused; });
  const double wall = seconds_since(start);
  std::cout << "evaluate " << args[0] << ": " << ev.spectra.size() << " spectra (" << refused << " refused), "
            << ev.structures << " structures, jobs " << options.run.jobs << ": " << wall << " s (processor "
            << cpu_since(cpu) << " s)\n";
  std::cout << "  reading " << ev.times.reading << " s, structures " << ev.times.structures << " s, prediction "
            << ev.times.prediction << " s, scoring " << ev.times.scoring << " s\n";
  std::cout << id::evaluation_summary(ev, options);
  if (!table.empty()) {
    std::ofstream out(table);
    out << id::evaluation_header();
    for (const id::EvaluatedSpectrum& e : ev.spectra) out << id::evaluation_row(e);
  }
  return 0;
}

int search(std::vector<std::string> args) {
  id::QuerySearch search;
  const std::size_t limit = std::stoul(option(args, "--queries", "1000"));
  search.options.threads = static_cast<unsigned>(std::stoul(option(args, "--jobs", "2")));
  search.options.top = std::stoul(option(args, "--top", "10"));
  if (args.size() != 2) {
    std::cerr << "usage: identify_bench search LIBRARY QUERIES [--queries N] [--jobs N] [--top K]\n";
    return 2;
  }
  auto start = Clock::now();
  std::clock_t cpu = std::clock();
  std::vector<sp::RecordError> errors;
  const sp::SpectralLibrary library = sp::SpectralLibrary::read(args[0], std::nullopt, &errors);
  std::cout << "library " << args[0] << ": " << library.size() << " spectra, " << library.peak_count() << " peaks, "
            << errors.size() << " refused: " << seconds_since(start) << " s (processor " << cpu_since(cpu) << " s)\n";

  // The first `limit` queries, in a file of their own.
  const std::string queries = "/tmp/identify_bench_queries.msp";
  {
    sp::SpectrumReader reader(args[1]);
    sp::SpectrumWriter writer(queries, sp::Format::msp);
    sp::Spectrum s;
    std::size_t n = 0;
    while (n < limit) {
      try {
        if (!reader.next(s)) break;
      } catch (const sp::RecordError&) {
        continue;
      }
      writer.write(s);
      ++n;
    }
    writer.close();
  }
  search.queries = {queries};
  std::size_t hits = 0;
  search.result = [&hits](const id::QueryResult& q) { hits += q.hits.size(); };
  start = Clock::now();
  cpu = std::clock();
  const id::QuerySearchSummary summary = id::search_queries(library, search);
  std::cout << "search: " << summary.queries << " queries, " << hits << " hits, threads " << search.options.threads
            << ": " << seconds_since(start) << " s (processor " << cpu_since(cpu) << " s)\n";
  std::remove(queries.c_str());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.empty()) {
    std::cerr << "usage: identify_bench evaluate|search ...\n";
    return 2;
  }
  const std::string mode = args.front();
  args.erase(args.begin());
  if (mode == "evaluate") return evaluate(args);
  if (mode == "search") return search(args);
  std::cerr << "unknown mode " << mode << "\n";
  return 2;
}
