// Searching the query spectra of files against a spectral library: the
// driver behind the command line's `search` and Python's search_library.
// The hits are SpectralLibrary::search's (equal to scoring every entry).
#pragma once

#include <atomic>
#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "spectra/reader.h"
#include "spectra/search.h"
#include "spectra/spectrum.h"

namespace tessarin::identify {

// One query's place and result.
struct QueryResult {
  std::size_t query = 0;  // 0-based, over the records of all query files
  std::string path;       // file and first line of the record
  std::size_t line = 0;
  spectra::Spectrum spectrum;
  std::vector<spectra::Hit> hits;
  std::string error;  // why the query was not searched ("" when it was)
};

using RecordErrorSink = std::function<void(const spectra::RecordError&)>;

struct QuerySearch {
  std::vector<std::string> queries;             // files (or MassBank directories), read one after the other
  std::optional<spectra::Format> query_format;  // default: by extension or content
  spectra::SearchOptions options;               // score, top, threads, ...
  std::size_t batch = 2048;                     // queries searched together
  // Every query, in the order read (calling thread).
  std::function<void(const QueryResult&)> result;
  // Malformed query records; the run goes on. Without it the first one is thrown.
  RecordErrorSink record_error;
  // Checked before each record is read; `after_batch` runs on the calling
  // thread after each batch (a host may set `cancel` there).
  std::atomic<bool>* cancel = nullptr;
  std::function<void()> after_batch;
};

struct QuerySearchSummary {
  std::size_t queries = 0;          // queries read and searched or refused
  std::size_t failed_queries = 0;   // of those, refused (QueryResult::error)
  std::size_t refused_records = 0;  // malformed query records
  bool cancelled = false;           // stopped: the queries of the last batch were not searched
};

// Throws InvalidInput for options out of range or a file that cannot be
// opened or whose format cannot be told, std::runtime_error when reading fails.
QuerySearchSummary search_queries(const spectra::SpectralLibrary& library, const QuerySearch& search);

}  // namespace tessarin::identify
