// Fuzz target: the companion connection in both directions.
// Input: one byte chooses the road.
//  - Even: a message tree taken off the input goes through the line encoder.
//    Checked: a line is one compact JSON object ending in CR LF with no CR or
//    LF before it, that parses back to the tree (non-finite numbers as 0);
//    no line only for a text that is not UTF-8 or nesting past the limit.
//  - Odd: the rest is chunks (a length byte, then that many bytes; a length
//    byte's top bit waits for the server to take the chunk before the next)
//    that a loopback client sends to a running server.  Checked: the server
//    takes every byte, in reads no larger than its bound, sends nothing back
//    and keeps the client.
// Links: vistrelle_netlocal_companion vistrelle_base nlohmann_json::nlohmann_json

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <chrono>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <string>
#include <thread>

#include <nlohmann/json.hpp>

#include "base/helpers/utf8.h"
#include "base/state/main_state.h"
#include "fuzz/fuzz_support.h"
#include "netlocal/companion/companion_line.h"
#include "netlocal/companion/orvex_local_server.h"
#include "platform/dispatch/event_loop.h"
#include "platform/dispatch/runtime.h"
#include "platform/dispatch/unique_fd.h"

namespace {

using namespace vistrelle;
using fuzz::ByteReader;
using netlocal::CompanionLine;
using netlocal::OrvexLocalServer;

// ---------------------------------------------------------------------------
// The encoder

struct Built {
  Value value;
  nlohmann::json expected;  // what the line must parse back to
  bool writable = true;     // every text UTF-8, nesting within the limit
};

constexpr size_t kMaxNodes = 400;
constexpr size_t kMaxTreeDepth = CompanionLine::kMaxDepth + 8;

Built build(ByteReader& in, size_t depth, size_t& nodes);

Built buildMap(ByteReader& in, size_t depth, size_t& nodes) {
  Built built{Value::Map{}, nlohmann::json::object()};
  built.writable = depth <= CompanionLine::kMaxDepth;
  Value::Map map;
  const size_t count = in.u8() % 6;
  for (size_t i = 0; i < count && nodes < kMaxNodes; ++i) {
    const std::string key(in.sizedText());
    Built entry = build(in, depth + 1, nodes);
    if (map.count(key) != 0) continue;  // the first of a repeated key stays
    built.writable = built.writable && entry.writable && base::isValidUtf8(key);
    if (base::isValidUtf8(key)) built.expected[key] = entry.expected;
    map.emplace(key, std::move(entry.value));
  }
  built.value = Value(std::move(map));
  return built;
}

Built build(ByteReader& in, size_t depth, size_t& nodes) {
  ++nodes;
  // Past a few levels beyond the limit only leaves: deeper trees show
  // nothing new and cost the run time.
  const bool leavesOnly = depth >= kMaxTreeDepth;
  const uint8_t kind = nodes >= kMaxNodes ? 0 : in.u8() % (leavesOnly ? 6 : 9);
  switch (kind) {
    case 0:
      return {Value(), nlohmann::json(nullptr)};
    case 1: {
      const bool b = in.flag();
      return {Value(b), nlohmann::json(b)};
    }
    case 2: {
      const auto i = static_cast<int64_t>(in.u64());
      return {Value(static_cast<long long>(i)), nlohmann::json(i)};
    }
    case 3: {
      double d;
      const uint64_t bits = in.u64();
      std::memcpy(&d, &bits, sizeof d);
      return {Value(d), std::isfinite(d) ? nlohmann::json(d) : nlohmann::json(0)};
    }
    case 4: {
      const float special[] = {std::numeric_limits<float>::infinity(),
                               -std::numeric_limits<float>::infinity(),
                               std::numeric_limits<float>::quiet_NaN(), 0.1f, -0.0f};
      const float f = special[in.u8() % 5];
      return {Value(f), std::isfinite(f) ? nlohmann::json(double{f}) : nlohmann::json(0)};
    }
    case 5: {
      const std::string text(in.sizedText());
      return {Value(text), base::isValidUtf8(text) ? nlohmann::json(text) : nlohmann::json(),
              base::isValidUtf8(text)};
    }
    case 6: {
      Built built{Value::List{}, nlohmann::json::array()};
      built.writable = depth <= CompanionLine::kMaxDepth;
      Value::List list;
      const size_t count = in.u8() % 6;
      for (size_t i = 0; i < count && nodes < kMaxNodes; ++i) {
        Built entry = build(in, depth + 1, nodes);
        built.writable = built.writable && entry.writable;
        built.expected.push_back(entry.expected);
        list.push_back(std::move(entry.value));
      }
      built.value = Value(std::move(list));
      return built;
    }
    case 7: {
      // A long chain of single-element lists, to meet the nesting limit.
      const size_t chain = in.u8() % (kMaxTreeDepth - depth + 1);
      Built built = build(in, depth + chain, nodes);
      for (size_t i = 0; i < chain; ++i) {
        built.value = Value(Value::List{built.value});
        built.expected = nlohmann::json::array({built.expected});
        built.writable = built.writable && depth + chain - 1 - i <= CompanionLine::kMaxDepth;
      }
      return built;
    }
    default:
      return buildMap(in, depth, nodes);
  }
}

void encoderRoad(ByteReader& in) {
  size_t nodes = 0;
  Built message = buildMap(in, 1, nodes);
  const std::optional<std::string> line = CompanionLine::encode(*message.value.asMap());
  FUZZ_CHECK(line.has_value() == message.writable);
  if (!line) return;
  FUZZ_CHECK(line->size() >= 4);
  FUZZ_CHECK(line->compare(line->size() - 2, 2, "\r\n") == 0);
  const std::string_view body(line->data(), line->size() - 2);
  FUZZ_CHECK(body.find('\r') == std::string_view::npos);
  FUZZ_CHECK(body.find('\n') == std::string_view::npos);
  FUZZ_CHECK(body.front() == '{' && body.back() == '}');
  const nlohmann::json parsed = nlohmann::json::parse(body, nullptr, false);
  FUZZ_CHECK(parsed.is_object());
  FUZZ_CHECK(parsed == message.expected);
  // Compact: written again, the text is the same.
  FUZZ_CHECK(parsed.dump() == body);
}

// ---------------------------------------------------------------------------
// The read road: one server and one client for the whole run

class Road {
 public:
  Road() {
    auto main = std::make_shared<dispatch::EventLoop>();
    runtime_ = std::make_unique<dispatch::Runtime>(main, dispatch::Runtime::Options{4});
    loop_ = std::thread([main] { main->run(); });
    OrvexLocalServer::Options options;
    options.serverPort = 65536 + 40000;
    options.state = &state_;
    options.log = [](std::string_view) {};
    server_ = OrvexLocalServer::create(std::move(options));
    main->sync([this] { server_->createLocalServer(); });
    uint16_t port = 0;
    main->sync([&] { port = server_->listeningPort(); });
    FUZZ_CHECK(port != 0);
    client_ = dispatch::UniqueFd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    FUZZ_CHECK(::connect(client_.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) ==
               0);
    FUZZ_CHECK(waitFor([&] { return server_->isConnect(); }));
  }

  void feed(ByteReader& in) {
    while (!in.empty()) {
      const uint8_t header = in.u8();
      const std::span<const uint8_t> chunk = in.bytes(header & 0x7F ? header & 0x7F : 128);
      send(chunk);
      if (header & 0x80) awaitTaken();
    }
    awaitTaken();
    const OrvexLocalServer::ReadStats stats = server_->readStats();
    FUZZ_CHECK(stats.largestRead <= OrvexLocalServer::kReadChunk);
    FUZZ_CHECK(server_->isConnect());
    char byte;
    FUZZ_CHECK(::recv(client_.get(), &byte, 1, MSG_DONTWAIT) < 0 && errno == EAGAIN);
  }

 private:
  template <class Done>
  static bool waitFor(Done done) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!done()) {
      if (std::chrono::steady_clock::now() > end) return false;
      std::this_thread::sleep_for(std::chrono::microseconds(20));
    }
    return true;
  }

  void send(std::span<const uint8_t> bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
      const ssize_t n =
          ::send(client_.get(), bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
      FUZZ_CHECK(n > 0);
      done += static_cast<size_t>(n);
    }
    sent_ += bytes.size();
  }

  void awaitTaken() {
    FUZZ_CHECK(waitFor([&] { return server_->readStats().bytes == sent_; }));
  }

  MainState state_;
  std::unique_ptr<dispatch::Runtime> runtime_;
  std::thread loop_;
  std::shared_ptr<OrvexLocalServer> server_;
  dispatch::UniqueFd client_;
  uint64_t sent_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  ByteReader in(data + 1, size - 1);
  if (data[0] % 2 == 0) {
    encoderRoad(in);
  } else {
    // Never destroyed: the server and its threads serve every input of the
    // run and go with the process.
    static Road* road = new Road;
    road->feed(in);
  }
  return 0;
}
