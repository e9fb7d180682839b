// The server against a real avahi-daemon, with avahi-browse and
// avahi-publish as the independent peers.  Needs root: the test runs itself
// again inside new mount, network and PID namespaces (unshare), where only
// the loopback interface exists, /run is a fresh tmpfs, and the system bus
// is a private dbus-daemon.  Nothing it starts or sends leaves them; every
// daemon is stopped by its pid, and whatever would outlive the run dies with
// the PID namespace.

#include <gtest/gtest.h>
#include <limits.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <optional>

#include "netlocal/dnssd/dnssd_test_support.h"
#include "netlocal/dnssd/mrb_server.h"
#include "netlocal/dnssd/orvex_bonjour_server_manager.h"
#include "platform/dispatch/event_loop.h"
#include "platform/dispatch/runtime.h"
#include "support/bus/private_buses.h"
#include "support/child_process.h"

namespace vistrelle::netlocal {
namespace {

using namespace testing;
using vistrelle::testing::ChildProcess;
using vistrelle::testing::PrivateBuses;

constexpr char kInside[] = "VISTRELLE_DNSSD_LIVE_NAMESPACE";
constexpr std::chrono::seconds kRunLimit{60};
constexpr std::chrono::seconds kStepLimit{15};

bool inside() {
  return std::getenv(kInside) != nullptr;
}

// The daemons and ip live in the administrator's folders, which a PATH may
// leave out.  Before any thread starts.
void addAdministratorFolders() {
  const char* path = std::getenv("PATH");
  std::string folders = path ? path : "/usr/bin:/bin";
  for (const char* folder : {"/usr/sbin", "/sbin"}) {
    if ((":" + folders + ":").find(":" + std::string(folder) + ":") == std::string::npos)
      folders += std::string(":") + folder;
  }
  setenv("PATH", folders.c_str(), 1);
}

bool installed(const std::string& program) {
  const std::string folders = std::getenv("PATH");
  size_t start = 0;
  while (start <= folders.size()) {
    const size_t end = std::min(folders.find(':', start), folders.size());
    if (access((folders.substr(start, end - start) + "/" + program).c_str(), X_OK) == 0)
      return true;
    start = end + 1;
  }
  return false;
}

// Waits until `process` has printed `text`.
bool waitForOutput(ChildProcess& process, const std::string& text,
                   std::chrono::milliseconds limit = kStepLimit) {
  return eventually([&] { return process.output().find(text) != std::string::npos; }, limit);
}

// Inside the namespaces: a tmpfs on /run, the loopback interface up, private
// buses, and avahi-daemon with a configuration of ours.  The runtime comes
// after the buses' addresses are in the environment.
class LiveEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    addAdministratorFolders();
    if (inside()) setUpNamespace();
    runtime_ = std::make_unique<dispatch::Runtime>(std::make_shared<dispatch::EventLoop>(),
                                                   dispatch::Runtime::Options{4});
  }
  void TearDown() override {
    runtime_.reset();  // stops the servers, and with them their daemon connections
    daemon_.reset();
    buses_.reset();
  }

  static inline std::string error;

 private:
  void setUpNamespace() {
    if (mount("tmpfs", "/run", "tmpfs", 0, "mode=0755") != 0) {
      error = std::string("tmpfs on /run: ") + std::strerror(errno);
      return;
    }
    mkdir("/run/avahi-daemon", 0755);
    mkdir("/run/vistrelle-live", 0700);
    setenv("TMPDIR", "/run/vistrelle-live", 1);
    ChildProcess link({"ip", "link", "set", "lo", "up"});
    if (link.waitExit(kStepLimit) != 0) {
      error = "ip link set lo up: " + link.output();
      return;
    }
    buses_ = std::make_unique<PrivateBuses>();
    if (!buses_->ok()) {
      error = buses_->error();
      return;
    }
    const std::string config = "/run/vistrelle-live/avahi-daemon.conf";
    std::ofstream(config) << "[server]\nuse-ipv4=yes\nuse-ipv6=no\nallow-interfaces=lo\n"
                             "[publish]\npublish-workstation=no\npublish-hinfo=no\n";
    daemon_ = std::make_unique<ChildProcess>(std::vector<std::string>{
        "avahi-daemon", "--no-drop-root", "--no-chroot", "--no-rlimits", "-f", config});
    if (!waitForOutput(*daemon_, "Server startup complete"))
      error = "avahi-daemon did not start: " + daemon_->output();
  }

  std::unique_ptr<PrivateBuses> buses_;
  std::unique_ptr<ChildProcess> daemon_;
  std::unique_ptr<dispatch::Runtime> runtime_;
};

::testing::Environment* const kEnvironment =
    ::testing::AddGlobalTestEnvironment(new LiveEnvironment);

TEST(MRBServerLive, AgainstAvahiDaemonInNamespacesOfItsOwn) {
  if (geteuid() != 0)
    GTEST_SKIP() << "needs root: it runs avahi-daemon in mount, network and PID namespaces of "
                    "its own (unshare)";
  for (const char* program :
       {"unshare", "ip", "dbus-daemon", "avahi-daemon", "avahi-browse", "avahi-publish"}) {
    if (!installed(program)) GTEST_SKIP() << program << " is not installed";
  }
  const std::vector<std::string> unshare = {"unshare", "-mnpf", "--kill-child=SIGKILL",
                                            "--mount-proc"};
  {
    auto probe = unshare;
    probe.push_back("true");
    ChildProcess child(probe);
    if (child.waitExit(kStepLimit) != 0)
      GTEST_SKIP() << "no namespaces to be had here: " << child.output();
  }

  char self[PATH_MAX] = {};
  ASSERT_GT(readlink("/proc/self/exe", self, sizeof self - 1), 0);
  auto command = unshare;
  command.insert(command.end(), {self, "--gtest_filter=MRBServerLiveInside.*",
                                 "--gtest_also_run_disabled_tests", "--gtest_color=no"});
  ChildProcess run(command, {std::string(kInside) + "=1"});
  const auto status = run.waitExit(kRunLimit);
  ASSERT_TRUE(status) << "not finished within " << kRunLimit.count() << " s:\n" << run.output();
  EXPECT_EQ(*status, 0) << run.output();
  EXPECT_NE(run.output().find("[  PASSED  ] 1 test."), std::string::npos) << run.output();
}

// A name as avahi-browse -p prints it.
std::string browseEscaped(const std::string& name) {
  std::string out;
  for (unsigned char c : name) {
    if (std::isalnum(c) || c == '-' || c == '_') {
      out += static_cast<char>(c);
    } else if (c == '.' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else {
      char code[5];
      std::snprintf(code, sizeof code, "\\%03u", c);
      out += code;
    }
  }
  return out;
}

// avahi-browse -p -r on the type: "+", "-" and "=" (resolved) lines.
class BrowsePeer {
 public:
  BrowsePeer() : process_({"avahi-browse", "-p", "-r", "-k", "_nvstream._tcp"}) {}

  // Waits for a line starting with `prefix` that begins at or after `from`;
  // its position, or none.
  std::optional<size_t> waitForLine(const std::string& prefix, size_t from = 0) {
    std::optional<size_t> found;
    eventually([&] {
      const std::string& output = process_.output();
      for (size_t at = from; at < output.size();) {
        const size_t end = output.find('\n', at);
        if (end == std::string::npos) break;
        if (output.compare(at, prefix.size(), prefix) == 0) {
          found = at;
          return true;
        }
        at = end + 1;
      }
      return false;
    });
    return found;
  }
  std::string lineAt(size_t at) {
    const std::string& output = process_.output();
    return output.substr(at, output.find('\n', at) - at);
  }
  const std::string& output() { return process_.output(); }

 private:
  ChildProcess process_;
};

std::string entry(char kind, const std::string& name) {
  return std::string(1, kind) + ";lo;IPv4;" + browseEscaped(name) + ";_nvstream._tcp;local";
}

bool sawAdded(const RecordingServerDelegate& delegate, const std::string& name) {
  for (const auto& event : delegate.events())
    if (event.kind == "added" && event.service.name == name) return true;
  return false;
}

TEST(MRBServerLiveInside, DISABLED_AnnouncesWithdrawsRenamesBrowsesAndConnects) {
  ASSERT_TRUE(inside()) << "runs inside its namespaces only";
  ASSERT_EQ(LiveEnvironment::error, "");
  BrowsePeer browse;

  // The shared manager's announcement: the host's name, on 127.0.0.1, with
  // the streaming host's port (not the listener's).
  auto managerDelegate = std::make_shared<RecordingServerDelegate>();
  const MRBServerPtr manager = OrvexBonjourServerManager::shareManager().server();
  manager->setDelegate(managerDelegate);
  ASSERT_TRUE(eventually([&] { return manager->localService().has_value(); }, kStepLimit))
      << browse.output();
  const std::string hostName = manager->name();
  ASSERT_FALSE(hostName.empty());
  const auto resolved = browse.waitForLine("=" + entry('+', hostName).substr(1) + ";");
  ASSERT_TRUE(resolved) << browse.output();
  EXPECT_NE(browse.lineAt(*resolved).find(";127.0.0.1;47989;"), std::string::npos)
      << browse.lineAt(*resolved);

  // A client on the listener's own port withdraws it; its leaving brings it
  // back.  Nothing listens on the announced port.
  const uint16_t listening = manager->socket()->localPort();
  EXPECT_FALSE(connectLoopback(47989).valid());
  UniqueFd client = connectLoopback(listening);
  ASSERT_TRUE(client.valid());
  ASSERT_TRUE(managerDelegate->waitFor("complete", 1, kStepLimit));
  const auto withdrawn = browse.waitForLine(entry('-', hostName));
  ASSERT_TRUE(withdrawn) << browse.output();
  client.reset();
  ASSERT_TRUE(managerDelegate->waitFor("lost", 1, kStepLimit));
  ASSERT_TRUE(browse.waitForLine(entry('+', hostName), *withdrawn)) << browse.output();

  // A name that avahi-publish holds already: ours comes up under avahi's
  // alternative.
  ChildProcess taken({"avahi-publish", "-s", "vistrelle-taken", "_nvstream._tcp", "1111"});
  ASSERT_TRUE(waitForOutput(taken, "Established under name 'vistrelle-taken'")) << taken.output();
  auto delegate = std::make_shared<RecordingServerDelegate>();
  auto server = MRBServer::createWithDomainName("", "_nvstream._tcp.", "vistrelle-taken");
  server->setDelegate(delegate);
  SocketErrorPtr error;
  ASSERT_TRUE(server->start(&error, 2222));
  ASSERT_TRUE(eventually([&] { return server->name() == "vistrelle-taken #2"; }, kStepLimit))
      << server->name();
  ASSERT_TRUE(browse.waitForLine(entry('+', "vistrelle-taken #2"))) << browse.output();

  // Our search sees the others, then one announced after it began, and never
  // ourselves (announced before it began, so reported before the late one).
  server->searchForServicesOfType("_nvstream._tcp.");
  ASSERT_TRUE(eventually(
      [&] { return sawAdded(*delegate, "vistrelle-taken") && sawAdded(*delegate, hostName); },
      kStepLimit));
  uint16_t peerPort = 0;
  UniqueFd peerListener = listenLoopback(&peerPort);
  ASSERT_TRUE(peerListener.valid());
  ChildProcess late(
      {"avahi-publish", "-s", "vistrelle-peer", "_nvstream._tcp", std::to_string(peerPort)});
  ASSERT_TRUE(eventually([&] { return sawAdded(*delegate, "vistrelle-peer"); }, kStepLimit))
      << late.output();
  EXPECT_FALSE(sawAdded(*delegate, "vistrelle-taken #2"));

  // Looking the late one up connects to its address and port.
  dnssd::DnsSdServiceRecord peer;
  for (const auto& event : delegate->events())
    if (event.kind == "added" && event.service.name == "vistrelle-peer") peer = event.service;
  server->connectToRemoteService(peer);
  UniqueFd accepted = acceptWithin(peerListener.get(), kStepLimit);
  ASSERT_TRUE(accepted.valid());
  ASSERT_TRUE(delegate->waitFor("complete", 1, kStepLimit));
  ASSERT_TRUE(writeAll(accepted.get(), "ping"));
  ASSERT_TRUE(delegate->waitForReceived(4, kStepLimit));
  EXPECT_EQ(delegate->received(), "ping");
  EXPECT_EQ(server->sendText("pong"), MRBServerSendQueued);
  EXPECT_EQ(readUpTo(accepted.get(), 4, kStepLimit), "pong");

  server->stop();
  ASSERT_TRUE(delegate->waitFor("stopped", 1, kStepLimit));
}

}  // namespace
}  // namespace vistrelle::netlocal
