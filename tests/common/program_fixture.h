#pragma once
// A program folder with its Hostfiles, a "system" folder holding the hosts file, an editor and
// the resolver tool, a launcher that records, and the environment a run over them starts from.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "common/test_util.h"
#include "session/environment.h"

namespace vellomar::testing {

using V = std::vector<std::string>;

class ProgramFixture : public ::testing::Test {
 protected:
  ProgramFixture() {
    std::filesystem::create_directory(P("Hostfiles"));
    WriteFile(Sys("editor"), "#!/bin/sh\n");
    WriteFile(Sys("resolvectl"), "#!/bin/sh\n");
  }

  session::Environment Env() {
    session::Environment env;
    env.program_folder = program.path();
    env.program_name = "vellomar";
    env.hosts_candidates = {Sys("missing"), Sys("hosts")};
    env.editor_candidates = {Sys("editor")};
    env.resolver_candidates = {Sys("resolvectl")};
    env.line_end = support::LineEnd::kLf;
    env.os = platform::OsFamily::kPosix;
    env.clock = [this] {
      ++merges;
      return std::string("07/12/2026 01:02:03");
    };
    env.is_admin = [this] { return admin; };
    env.launcher = &launcher;
    env.install_lock.folder = locks.path();
    env.version_major = 1;
    env.version_revision = 61;
    return env;
  }

  std::string P(const std::string& name) const { return program.File(name); }
  std::string Sys(const std::string& name) const { return system.File(name); }
  void Source(const std::string& name, const std::string& bytes) {
    WriteFile(P("Hostfiles/" + name), bytes);
  }
  void SetHosts(const std::string& bytes) { WriteFile(Sys("hosts"), bytes); }
  std::string Hosts() const { return ReadFile(Sys("hosts")); }
  std::string Merged() const { return ReadFile(P("M_Hosts.txt")); }
  std::string Log() const { return ReadFile(P("vellomar_Log.txt")); }

  TempDir program;
  TempDir system;
  TempDir locks;
  RecordingLauncher launcher;
  int merges = 0;  // merges that passed their checks (each asks the clock once)
  bool admin = true;
};

// A header with the dated lines the version report compares.
inline std::string HeaderText(const std::string& updated) {
  return "# Sample header\n# ------- Updated: " + updated +
         " -------\n# ------- Created: #CREATEDDATE# -------\n127.0.0.1 localhost\n::1 "
         "localhost\n";
}

}  // namespace vellomar::testing
