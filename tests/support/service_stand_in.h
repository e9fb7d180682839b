#pragma once

// A stand-in of the account-and-update service on loopback, for the tests of
// the HTTP layer, the update check, the account session and the ZeroTier
// requests; it also plays the local ZeroTier service's API.  It listens on 127.0.0.1 (any free
// port) on a thread of its own, records every request, and answers every route of the service's
// table with a sensible default (tokens it issued, the latest release for "linux", ...) unless a
// test scripts a reply for the route: a status and body, a delay, a trickle, a lying
// Content-Length, a redirect, a connection closed unanswered.

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

namespace vistrelle::testing {

class ServiceStandIn {
 public:
  // The OAuth2 client credential the token route accepts (as Basic) and the
  // verification code it accepts for any phone number or address.
  static constexpr std::string_view kClientCredential = "client:test";
  static constexpr std::string_view kVerificationCode = "123456";
  static constexpr std::string_view kNetworkId = "8056c2e21c000001";

  struct Request {
    std::string method;
    std::string path;   // as sent: percent-encoding kept
    std::string query;  // as sent, without "?"
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body;

    // The first value under `name`, compared without regard to case.
    std::optional<std::string> header(std::string_view name) const;
    // A query parameter, decoded.
    std::optional<std::string> queryValue(std::string_view key) const;
  };

  struct Reply {
    int status = 200;
    std::string body;
    std::string contentType = "application/json";
    std::vector<std::pair<std::string, std::string>> headers;
    // Held this long before anything is sent (cut short by stop()).
    std::chrono::milliseconds delay{0};
    // The body in pieces of this many bytes, `trickleInterval` apart.
    size_t trickleBytes = 0;
    std::chrono::milliseconds trickleInterval{0};
    // Sent chunked, without a Content-Length (a length nobody knows).
    bool chunked = false;
    // Claims this Content-Length; when it is longer than the body, the
    // connection closes after the body.
    std::optional<size_t> contentLength;
    // Answers with a redirect to this address (302 unless `status` is 3xx).
    std::string redirectTo;
    // Closes the connection without sending a byte, as a service that exits
    // on the request does (after `delay`).
    bool hangUp = false;

    static Reply json(int status, const nlohmann::json& body);
    static Reply text(int status, std::string body, std::string contentType = "text/plain");
    static Reply redirect(std::string location, int status = 302);
    static Reply hangingUp();
  };

  // Listening when constructed; throws std::runtime_error when it cannot bind.
  ServiceStandIn();
  // On a given port (0: any free one), e.g. that of a stand-in stopped
  // before, to play a service that comes back.
  explicit ServiceStandIn(int port);
  ~ServiceStandIn();
  ServiceStandIn(const ServiceStandIn&) = delete;
  ServiceStandIn& operator=(const ServiceStandIn&) = delete;

  // Stops listening, wakes held replies and joins the thread.  Idempotent.
  // The port is closed afterwards, so a request to it is refused.
  void stop();

  int port() const { return port_; }
  // "http://127.0.0.1:<port>"
  std::string root() const;

  // Scripted replies.  `script` answers every request of `method` to exactly
  // `path` until cleared; `scriptOnce` answers only the next one, before any
  // `script` of the route and before the default.
  void script(std::string method, std::string path, Reply reply);
  void scriptOnce(std::string method, std::string path, Reply reply);
  void clearScripts();

  // The local ZeroTier service: GET "/status" (the node kZeroTierAddress),
  // GET "/network" (the networks joined), POST "/network/<id>" (joins with
  // the body's four "allow" flags), DELETE "/network/<id>" (leaves; 404 when
  // not joined) and GET "/quit" (closes the connection unanswered, as the
  // service exits).  Once a token is set, these answer 401 without
  // "?auth=<token>", before any scripted reply.
  static constexpr std::string_view kZeroTierAddress = "a1b2c3d4e5";
  void setZeroTierToken(std::string token);
  // The ids joined, in joining order.
  std::vector<std::string> zeroTierNetworks() const;

  // Signs a user in without a request: a live access and refresh token pair.
  std::pair<std::string, std::string> issueTokens();
  // Every access token issued so far now answers 424 (refresh tokens stay).
  void expireAccessTokens();
  // Every refresh token issued so far is refused.
  void revokeRefreshTokens();

  // The "data" of the latest-release route for platform "linux" (a path
  // relative to the API base in "downloadUrl"), and the package it serves at
  // "/api" + that path.
  void setLatestRelease(nlohmann::json data);
  nlohmann::json latestRelease() const;
  void setPackage(std::string bytes);
  std::string package() const;

  std::vector<Request> requests() const;
  std::vector<Request> requestsTo(std::string_view path) const;
  // Waits (bounded) until at least `count` requests arrived in all.
  bool waitForRequests(size_t count,
                       std::chrono::milliseconds limit = std::chrono::seconds(10)) const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
  int port_ = -1;
};

}  // namespace vistrelle::testing
