#include "identify/library_search.h"

#include <algorithm>

#include "core/errors.h"

namespace tessarin::identify {

QuerySearchSummary search_queries(const spectra::SpectralLibrary& library, const QuerySearch& search) {
  search.options.check();
  QuerySearchSummary summary;
  const auto cancelled = [&] { return search.cancel != nullptr && search.cancel->load(); };
  std::vector<spectra::Spectrum> spectra;
  std::vector<QueryResult> pending;
  const std::size_t batch = std::max<std::size_t>(search.batch, 1);
  const auto flush = [&] {
    const std::vector<spectra::QueryHits> found = library.search(spectra, search.options);
    for (std::size_t i = 0; i < pending.size(); ++i) {
      pending[i].spectrum = std::move(spectra[i]);
      pending[i].hits = found[i].hits;
      pending[i].error = found[i].error;
      ++summary.queries;
      if (!pending[i].error.empty()) ++summary.failed_queries;
      if (search.result) search.result(pending[i]);
    }
    spectra.clear();
    pending.clear();
    if (search.after_batch) search.after_batch();
  };

  std::size_t read = 0;
  for (const std::string& path : search.queries) {
    spectra::SpectrumReader reader(path, search.query_format);
    spectra::Spectrum s;
    while (!cancelled()) {
      try {
        if (!reader.next(s)) break;
      } catch (const spectra::RecordError& e) {
        if (!search.record_error) throw;
        ++summary.refused_records;
        search.record_error(e);
        continue;
      }
      QueryResult q;
      q.query = read++;
      q.path = reader.record_path();
      q.line = reader.record_line();
      pending.push_back(std::move(q));
      spectra.push_back(std::move(s));
      s = spectra::Spectrum{};
      if (spectra.size() >= batch) flush();
    }
    if (cancelled()) break;
  }
  summary.cancelled = cancelled();
  if (!summary.cancelled && !spectra.empty()) flush();
  return summary;
}

}  // namespace tessarin::identify
