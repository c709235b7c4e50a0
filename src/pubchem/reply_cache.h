// Replies kept on disk, keyed by the request URL, so that asking again asks
// nothing.
#pragma once

#include <optional>
#include <string>

#include "pubchem/http.h"

namespace tessarin::pubchem {

// The directory cached replies go to when the caller names none: the
// environment's TESSARIN_PUBCHEM_CACHE when set and not empty, else
// $XDG_CACHE_HOME/tessarin/pubchem, else $HOME/.cache/tessarin/pubchem;
// empty when none of them is set.
std::string default_cache_dir();

// One file per URL in `dir` (created when first written to): the file is named
// after a hash of the URL and holds the URL itself, so a hash shared by two
// URLs reads as a miss, never as the other URL's reply. Files are written
// whole to a temporary name and renamed, so a reader never sees half a reply
// and two processes may share the directory. An empty `dir` keeps nothing.
class ReplyCache {
 public:
  explicit ReplyCache(std::string dir = {}) : dir_(std::move(dir)) {}

  bool enabled() const { return !dir_.empty(); }
  const std::string& dir() const { return dir_; }

  // The reply kept for `url`; nothing when there is none or the file is not
  // one this cache wrote for that URL.
  std::optional<HttpReply> find(const std::string& url) const;

  // Keeps `reply` for `url`. Returns false, and leaves any earlier entry as
  // it was, when the directory or the file cannot be written: the caller has
  // its reply either way.
  bool store(const std::string& url, const HttpReply& reply) const;

  // The file that holds (or would hold) the reply for `url`.
  std::string path_of(const std::string& url) const;

 private:
  std::string dir_;
};

}  // namespace tessarin::pubchem
