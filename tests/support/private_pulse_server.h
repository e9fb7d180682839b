#pragma once

// A PulseAudio server of the test's own: no autospawn, its own runtime
// folder, a native socket that takes anonymous clients, and one null sink
// "orvex_audio" described as "ORVEX-Audio" (the glasses' sink as the code
// under test sees it).  Clients connect through server(); pactl() drives it
// as another program would.  Stopped, and its folder removed, with the object.
//
//   PrivatePulseServer pulse;
//   ASSERT_TRUE(pulse.running()) << pulse.error();
//   auto server = audio::AudioServer::system(pulse.server());
//   pulse.pactl({"set-sink-volume", "orvex_audio", "60%"});
//
// Root may run it (it warns); it reaches no session bus and needs no cookie.

#include <stdlib.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "support/child_process.h"

namespace vistrelle::testing {

class PrivatePulseServer {
 public:
  static constexpr const char* kSinkName = "orvex_audio";
  static constexpr const char* kSinkDescription = "ORVEX-Audio";

  PrivatePulseServer() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/vistrelle-pulse-XXXXXX";
    if (!mkdtemp(pattern.data())) {
      error_ = "no temporary folder";
      return;
    }
    folder_ = pattern;  // mkdtemp makes it 0700, as a runtime folder must be
    // setpriv hands the server a parent-death signal: a test that crashes
    // or is stopped by a sanitizer takes its server with it.
    daemon_ = std::make_unique<ChildProcess>(
        std::vector<std::string>{
            "setpriv", "--pdeathsig", "TERM", "pulseaudio", "-n", "--daemonize=no",
            "--exit-idle-time=-1", "--disallow-exit", "--use-pid-file=no", "--log-target=stderr",
            "-L", "module-native-protocol-unix socket=" + folder_ + "/native auth-anonymous=1",
            "-L", sinkModuleArguments()},
        environment());
    if (!daemon_->started()) {
      error_ = "pulseaudio could not be started";
      daemon_.reset();
      return;
    }
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(15);
    while (std::chrono::steady_clock::now() < end) {
      if (daemon_->waitExit(std::chrono::milliseconds(0))) break;
      if (pactl({"list", "short", "sinks"}) == 0) return;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    error_ = "pulseaudio did not come up: " + daemon_->output();
    daemon_.reset();
  }

  ~PrivatePulseServer() {
    daemon_.reset();
    if (!folder_.empty()) {
      std::error_code ignored;
      std::filesystem::remove_all(folder_, ignored);
    }
  }
  PrivatePulseServer(const PrivatePulseServer&) = delete;
  PrivatePulseServer& operator=(const PrivatePulseServer&) = delete;

  bool running() const { return daemon_ != nullptr; }
  const std::string& error() const { return error_; }
  // The server's address as libpulse takes it.
  std::string server() const { return "unix:" + folder_ + "/native"; }
  // Where no server listens.
  std::string missingServer() const { return "unix:" + folder_ + "/nobody-here"; }

  // pactl on this server; its exit status (-1 when it hung), its output in
  // `output`.
  int pactl(std::vector<std::string> args, std::string* output = nullptr) const {
    args.insert(args.begin(), "pactl");
    std::vector<std::string> env = environment();
    env.push_back("PULSE_SERVER=" + server());
    ChildProcess tool(args, env);
    const std::optional<int> status = tool.waitExit(std::chrono::seconds(10));
    if (output) *output = tool.output();
    return status ? *status : -1;
  }

  // The glasses' sink as module-null-sink makes it (for a reload).
  static std::string sinkModuleArguments() {
    return std::string("module-null-sink sink_name=") + kSinkName +
           " sink_properties=device.description=" + kSinkDescription;
  }

  // Ends the server now, as a crash would.
  void kill() { daemon_.reset(); }

 private:
  std::vector<std::string> environment() const {
    // A runtime and home folder of its own: no cookie, no state of the
    // user's, no other server found.
    return {"XDG_RUNTIME_DIR=" + folder_, "HOME=" + folder_, "PULSE_RUNTIME_PATH=" + folder_,
            "XDG_CONFIG_HOME=" + folder_};
  }

  std::string folder_;
  std::string error_;
  std::unique_ptr<ChildProcess> daemon_;
};

}  // namespace vistrelle::testing
