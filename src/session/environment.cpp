#include "session/environment.h"

#include <ctime>

#include "install/entries.h"
#include "support/file_reader.h"

namespace vellomar::session {

Environment SystemEnvironment(platform::Launcher& launcher) {
  Environment env;
  const std::string program_folder = platform::ProgramFolder();
  env.folder_choice = platform::ChooseProgramFolder(program_folder, platform::UserDataHome());
  env.program_folder = env.folder_choice.folder;
  env.program_name = "vellomar";
  env.system_folder = platform::SystemFolder();
  env.hosts_candidates = platform::HostsCandidates();
  env.editor_candidates = platform::EditorCandidates();
  env.resolver_candidates = platform::ResolverToolCandidates();
  env.clock = LocalDateTimeText;
  env.host_name = platform::HostName;
  env.is_admin = platform::IsUserAnAdmin;
  // Root, or an elevated administrator, installs in the program itself.
  if (!platform::IsUserAnAdmin()) {
    env.privileged_install = platform::PrivilegedInstallCommand(
        platform::InstallHelperPath(program_folder),
        platform::JoinPath(program_folder, platform::kInstalledAction));
  }
  env.launcher = &launcher;
  env.http_get = platform::HttpGet;
  env.version_major = VELLOMAR_VERSION_MAJOR;
  env.version_minor = VELLOMAR_VERSION_MINOR;
  env.version_revision = VELLOMAR_VERSION_PATCH;
  (void)KeepOwnEntriesInSeededHeader(env);  // without it the samples are seeded as they are
  return env;
}

bool KeepOwnEntriesInSeededHeader(const Environment& env) {
  if (!env.folder_choice.seeded) return false;
  const std::string hosts = platform::FirstExisting(env.hosts_candidates);
  if (hosts.empty()) return false;
  const install::OwnEntries own = install::ReadOwnEntries(hosts);
  if (own.status != platform::ReadStatus::kOk || own.entries.empty()) return false;
  const std::string header = platform::JoinPath(
      platform::JoinPath(env.folder_choice.folder, "Hostfiles"), std::string(kSeededHeader));
  std::string bytes;
  if (support::ReadWholeFile(header, bytes, support::InstallReadOptions()) !=
      platform::ReadStatus::kOk) {
    return false;
  }
  const std::string_view end = support::LineEndText(env.line_end);
  if (!bytes.empty() && bytes.back() != '\n') bytes.append(end);
  bytes.append(end)
      .append(kKeptEntriesComment)
      .append(hosts)
      .append(" on ")
      .append(env.clock ? env.clock() : std::string())
      .append(end);
  for (const install::HostEntry& entry : own.entries) {
    bytes.append(entry.address).append(" ").append(entry.name).append(end);
  }
  const auto file = platform::CreateReplacementFile(header);
  return file && file->Write(bytes) &&
         file->Commit() == platform::ReplacementFile::CommitResult::kReplaced;
}

std::string VersionText(const Environment& env) {
  return std::to_string(env.version_major) + "." + std::to_string(env.version_minor) + "." +
         std::to_string(env.version_revision);
}

std::string LocalDateTimeText() {
  const std::time_t now = std::time(nullptr);
  // One thread asks, so the shared result of localtime is safe here.
  const std::tm* local = std::localtime(&now);
  if (local == nullptr) return {};
  char text[128];
  const std::size_t length = std::strftime(text, sizeof text, "%x %X", local);
  return std::string(text, length);
}

}  // namespace vellomar::session
