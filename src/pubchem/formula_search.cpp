#include "pubchem/formula_search.h"

#include <cmath>
#include <thread>

#include "core/errors.h"
#include "core/number_format.h"

namespace tessarin::pubchem {
namespace {

void check_seconds(double seconds, const char* what, bool zero_allowed) {
  if (!std::isfinite(seconds) || seconds < 0 || (!zero_allowed && seconds == 0)) {
    throw InvalidInput(std::string(what) + " must be a " + (zero_allowed ? "non-negative" : "positive") +
                       ", finite number of seconds, got " + core::float_repr(seconds));
  }
}

}  // namespace

void SearchOptions::check() const {
  check_seconds(timeout_seconds, "timeout", false);
  check_seconds(wait_seconds, "wait", true);
  check_seconds(min_interval_seconds, "the interval between requests", true);
  if (max_records < 1 || max_records > 100'000) {
    throw InvalidInput("max_records must be from 1 to 100000, got " + std::to_string(max_records));
  }
  if (max_polls < 1 || max_polls > 10'000) {
    throw InvalidInput("max_polls must be from 1 to 10000, got " + std::to_string(max_polls));
  }
  if (max_retries < 0 || max_retries > 100) {
    throw InvalidInput("max_retries must be from 0 to 100, got " + std::to_string(max_retries));
  }
}

FormulaSearch::FormulaSearch(SearchOptions options) : options_(std::move(options)), cache_(options_.cache_dir) {
  options_.check();
}

void FormulaSearch::pause(double seconds) const {
  const auto until = std::chrono::steady_clock::now() + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                                                            std::chrono::duration<double>(std::min(seconds, 86400.0)));
  for (;;) {
    if (options_.keep_going && !options_.keep_going()) throw TransferCancelled("search cancelled");
    const auto now = std::chrono::steady_clock::now();
    if (now >= until) return;
    std::this_thread::sleep_for(
        std::min<std::chrono::steady_clock::duration>(until - now, std::chrono::milliseconds(100)));
  }
}

HttpReply FormulaSearch::get(const std::string& url) {
  if (asked_before_) {
    const double since = std::chrono::duration<double>(std::chrono::steady_clock::now() - last_request_).count();
    if (since < options_.min_interval_seconds) pause(options_.min_interval_seconds - since);
  }
  asked_before_ = true;
  last_request_ = std::chrono::steady_clock::now();
  ++requests_;
  return http_get(url, options_.timeout_seconds, options_.keep_going);
}

SearchReply FormulaSearch::ask(std::string_view query, const std::string& url, HttpReply& raw) {
  double wait = options_.wait_seconds;
  for (int attempt = 0;; ++attempt) {
    raw = get(url);
    SearchReply reply = read_search_reply(query, raw, options_.max_records);
    if (reply.kind != SearchReply::Kind::busy) return reply;
    if (attempt >= options_.max_retries) {
      throw TransportError("PubChem is too busy to answer (" + reply.message + ") after " +
                           std::to_string(attempt + 1) + (attempt == 0 ? " try: " : " tries: ") + url);
    }
    pause(wait);
    wait *= 2;
  }
}

FormulaHits FormulaSearch::find(std::string_view formula) {
  const std::string url = formula_search_url(options_.base, options_.route, formula, options_.max_records);
  const std::string query = "formula " + std::string(formula);
  FormulaHits hits;
  if (std::optional<HttpReply> kept = cache_.find(url)) {
    try {
      const SearchReply reply = read_search_reply(query, *kept, options_.max_records);
      if (reply.kind == SearchReply::Kind::records || reply.kind == SearchReply::Kind::not_found) {
        hits.records = reply.records;
        hits.from_cache = true;
        hits.truncated = hits.records.size() >= options_.max_records;
        ++cache_hits_;
        return hits;
      }
    } catch (const InvalidInput&) {
      // Not a reply this cache keeps: ask the service again and replace it.
    }
  }

  HttpReply raw;
  SearchReply reply = ask(query, url, raw);
  int polls = 0;
  while (reply.kind == SearchReply::Kind::waiting) {
    if (polls >= options_.max_polls) {
      throw TransportTimeout("PubChem's search for " + std::string(formula) + " was not ready after " +
                             std::to_string(polls) + " polls of list key " + reply.list_key);
    }
    ++polls;
    pause(options_.wait_seconds);
    reply = ask(query, list_key_url(options_.base, reply.list_key), raw);
  }
  hits.records = std::move(reply.records);
  hits.truncated = hits.records.size() >= options_.max_records;
  // The final reply (of the last poll, for a list key) is kept under the search's own URL.
  (void)cache_.store(url, raw);
  return hits;
}

}  // namespace tessarin::pubchem
