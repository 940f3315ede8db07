#pragma once
// The DNS cache capture: the listing tool runs with its output going straight into a capture
// file that this program has just created, and the finished marker follows the listing once
// the tool has ended. No script is written and nothing is run by its path in the program
// folder, so nobody can put another program in the tool's place.

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "dns/commands.h"
#include "platform/platform.h"

namespace vellomar::dns {

// The listing tool's command line: {ipconfig, "/displaydns"} or {ipconfig, "show-cache"}.
std::vector<std::string> ListCommand(const std::string& tool_path, platform::OsFamily os);

class Capture {
 public:
  enum class StartError {
    kNone,          // started
    kNoTool,        // no listing tool was found at start-up (empty path)
    kFolderUnsafe,  // running as root in a folder that others can change (CheckFolderSafety)
    kLeftover,      // something at the capture file's path cannot be removed (a folder)
    kCannotCreate,  // the capture file cannot be created (the folder takes no new file)
    kToolMissing,   // the listing tool is not there (any more)
    kCannotStart,   // the listing tool could not be started
  };
  enum class State {
    kIdle,      // nothing started, or the last capture was taken or cancelled
    kPending,   // the tool is still running
    kFinished,  // the capture is complete: `text` holds the listing and the marker line
    kFailed,    // the capture file could not be completed or read back
  };
  struct PollResult {
    State state = State::kIdle;
    std::string text;
  };

  // `launcher` starts the tool (tests pass a recorder); not owned.
  explicit Capture(platform::Launcher& launcher);
  // Cancels a capture still pending.
  ~Capture();
  Capture(const Capture&) = delete;
  Capture& operator=(const Capture&) = delete;

  // Cancels a pending capture; when running as root, refuses a folder that fails
  // platform::CheckFolderSafety; removes the entry at folder/displaydns.txt whatever its kind
  // (even with no tool); creates the capture file afresh and starts the listing tool with its
  // output going there.
  [[nodiscard]] StartError Start(const std::string& folder, const std::string& tool_path,
                                 platform::OsFamily os = platform::NativeOsFamily());
  // Never blocks. Once the tool has ended, appends the finished marker line and gives the
  // whole capture file (kFinished, once; then kIdle), or kFailed.
  [[nodiscard]] PollResult Poll();
  // Kills the tool and everything it started and removes the capture file. For a time-out.
  void Cancel();

  bool Pending() const { return child_ != nullptr || file_ != nullptr; }
  // folder/displaydns.txt of the last Start.
  const std::string& CapturePath() const { return path_; }
  // How long the pending capture has run.
  std::chrono::steady_clock::duration Elapsed() const;

 private:
  void Release();

  platform::Launcher& launcher_;
  std::unique_ptr<platform::OwnFile> file_;
  std::unique_ptr<platform::ChildProcess> child_;
  std::string path_;
  platform::OsFamily os_ = platform::OsFamily::kPosix;
  std::chrono::steady_clock::time_point started_;
};

}  // namespace vellomar::dns
