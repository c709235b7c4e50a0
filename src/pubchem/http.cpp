#include "pubchem/http.h"

#include <curl/curl.h>

#include <algorithm>
#include <cmath>
#include <exception>
#include <memory>
#include <mutex>
#include <new>

#include "core/errors.h"
#include "core/number_format.h"

namespace tessarin::pubchem {
namespace {

// libcurl's global set-up is not thread-safe: do it once, on first use (never
// at import time), under std::call_once.
void init_curl_once() {
  static std::once_flag once;
  std::call_once(once, [] {
    if (curl_global_init(CURL_GLOBAL_DEFAULT) != CURLE_OK) {
      throw std::runtime_error("libcurl could not be initialised");
    }
  });
}

long timeout_in_ms(double seconds) {
  if (!(seconds > 0.0) || !std::isfinite(seconds)) {
    throw InvalidInput("timeout must be a positive, finite number of seconds, got " + core::float_repr(seconds));
  }
  // Round up: a time-out below one millisecond must not become 0, which
  // libcurl reads as "no time-out". Beyond a year it makes no difference.
  constexpr double kYearMs = 365.0 * 24 * 3600 * 1000;
  return static_cast<long>(std::ceil(std::min(seconds * 1000.0, kYearMs)));
}

bool starts_with_https(const std::string& url) {
  if (url.size() < 8) return false;
  static constexpr char kScheme[] = "https://";
  for (std::size_t i = 0; i < 8; ++i) {
    char c = url[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != kScheme[i]) return false;
  }
  return true;
}

struct Transfer {
  std::string body;
  bool too_large = false;
  const KeepGoing* keep_going = nullptr;
  std::exception_ptr callback_error;
};

std::size_t on_body(char* data, std::size_t size, std::size_t count, void* user) {
  auto* transfer = static_cast<Transfer*>(user);
  const std::size_t n = size * count;
  if (n > kMaxReplyBytes - transfer->body.size()) {
    transfer->too_large = true;
    return 0;  // fewer bytes than offered: libcurl stops with CURLE_WRITE_ERROR
  }
  try {
    transfer->body.append(data, n);
  } catch (...) {
    transfer->callback_error = std::current_exception();
    return 0;
  }
  return n;
}

int on_progress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
  auto* transfer = static_cast<Transfer*>(user);
  try {
    return (*transfer->keep_going)() ? 0 : 1;
  } catch (...) {
    transfer->callback_error = std::current_exception();
    return 1;
  }
}

using Handle = std::unique_ptr<CURL, decltype(&curl_easy_cleanup)>;

template <typename Value>
void set_option(CURL* handle, CURLoption option, Value value) {
  const CURLcode rc = curl_easy_setopt(handle, option, value);
  if (rc == CURLE_OUT_OF_MEMORY) throw std::bad_alloc();
  if (rc != CURLE_OK) {
    throw std::runtime_error(std::string("libcurl refused an option: ") + curl_easy_strerror(rc));
  }
}

}  // namespace

HttpReply http_get(const std::string& url, double timeout_seconds, const KeepGoing& keep_going) {
  const long timeout_ms = timeout_in_ms(timeout_seconds);
  // libcurl reads the URL as a C string: a NUL would silently cut it short.
  if (url.find('\0') != std::string::npos) throw InvalidInput("cannot request a URL holding a NUL character");
  init_curl_once();
  Handle handle(curl_easy_init(), &curl_easy_cleanup);
  if (!handle) throw std::runtime_error("libcurl could not create a transfer");
  CURL* h = handle.get();

  Transfer transfer;
  char error_text[CURL_ERROR_SIZE] = {};
  set_option(h, CURLOPT_ERRORBUFFER, error_text);
  set_option(h, CURLOPT_URL, url.c_str());
  set_option(h, CURLOPT_HTTPGET, 1L);
  set_option(h, CURLOPT_PROTOCOLS_STR, "http,https");
  set_option(h, CURLOPT_FOLLOWLOCATION, 1L);
  set_option(h, CURLOPT_MAXREDIRS, 5L);
  set_option(h, CURLOPT_REDIR_PROTOCOLS_STR, starts_with_https(url) ? "https" : "http,https");
  set_option(h, CURLOPT_TIMEOUT_MS, timeout_ms);
  set_option(h, CURLOPT_CONNECTTIMEOUT_MS, timeout_ms);
  set_option(h, CURLOPT_NOSIGNAL, 1L);  // no SIGALRM for name resolution: safe in any thread
  set_option(h, CURLOPT_SSL_VERIFYPEER, 1L);
  set_option(h, CURLOPT_SSL_VERIFYHOST, 2L);
  set_option(h, CURLOPT_USERAGENT, "tessarin");
  set_option(h, CURLOPT_ACCEPT_ENCODING, "");  // every encoding libcurl can decode
  set_option(h, CURLOPT_WRITEFUNCTION, &on_body);
  set_option(h, CURLOPT_WRITEDATA, &transfer);
  if (keep_going) {
    transfer.keep_going = &keep_going;
    set_option(h, CURLOPT_XFERINFOFUNCTION, &on_progress);
    set_option(h, CURLOPT_XFERINFODATA, &transfer);
    set_option(h, CURLOPT_NOPROGRESS, 0L);
  }

  const CURLcode rc = curl_easy_perform(h);
  if (transfer.callback_error) std::rethrow_exception(transfer.callback_error);
  const std::string message = error_text[0] != '\0' ? std::string(error_text) : curl_easy_strerror(rc);
  switch (rc) {
    case CURLE_OK:
      break;
    case CURLE_OPERATION_TIMEDOUT:
      throw TransportTimeout(message);
    case CURLE_ABORTED_BY_CALLBACK:
      throw TransferCancelled("transfer cancelled: " + url);
    case CURLE_UNSUPPORTED_PROTOCOL:
    case CURLE_URL_MALFORMAT:
      throw InvalidInput("cannot request " + url + ": " + message);
    case CURLE_OUT_OF_MEMORY:
      throw std::bad_alloc();
    default:
      if (transfer.too_large) {
        throw TransportError("reply larger than " + std::to_string(kMaxReplyBytes >> 20) +
                             " MiB, transfer stopped: " + url);
      }
      throw TransportError(message);
  }

  HttpReply reply;
  curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &reply.status);
  reply.body = std::move(transfer.body);
  return reply;
}

}  // namespace tessarin::pubchem
