// Compounds of a molecular formula from the PubChem PUG REST service: the
// synchronous search or the one answered with a list key to poll, each
// request bounded in time, a busy service asked again a bounded number of
// times, replies kept on disk.
#pragma once

#include <chrono>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "pubchem/http.h"
#include "pubchem/reply.h"
#include "pubchem/reply_cache.h"
#include "pubchem/request.h"

namespace tessarin::pubchem {

struct SearchOptions {
  std::string base;                         // the compound endpoint, ".../rest/pug/compound"
  FormulaRoute route = FormulaRoute::fast;  // fastformula, or formula with a list key
  double timeout_seconds = 30;              // each request
  std::size_t max_records = 1000;           // per formula
  double wait_seconds = 2;                  // between polls; before asking a busy service again (doubled each time)
  int max_polls = 30;                       // polls of one list key before giving up
  int max_retries = 3;                      // of one request the service was too busy to answer
  double min_interval_seconds = 0.2;        // between requests: the service asks for at most five a second
  std::string cache_dir;                    // where replies are kept; empty: nowhere
  KeepGoing keep_going;                     // polled during transfers and waits; false stops with TransferCancelled

  // Throws InvalidInput for values out of range (a base that is not http(s) is left to the transfer).
  void check() const;
};

struct FormulaHits {
  std::vector<PropertyRecord> records;  // in the order of the reply
  bool from_cache = false;
  bool truncated = false;  // max_records of them: the service may hold more
};

// One client for many searches: it keeps the pace between requests and counts
// what it did.
class FormulaSearch {
 public:
  explicit FormulaSearch(SearchOptions options);

  // The compounds whose formula is `formula` (sent as given: the caller checks
  // it). A formula no compound has gives no records. A final reply (the
  // table, or "not found") is kept in the cache under the search's URL; a
  // waiting reply, a busy service, a fault or a failed transfer is never kept.
  // Throws ServiceFault for a fault, TransportError when the service is still
  // busy after max_retries, TransportTimeout when a request times out or the
  // list is not ready after max_polls polls, TransferCancelled when
  // keep_going says stop, and what read_search_reply throws for a reply it
  // cannot read.
  FormulaHits find(std::string_view formula);

  std::size_t requests() const { return requests_; }      // sent to the service
  std::size_t cache_hits() const { return cache_hits_; }  // searches answered from the cache
  const SearchOptions& options() const { return options_; }

 private:
  HttpReply get(const std::string& url);
  // Waits `seconds`, checking keep_going about ten times a second.
  void pause(double seconds) const;
  // One request, asked again while the service is busy; `raw` gets the reply read.
  SearchReply ask(std::string_view query, const std::string& url, HttpReply& raw);

  SearchOptions options_;
  ReplyCache cache_;
  std::size_t requests_ = 0;
  std::size_t cache_hits_ = 0;
  bool asked_before_ = false;
  std::chrono::steady_clock::time_point last_request_{};
};

}  // namespace tessarin::pubchem
