#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <string>

#include "core/errors.h"
#include "pubchem/http.h"
#include "pubchem/lookup.h"
#include "pubchem/reply.h"
#include "pubchem/request.h"

namespace tessarin::pubchem {
namespace {

TEST(PubchemRequest, QueryStaysInsideItsPathSegment) {
  EXPECT_EQ(request_url("http://h/rest/pug/compound", "cid", "a/b?c#d%e&f=g+h;i:j@k l"),
            "http://h/rest/pug/compound/cid/a%2Fb%3Fc%23d%25e%26f%3Dg%2Bh%3Bi%3Aj%40k%20l/property/SMILES/JSON");
  EXPECT_EQ(encode_path_segment("Az09-._~"), "Az09-._~");
  EXPECT_EQ(encode_path_segment(std::string("\xCE\xB2\x00\n", 4)), "%CE%B2%00%0A");
  EXPECT_EQ(encode_path_segment(".."), "%2E%2E");
  EXPECT_EQ(encode_path_segment("..."), "...");
  EXPECT_THROW(request_url("http://h", "CID", "water"), InvalidInput);
}

// The messages the Python layer shows are checked there; here what a native
// caller gets beyond them.
TEST(PubchemReply, FailuresCarryWhatTheCallerNeeds) {
  try {
    parse_reply(
        "x", {200, R"({"PropertyTable": {"Properties": [{"Title": "é", "CID": 5, "SMILES": "", "a": [1.5, null]}]}})"});
    ADD_FAILURE();
  } catch (const SmilesNotFound& e) {
    EXPECT_EQ(e.record_json(), R"({"Title":"é","CID":5,"SMILES":"","a":[1.5,null]})");
    EXPECT_EQ(std::string(e.what()), std::string(kSmilesMissing) + e.record_json());
  }
  try {
    parse_reply("x", {200, R"({"a": 1,})"});
    ADD_FAILURE();
  } catch (const MalformedReply& e) {
    EXPECT_EQ(e.offset(), 8u);
    EXPECT_EQ(e.reason().find("[json.exception"), std::string::npos) << e.reason();
  }
  EXPECT_THROW(parse_reply("x", {200, "[1e400]"}), MalformedReply);
}

// A socket on 127.0.0.1 that accepts connections into its backlog and never answers.
class SilentListener {
 public:
  SilentListener() : fd_(socket(AF_INET, SOCK_STREAM, 0)) {
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    if (fd_ < 0 || bind(fd_, reinterpret_cast<sockaddr*>(&addr), len) != 0 || listen(fd_, 4) != 0 ||
        getsockname(fd_, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
      ADD_FAILURE() << "cannot listen on 127.0.0.1";
    }
    port_ = ntohs(addr.sin_port);
  }
  ~SilentListener() { close(); }
  void close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }
  std::string url() const { return "http://127.0.0.1:" + std::to_string(port_) + "/rest/pug/compound"; }

 private:
  int fd_;
  int port_ = 0;
};

double seconds_since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

TEST(PubchemHttp, FailuresAreToldApart) {
  setenv("no_proxy", "127.0.0.1", 1);  // every request here must stay on this machine
  for (const double bad : {0.0, -1.0, std::nan(""), HUGE_VAL}) {
    EXPECT_THROW(http_get("http://127.0.0.1:1/", bad), InvalidInput) << bad;
  }
  EXPECT_THROW(http_get("file:///etc/passwd", 5), InvalidInput);
  EXPECT_THROW(http_get("gopher://127.0.0.1/", 5), InvalidInput);
  EXPECT_THROW(http_get(std::string("http://127.0.0.1:1/\0/x", 22), 5), InvalidInput);

  SilentListener silent;
  auto start = std::chrono::steady_clock::now();
  EXPECT_THROW(fetch_smiles(silent.url(), "name", "water", 0.2), TransportTimeout);
  EXPECT_LT(seconds_since(start), 5.0);

  // The keep-going check stops a long wait within about a second.
  int polls = 0;
  start = std::chrono::steady_clock::now();
  EXPECT_THROW(http_get(silent.url(), 60, [&] { return ++polls < 2; }), TransferCancelled);
  EXPECT_LT(seconds_since(start), 10.0);
  struct Stop {};
  EXPECT_THROW(http_get(silent.url(), 60, []() -> bool { throw Stop{}; }), Stop);

  const std::string closed = silent.url();
  silent.close();
  try {
    http_get(closed, 5);
    ADD_FAILURE();
  } catch (const TransportTimeout&) {
    ADD_FAILURE() << "a refused connection is not a time-out";
  } catch (const TransportError& e) {
    EXPECT_NE(std::string(e.what()).find("127.0.0.1"), std::string::npos) << e.what();
  }
}

}  // namespace
}  // namespace tessarin::pubchem
