#include "app/environment.h"

#include <QDateTime>
#include <QLocale>
#include <QRegularExpression>

namespace vellomar::app {

Environment SystemEnvironment(platform::Launcher& launcher) {
  Environment env;
  env.program_folder = platform::ProgramFolder();
  env.program_name = platform::ProgramName();
  env.hosts_candidates = platform::HostsCandidates();
  env.notepad_candidates = platform::NotepadCandidates();
  env.ipconfig_candidates = platform::IpconfigCandidates();
  env.clock = LocalDateTimeText;
  env.is_admin = platform::IsUserAnAdmin;
  env.launcher = &launcher;
  env.version_major = VELLOMAR_VERSION_MAJOR;
  env.version_minor = VELLOMAR_VERSION_MINOR;
  env.version_revision = VELLOMAR_VERSION_PATCH;
  return env;
}

std::string WindowTitle(int major, int minor, int revision) {
  return "Vellomar - v" + std::to_string(major) + "." + std::to_string(minor) + "." +
         std::to_string(revision);
}

std::string LocalDateTimeText() {
  const QLocale locale = QLocale::system();
  const QDateTime now = QDateTime::currentDateTime();
  // The long time format of many locales ends in the time zone; a hosts file stamp has none.
  QString time_format = locale.timeFormat(QLocale::LongFormat);
  time_format.remove(QRegularExpression(QStringLiteral("\\s*t+\\s*$")));
  const QString text = locale.toString(now.date(), QLocale::ShortFormat) + QLatin1Char(' ') +
                       locale.toString(now.time(), time_format);
  return text.toStdString();
}

}  // namespace vellomar::app
