#include "support/service_stand_in.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <httplib.h>
#include <netinet/in.h>
#include <strings.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <deque>
#include <filesystem>
#include <stdexcept>
#include <thread>

#include "base/helpers/base64_addition.h"

namespace vistrelle::testing {

namespace {

using nlohmann::json;
using Reply = ServiceStandIn::Reply;
using Request = ServiceStandIn::Request;

bool startsWith(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string percentDecoded(std::string_view text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '+') {
      out.push_back(' ');
    } else if (text[i] == '%' && i + 2 < text.size() && hexValue(text[i + 1]) >= 0 &&
               hexValue(text[i + 2]) >= 0) {
      out.push_back(static_cast<char>(hexValue(text[i + 1]) * 16 + hexValue(text[i + 2])));
      i += 2;
    } else {
      out.push_back(text[i]);
    }
  }
  return out;
}

json envelope(bool success, std::string msg, json data = nullptr, int code = 0) {
  return {{"success", success}, {"code", code}, {"msg", std::move(msg)}, {"data", std::move(data)}};
}

bool isZeroTierPath(std::string_view path) {
  return path == "/status" || path == "/network" || path == "/quit" ||
         path.substr(0, 9) == "/network/";
}

int portOf(const sockaddr_storage& address) {
  if (address.ss_family == AF_INET) {
    return ntohs(reinterpret_cast<const sockaddr_in&>(address).sin_port);
  }
  if (address.ss_family == AF_INET6) {
    return ntohs(reinterpret_cast<const sockaddr_in6&>(address).sin6_port);
  }
  return -1;
}

// The server's end of the connection a request came on: cpp-httplib does
// not hand its socket to the handler, so it is found by its two ports.
int serverSocketOf(const httplib::Request& in) {
  std::error_code ignored;
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd", ignored)) {
    int fd = -1;
    try {
      fd = std::stoi(entry.path().filename().string());
    } catch (const std::exception&) {
      continue;
    }
    sockaddr_storage local{};
    sockaddr_storage peer{};
    socklen_t localSize = sizeof local;
    socklen_t peerSize = sizeof peer;
    if (::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &localSize) != 0 ||
        ::getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &peerSize) != 0) {
      continue;
    }
    if (portOf(local) == in.local_port && portOf(peer) == in.remote_port) return fd;
  }
  return -1;
}

// Ends the connection with nothing sent.  The descriptor stays open (as
// /dev/null) for cpp-httplib, whose own write then fails quietly instead of
// raising SIGPIPE, and whose close closes that.
void closeUnanswered(const httplib::Request& in) {
  const int fd = serverSocketOf(in);
  if (fd < 0) return;
  ::shutdown(fd, SHUT_RDWR);
  const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
  if (null >= 0) {
    ::dup2(null, fd);
    ::close(null);
  }
}

std::string defaultPackage() {
  std::string bytes(64 * 1024, '\0');
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>((i * 131 + 7) & 0xFF);
  return bytes;
}

}  // namespace

std::optional<std::string> Request::header(std::string_view name) const {
  for (const auto& [key, value] : headers) {
    if (key.size() == name.size() && ::strncasecmp(key.data(), name.data(), key.size()) == 0) {
      return value;
    }
  }
  return std::nullopt;
}

std::optional<std::string> Request::queryValue(std::string_view key) const {
  std::string_view rest = query;
  while (!rest.empty()) {
    const size_t amp = rest.find('&');
    const std::string_view pair = rest.substr(0, amp);
    rest = amp == std::string_view::npos ? std::string_view() : rest.substr(amp + 1);
    const size_t equals = pair.find('=');
    if (percentDecoded(pair.substr(0, equals)) != key) continue;
    return equals == std::string_view::npos ? std::string()
                                            : percentDecoded(pair.substr(equals + 1));
  }
  return std::nullopt;
}

Reply Reply::json(int status, const nlohmann::json& body) {
  Reply reply;
  reply.status = status;
  reply.body = body.dump();
  return reply;
}

Reply Reply::text(int status, std::string body, std::string contentType) {
  Reply reply;
  reply.status = status;
  reply.body = std::move(body);
  reply.contentType = std::move(contentType);
  return reply;
}

Reply Reply::hangingUp() {
  Reply reply;
  reply.hangUp = true;
  return reply;
}

Reply Reply::redirect(std::string location, int status) {
  Reply reply;
  reply.status = status;
  reply.redirectTo = std::move(location);
  reply.contentType.clear();
  return reply;
}

struct ServiceStandIn::Impl {
  httplib::Server server;
  std::thread thread;
  std::atomic<bool> listenEnded{false};

  mutable std::mutex mutex;
  mutable std::condition_variable changed;  // a request arrived, or stop
  bool stopping = false;
  std::vector<Request> requests;
  std::map<std::pair<std::string, std::string>, Reply> scripts;
  std::map<std::pair<std::string, std::string>, std::deque<Reply>> once;
  std::set<std::string> liveAccess;
  std::set<std::string> liveRefresh;
  uint64_t issued = 0;
  json release = {{"version", "9.9.9"},
                  {"downloadUrl", "/admin/appPublish/download/Vistrelle_9.9.9_amd64.deb"},
                  {"releaseNote", "修复已知问题"}};
  std::string packageBytes = defaultPackage();
  std::optional<std::string> zeroTierToken;
  std::vector<std::pair<std::string, json>> zeroTierJoined;  // id, the network

  void handle(const httplib::Request& in, httplib::Response& out);
  Reply replyFor(const Request& request);  // under the lock
  Reply tokenReply(const Request& request);
  std::optional<Reply> zeroTierReply(const Request& request);
  json tokenObject(const std::string& account);
  std::pair<std::string, std::string> issue();
  bool bearerIsLive(const Request& request) const;
  // False when woken by stop().
  bool hold(std::chrono::milliseconds duration);
  void send(const Reply& reply, httplib::Response& out);
};

void ServiceStandIn::Impl::handle(const httplib::Request& in, httplib::Response& out) {
  Request request;
  request.method = in.method;
  const size_t question = in.target.find('?');
  request.path = in.target.substr(0, question);
  if (question != std::string::npos) request.query = in.target.substr(question + 1);
  for (const auto& [name, value] : in.headers) request.headers.emplace_back(name, value);
  request.body = in.body;

  Reply reply;
  {
    std::lock_guard lock(mutex);
    requests.push_back(request);
    reply = replyFor(request);
  }
  changed.notify_all();
  if (reply.delay.count() > 0 && !hold(reply.delay)) {
    out.status = 503;
    return;
  }
  if (reply.hangUp) {
    closeUnanswered(in);
    return;
  }
  send(reply, out);
}

Reply ServiceStandIn::Impl::replyFor(const Request& request) {
  if (zeroTierToken && isZeroTierPath(request.path) &&
      request.queryValue("auth") != *zeroTierToken) {
    return Reply::json(401, {{"error", "unauthorized"}});
  }
  const auto route = std::make_pair(request.method, request.path);
  if (auto queued = once.find(route); queued != once.end() && !queued->second.empty()) {
    Reply reply = std::move(queued->second.front());
    queued->second.pop_front();
    return reply;
  }
  if (auto scripted = scripts.find(route); scripted != scripts.end()) return scripted->second;

  if (isZeroTierPath(request.path)) {
    if (std::optional<Reply> reply = zeroTierReply(request)) return *reply;
    return Reply::text(404, "");
  }
  const std::string& method = request.method;
  const std::string& path = request.path;
  if (method == "GET" && path == "/api/admin/appPublish/latest") {
    // Other platforms have no release here: no "data".
    const bool linux = request.queryValue("platform") == "linux";
    return Reply::json(200, envelope(true, "操作成功", linux ? release : json(nullptr)));
  }
  if (method == "GET" && release.contains("downloadUrl") && release["downloadUrl"].is_string() &&
      path == "/api" + release["downloadUrl"].get<std::string>()) {
    return Reply::text(200, packageBytes, "application/octet-stream");
  }
  if (method == "GET" && ((startsWith(path, "/api/admin/mobile/") && path.size() > 18) ||
                          (startsWith(path, "/api/admin/mail/") && path.size() > 16))) {
    return Reply::json(200, envelope(true, "验证码发送成功"));
  }
  if (method == "POST" && path == "/api/auth/oauth2/token") return tokenReply(request);

  const bool userInfo = method == "GET" && path == "/api/admin/user/orvex/info";
  const bool logout = method == "DELETE" && path == "/api/auth/token/logout";
  const bool network = method == "POST" && path == "/api/admin/ztNetwork";
  const bool authorize = method == "POST" && path == "/api/admin/ztNetwork/authorize";
  const bool other = path == "/api/admin/ztNetwork/delete" || path == "/api/admin/pc";
  if (!(userInfo || logout || network || authorize || other)) return Reply::text(404, "");
  if (!bearerIsLive(request)) {
    return Reply::json(424, envelope(false, "用户凭证已过期", nullptr, 424));
  }
  if (userInfo) {
    return Reply::json(200, envelope(true, "操作成功",
                                     {{"userId", 10001},
                                      {"username", "13800000000"},
                                      {"nickName", ""},
                                      {"avatar", "/avatar/10001.png"},
                                      {"phone", "13800000000"}}));
  }
  if (logout) {
    liveAccess.erase(request.header("Authorization")->substr(7));
    return Reply::json(200, envelope(true, "操作成功", true));
  }
  const json body = json::parse(request.body, nullptr, false);
  if (network) {
    if (!body.is_object() || !body.contains("localNetwork")) {
      return Reply::json(200, envelope(false, "参数错误", nullptr, 1));
    }
    return Reply::json(200, envelope(true, "操作成功", {{"networkId", kNetworkId}}));
  }
  if (authorize) {
    if (!body.is_object() || !body.contains("networkId") || !body.contains("nodeId")) {
      return Reply::json(200, envelope(false, "参数错误", nullptr, 1));
    }
    return Reply::json(200, envelope(true, "授权成功"));
  }
  return Reply::json(200, envelope(true, "操作成功"));
}

std::optional<Reply> ServiceStandIn::Impl::zeroTierReply(const Request& request) {
  const std::string& method = request.method;
  const std::string& path = request.path;
  if (method == "GET" && path == "/status") {
    return Reply::json(200, {{"address", kZeroTierAddress},
                             {"publicIdentity", std::string(kZeroTierAddress) + ":0:5d8c9a"},
                             {"online", true},
                             {"tcpFallbackActive", false},
                             {"versionMajor", 1},
                             {"versionMinor", 12},
                             {"versionRev", 2},
                             {"version", "1.12.2"},
                             {"clock", 1700000000000ULL},
                             {"config", {{"settings", {{"primaryPort", 9993}}}}}});
  }
  if (method == "GET" && path == "/network") {
    json list = json::array();
    for (const auto& [id, network] : zeroTierJoined) list.push_back(network);
    return Reply::json(200, list);
  }
  if (method == "GET" && path == "/quit") return Reply::hangingUp();
  if (path.size() <= 9 || path.substr(0, 9) != "/network/") return std::nullopt;
  const std::string id = path.substr(9);
  const bool validId =
      id.size() == 16 && std::all_of(id.begin(), id.end(), [](char c) { return hexValue(c) >= 0; });
  if (!validId) return Reply::json(400, {{"error", "invalid network id"}});
  const auto joined = std::find_if(zeroTierJoined.begin(), zeroTierJoined.end(),
                                   [&](const auto& entry) { return entry.first == id; });
  if (method == "DELETE") {
    if (joined == zeroTierJoined.end()) return Reply::json(404, {{"error", "not found"}});
    zeroTierJoined.erase(joined);
    return Reply::json(200, {{"result", true}});
  }
  if (method != "POST") return std::nullopt;
  const json body = json::parse(request.body, nullptr, false);
  json network = {{"nwid", id},
                  {"name", "stand-in " + id.substr(12)},
                  {"status", "OK"},
                  {"type", "PRIVATE"},
                  {"mac", "aa:bb:cc:dd:ee:ff"},
                  {"mtu", 2800},
                  {"dhcp", false},
                  {"bridge", false},
                  {"broadcastEnabled", true},
                  {"portError", 0},
                  {"netconfRevision", 3},
                  {"assignedAddresses", json::array({"10.147.17.5/24"})},
                  {"portDeviceName", "zt" + id.substr(12)}};
  for (const char* flag : {"allowManaged", "allowGlobal", "allowDefault", "allowDNS"}) {
    network[flag] = body.is_object() && body.contains(flag) && body[flag].is_boolean() &&
                    body[flag].get<bool>();
  }
  if (joined != zeroTierJoined.end()) {
    joined->second = network;
  } else {
    zeroTierJoined.emplace_back(id, network);
  }
  return Reply::json(200, network);
}

Reply ServiceStandIn::Impl::tokenReply(const Request& request) {
  const std::string expected = "Basic " + base::base64String(kClientCredential);
  if (request.header("Authorization") != expected) {
    return Reply::json(
        401, {{"error", "unauthorized"}, {"error_description", "Full authentication is required"}});
  }
  const std::string grant = request.queryValue("grant_type").value_or("");
  if (grant == "mobile" || grant == "mail") {
    const std::string account = request.queryValue(grant).value_or("");
    if (account.empty() || request.queryValue("code") != kVerificationCode) {
      return Reply::json(400, envelope(false, "验证码不合法", nullptr, 1));
    }
    return Reply::json(200, tokenObject(account));
  }
  if (grant == "refresh_token") {
    const std::string refresh = request.queryValue("refresh_token").value_or("");
    if (liveRefresh.erase(refresh) == 0) {
      return Reply::json(401, envelope(false, "请求令牌已过期", nullptr, 1));
    }
    return Reply::json(200, tokenObject("13800000000"));
  }
  return Reply::json(
      400, {{"error", "unsupported_grant_type"}, {"error_description", "Unsupported grant type"}});
}

json ServiceStandIn::Impl::tokenObject(const std::string& account) {
  const auto [access, refresh] = issue();
  const bool phone = !account.empty() && std::all_of(account.begin(), account.end(),
                                                     [](char c) { return c >= '0' && c <= '9'; });
  return {{"access_token", access},
          {"refresh_token", refresh},
          {"token_type", "bearer"},
          {"expires_in", 43199},
          {"scope", "server"},
          {"clientId", "client"},
          {"user_id", 10001},
          {"username", account},
          {"nickName", ""},
          {"avatar", "/avatar/10001.png"},
          {"phone", phone ? account : ""}};
}

std::pair<std::string, std::string> ServiceStandIn::Impl::issue() {
  ++issued;
  std::string access = "access-" + std::to_string(issued);
  std::string refresh = "refresh-" + std::to_string(issued);
  liveAccess.insert(access);
  liveRefresh.insert(refresh);
  return {access, refresh};
}

bool ServiceStandIn::Impl::bearerIsLive(const Request& request) const {
  const std::optional<std::string> authorization = request.header("Authorization");
  if (!authorization || !startsWith(*authorization, "Bearer ")) return false;
  return liveAccess.count(authorization->substr(7)) > 0;
}

bool ServiceStandIn::Impl::hold(std::chrono::milliseconds duration) {
  std::unique_lock lock(mutex);
  return !changed.wait_for(lock, duration, [this] { return stopping; });
}

void ServiceStandIn::Impl::send(const Reply& reply, httplib::Response& out) {
  for (const auto& [name, value] : reply.headers) out.set_header(name, value);
  if (!reply.redirectTo.empty()) {
    out.status = reply.status >= 300 && reply.status <= 399 ? reply.status : 302;
    out.set_header("Location", reply.redirectTo);
    return;
  }
  out.status = reply.status;
  const bool paced = reply.trickleBytes > 0;
  if (!reply.chunked && !reply.contentLength && !paced) {
    out.set_content(reply.body, reply.contentType);
    return;
  }
  auto body = std::make_shared<const std::string>(reply.body);
  const size_t piece = paced ? reply.trickleBytes : std::max<size_t>(body->size(), 1);
  const std::chrono::milliseconds interval = reply.trickleInterval;
  // The next piece at `offset`, after the pause between pieces; false ends
  // the connection (stop, or a claimed length longer than the body).
  auto next = [this, body, piece, interval](size_t offset, httplib::DataSink& sink) {
    if (offset >= body->size()) return false;
    if (offset > 0 && interval.count() > 0 && !hold(interval)) return false;
    return sink.write(body->data() + offset, std::min(piece, body->size() - offset));
  };
  if (reply.chunked) {
    out.set_chunked_content_provider(reply.contentType,
                                     [next, body](size_t offset, httplib::DataSink& sink) {
                                       if (offset >= body->size()) {
                                         sink.done();
                                         return true;
                                       }
                                       return next(offset, sink);
                                     });
  } else {
    out.set_content_provider(
        reply.contentLength.value_or(body->size()), reply.contentType,
        [next](size_t offset, size_t, httplib::DataSink& sink) { return next(offset, sink); });
  }
}

ServiceStandIn::ServiceStandIn() : ServiceStandIn(0) {}

ServiceStandIn::ServiceStandIn(int port) : impl_(std::make_unique<Impl>()) {
  Impl& impl = *impl_;
  const auto handler = [&impl](const httplib::Request& in, httplib::Response& out) {
    impl.handle(in, out);
  };
  impl.server.Get(".*", handler);
  impl.server.Post(".*", handler);
  impl.server.Put(".*", handler);
  impl.server.Delete(".*", handler);
  impl.server.Patch(".*", handler);
  // One request per connection: an idle kept-alive connection would hold a
  // server thread for seconds after stop().
  impl.server.set_keep_alive_max_count(1);
  if (port == 0) {
    port_ = impl.server.bind_to_any_port("127.0.0.1");
  } else {
    port_ = impl.server.bind_to_port("127.0.0.1", port) ? port : -1;
  }
  if (port_ < 0) throw std::runtime_error("service stand-in: cannot bind to 127.0.0.1");
  // Connections made before the thread listens wait in the backlog.
  impl.thread = std::thread([&impl] {
    impl.server.listen_after_bind();
    impl.listenEnded.store(true);
  });
}

ServiceStandIn::~ServiceStandIn() {
  stop();
}

void ServiceStandIn::stop() {
  Impl& impl = *impl_;
  {
    std::lock_guard lock(impl.mutex);
    impl.stopping = true;
  }
  impl.changed.notify_all();
  if (!impl.thread.joinable()) return;
  // A stop before the thread got to listening would be lost, and the join
  // would wait for ever.
  while (!impl.server.is_running() && !impl.listenEnded.load()) std::this_thread::yield();
  impl.server.stop();
  impl.thread.join();
}

std::string ServiceStandIn::root() const {
  return "http://127.0.0.1:" + std::to_string(port_);
}

void ServiceStandIn::script(std::string method, std::string path, Reply reply) {
  std::lock_guard lock(impl_->mutex);
  impl_->scripts[{std::move(method), std::move(path)}] = std::move(reply);
}

void ServiceStandIn::scriptOnce(std::string method, std::string path, Reply reply) {
  std::lock_guard lock(impl_->mutex);
  impl_->once[{std::move(method), std::move(path)}].push_back(std::move(reply));
}

void ServiceStandIn::clearScripts() {
  std::lock_guard lock(impl_->mutex);
  impl_->scripts.clear();
  impl_->once.clear();
}

void ServiceStandIn::setZeroTierToken(std::string token) {
  std::lock_guard lock(impl_->mutex);
  impl_->zeroTierToken = std::move(token);
}

std::vector<std::string> ServiceStandIn::zeroTierNetworks() const {
  std::lock_guard lock(impl_->mutex);
  std::vector<std::string> ids;
  for (const auto& [id, network] : impl_->zeroTierJoined) ids.push_back(id);
  return ids;
}

std::pair<std::string, std::string> ServiceStandIn::issueTokens() {
  std::lock_guard lock(impl_->mutex);
  return impl_->issue();
}

void ServiceStandIn::expireAccessTokens() {
  std::lock_guard lock(impl_->mutex);
  impl_->liveAccess.clear();
}

void ServiceStandIn::revokeRefreshTokens() {
  std::lock_guard lock(impl_->mutex);
  impl_->liveRefresh.clear();
}

void ServiceStandIn::setLatestRelease(nlohmann::json data) {
  std::lock_guard lock(impl_->mutex);
  impl_->release = std::move(data);
}

nlohmann::json ServiceStandIn::latestRelease() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->release;
}

void ServiceStandIn::setPackage(std::string bytes) {
  std::lock_guard lock(impl_->mutex);
  impl_->packageBytes = std::move(bytes);
}

std::string ServiceStandIn::package() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->packageBytes;
}

std::vector<Request> ServiceStandIn::requests() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->requests;
}

std::vector<Request> ServiceStandIn::requestsTo(std::string_view path) const {
  std::lock_guard lock(impl_->mutex);
  std::vector<Request> matching;
  for (const Request& request : impl_->requests) {
    if (request.path == path) matching.push_back(request);
  }
  return matching;
}

bool ServiceStandIn::waitForRequests(size_t count, std::chrono::milliseconds limit) const {
  std::unique_lock lock(impl_->mutex);
  return impl_->changed.wait_for(lock, limit, [&] { return impl_->requests.size() >= count; });
}

}  // namespace vistrelle::testing
