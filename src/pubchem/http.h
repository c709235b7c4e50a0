// One HTTP GET over libcurl, bounded in time and size.
#pragma once

#include <cstddef>
#include <functional>
#include <stdexcept>
#include <string>

namespace tessarin::pubchem {

// The transfer failed: no connection, name not resolved, TLS failure, the
// peer hung up, too many redirects, a reply larger than kMaxReplyBytes. The
// message is libcurl's own description of the failure.
class TransportError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The transfer did not finish within its time-out.
class TransportTimeout : public TransportError {
 public:
  using TransportError::TransportError;
};

// The caller's keep-going check asked to stop the transfer.
class TransferCancelled : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct HttpReply {
  long status = 0;   // HTTP status code of the final reply
  std::string body;  // body as received (after content decoding)
};

// Largest body accepted; a longer reply stops the transfer with TransportError.
inline constexpr std::size_t kMaxReplyBytes = std::size_t{16} << 20;

// Polled while the transfer runs (at least about once a second, also while
// waiting for data); returning false stops the transfer with TransferCancelled.
// An exception thrown by it also stops the transfer and reaches the caller.
using KeepGoing = std::function<bool()>;

// One GET of `url` (http:// or https:// only; other schemes, and malformed
// URLs or URLs holding a NUL, throw InvalidInput). `timeout_seconds` bounds the whole exchange,
// connection included; it must be positive and finite (else InvalidInput).
// Redirects are followed (at most 5), to http or https only, and never from
// https down to plain http. HTTPS peers and host names are verified against
// the system's certificate store. Proxies configured in the environment are
// honoured. Any status code is returned; failures of the transfer itself throw
// TransportError or TransportTimeout.
HttpReply http_get(const std::string& url, double timeout_seconds, const KeepGoing& keep_going = {});

}  // namespace tessarin::pubchem
