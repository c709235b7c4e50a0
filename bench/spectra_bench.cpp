// Timings of the spectrum readers and the library search.
//
//   spectra_bench make-library OUT.msp N INPUT...
//       N records made from the records of the inputs, in turn, each copy
//       with peaks dropped (1 in 10) and intensities changed by up to 30 %
//       (fixed seed), written as MSP.
//   spectra_bench read FILE
//       reads every record and prints the time.
//   spectra_bench search LIBRARY QUERIES [--queries N] [--threads T] [--top K]
//                 [--method cosine|dot_product|composite] [--check N]
//       loads the library, searches the first N queries (default 1000) and
//       prints the times; --check compares the hits of the first N queries
//       with the exhaustive search.
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <iostream>
#include <random>
#include <string>
#include <vector>

#include "spectra/reader.h"
#include "spectra/search.h"
#include "spectra/writer.h"

namespace sp = tessarin::spectra;

namespace {

double seconds_since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Processor time of the process (all threads) since `start`: on a machine
// shared with other work it shows what the wall-clock time would be alone
// (divided by the threads that ran).
double cpu_since(std::clock_t start) { return static_cast<double>(std::clock() - start) / CLOCKS_PER_SEC; }

int make_library(const std::string& out, std::size_t n, const std::vector<std::string>& inputs) {
  std::vector<sp::Spectrum> sources;
  for (const std::string& path : inputs) {
    std::vector<sp::RecordError> errors;
    std::vector<sp::Spectrum> got = sp::read_spectra(path, std::nullopt, &errors);
    std::cerr << path << ": " << got.size() << " records, " << errors.size() << " refused\n";
    for (sp::Spectrum& s : got) sources.push_back(std::move(s));
  }
  if (sources.empty()) {
    std::cerr << "no records to copy\n";
    return 1;
  }
  std::mt19937 rng(2024);
  std::uniform_real_distribution<double> change(0.7, 1.3);
  sp::SpectrumWriter writer(out, sp::Format::msp);
  for (std::size_t k = 0; k < n; ++k) {
    const sp::Spectrum& src = sources[k % sources.size()];
    sp::Spectrum copy;
    copy.metadata = src.metadata;
    copy.metadata.set(sp::keys::name, src.name() + " #" + std::to_string(k));
    for (std::size_t i = 0; i < src.size(); ++i) {
      if (k >= sources.size() && rng() % 10 == 0) continue;
      copy.mz.push_back(src.mz[i]);
      copy.intensities.push_back(k >= sources.size() ? std::round(src.intensities[i] * change(rng))
                                                     : src.intensities[i]);
      copy.annotations.push_back(src.annotations[i]);
    }
    writer.write(copy);
  }
  writer.close();
  std::cerr << "wrote " << n << " records to " << out << "\n";
  return 0;
}

int read_file(const std::string& path) {
  const auto start = std::chrono::steady_clock::now();
  const std::clock_t cpu = std::clock();
  sp::SpectrumReader reader(path);
  sp::Spectrum s;
  std::size_t records = 0;
  std::size_t peaks = 0;
  std::size_t errors = 0;
  for (;;) {
    try {
      if (!reader.next(s)) break;
      ++records;
      peaks += s.size();
    } catch (const sp::RecordError&) {
      ++errors;
    }
  }
  const double t = seconds_since(start);
  std::cout << "read " << records << " records (" << peaks << " peaks, " << errors << " refused) from " << path
            << " in " << t << " s (processor " << cpu_since(cpu) << " s): " << static_cast<double>(records) / t
            << " records/s\n";
  return 0;
}

int search(const std::string& library_path, const std::string& query_path, std::size_t n_queries,
           const sp::SearchOptions& options, std::size_t check) {
  auto start = std::chrono::steady_clock::now();
  std::clock_t cpu = std::clock();
  std::vector<sp::RecordError> errors;
  const sp::SpectralLibrary library = sp::SpectralLibrary::read(library_path, std::nullopt, &errors);
  std::cout << "library: " << library.size() << " spectra, " << library.peak_count() << " peaks, read in "
            << seconds_since(start) << " s (processor " << cpu_since(cpu) << " s)\n";
  std::vector<sp::Spectrum> queries = sp::read_spectra(query_path, std::nullopt, &errors);
  if (queries.size() > n_queries) queries.resize(n_queries);

  start = std::chrono::steady_clock::now();
  cpu = std::clock();
  (void)library.search(
      std::vector<sp::Spectrum>(queries.begin(), queries.begin() + std::min<std::size_t>(1, queries.size())), options);
  std::cout << "index built in " << seconds_since(start) << " s (processor " << cpu_since(cpu) << " s)\n";

  start = std::chrono::steady_clock::now();
  cpu = std::clock();
  const std::vector<sp::QueryHits> results = library.search(queries, options);
  const double t = seconds_since(start);
  const double t_cpu = cpu_since(cpu);
  std::size_t hits = 0;
  for (const auto& r : results) hits += r.hits.size();
  std::cout << queries.size() << " queries (" << sp::method_name(options.similarity.method) << ", top " << options.top
            << ", " << options.threads << " threads): " << t << " s (processor " << t_cpu << " s), "
            << static_cast<double>(queries.size()) / t << " queries/s, " << hits << " hits\n";

  if (check > 0) {
    start = std::chrono::steady_clock::now();
    std::size_t differ = 0;
    for (std::size_t q = 0; q < std::min(check, queries.size()); ++q) {
      if (library.search_exhaustive(queries[q], options).hits != results[q].hits) ++differ;
    }
    std::cout << "exhaustive search of " << std::min(check, queries.size()) << " queries: " << seconds_since(start)
              << " s, " << differ << " differ\n";
    if (differ) return 1;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  try {
    if (args.size() >= 4 && args[0] == "make-library") {
      return make_library(args[1], std::stoul(args[2]), std::vector<std::string>(args.begin() + 3, args.end()));
    }
    if (args.size() == 2 && args[0] == "read") return read_file(args[1]);
    if (args.size() >= 3 && args[0] == "search") {
      sp::SearchOptions options;
      options.threads = 2;
      std::size_t n_queries = 1000;
      std::size_t check = 0;
      for (std::size_t i = 3; i + 1 < args.size(); i += 2) {
        if (args[i] == "--queries") n_queries = std::stoul(args[i + 1]);
        if (args[i] == "--threads") options.threads = static_cast<unsigned>(std::stoul(args[i + 1]));
        if (args[i] == "--top") options.top = std::stoul(args[i + 1]);
        if (args[i] == "--check") check = std::stoul(args[i + 1]);
        if (args[i] == "--method") {
          const auto m = sp::method_named(args[i + 1]);
          if (!m) throw std::invalid_argument("unknown method " + args[i + 1]);
          options.similarity.method = *m;
        }
      }
      return search(args[1], args[2], n_queries, options, check);
    }
  } catch (const std::exception& e) {
    std::cerr << "spectra_bench: " << e.what() << "\n";
    return 2;
  }
  std::cerr << "usage: spectra_bench make-library OUT.msp N INPUT... | read FILE | search LIBRARY QUERIES [options]\n";
  return 2;
}
