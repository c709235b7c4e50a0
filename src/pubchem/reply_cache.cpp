#include "pubchem/reply_cache.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace tessarin::pubchem {
namespace {

constexpr std::string_view kMagic = "tessarin-pubchem-reply 1";

std::string environment(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? std::string(value) : std::string();
}

// FNV-1a, 64 bits: stable across runs and builds (std::hash is not).
std::uint64_t fnv1a(std::string_view text) {
  std::uint64_t h = 14695981039346656037ULL;
  for (const char c : text) {
    h ^= static_cast<unsigned char>(c);
    h *= 1099511628211ULL;
  }
  return h;
}

bool write_all(int fd, const std::string& data) {
  std::size_t done = 0;
  while (done < data.size()) {
    const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    done += static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace

std::string default_cache_dir() {
  if (std::string dir = environment("TESSARIN_PUBCHEM_CACHE"); !dir.empty()) return dir;
  if (const std::string xdg = environment("XDG_CACHE_HOME"); !xdg.empty()) return xdg + "/tessarin/pubchem";
  if (const std::string home = environment("HOME"); !home.empty()) return home + "/.cache/tessarin/pubchem";
  return {};
}

std::string ReplyCache::path_of(const std::string& url) const {
  char name[32];
  std::snprintf(name, sizeof name, "%016llx.reply", static_cast<unsigned long long>(fnv1a(url)));
  return dir_ + "/" + name;
}

// The file: the magic line, the URL, the status, then the body as received.
std::optional<HttpReply> ReplyCache::find(const std::string& url) const {
  if (!enabled()) return std::nullopt;
  std::ifstream in(path_of(url), std::ios::binary);
  if (!in) return std::nullopt;
  std::string magic, stored_url, status;
  if (!std::getline(in, magic) || magic != kMagic) return std::nullopt;
  if (!std::getline(in, stored_url) || stored_url != url) return std::nullopt;
  if (!std::getline(in, status)) return std::nullopt;
  HttpReply reply;
  try {
    std::size_t used = 0;
    reply.status = std::stol(status, &used);
    if (used != status.size()) return std::nullopt;
  } catch (const std::exception&) {
    return std::nullopt;
  }
  reply.body.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  if (in.bad()) return std::nullopt;
  return reply;
}

bool ReplyCache::store(const std::string& url, const HttpReply& reply) const {
  // A URL with a line break could not be read back; such URLs are never built.
  if (!enabled() || url.find('\n') != std::string::npos) return false;
  std::error_code ec;
  std::filesystem::create_directories(dir_, ec);
  if (ec) return false;
  const std::string target = path_of(url);
  static std::atomic<unsigned> counter{0};
  const std::string temporary =
      target + "." + std::to_string(::getpid()) + "." + std::to_string(counter.fetch_add(1)) + ".tmp";
  const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  std::string data(kMagic);
  data += '\n';
  data += url;
  data += '\n';
  data += std::to_string(reply.status);
  data += '\n';
  data += reply.body;
  const bool written = write_all(fd, data) && ::fsync(fd) == 0;
  const bool closed = ::close(fd) == 0;
  if (!written || !closed || std::rename(temporary.c_str(), target.c_str()) != 0) {
    std::remove(temporary.c_str());
    return false;
  }
  return true;
}

}  // namespace tessarin::pubchem
