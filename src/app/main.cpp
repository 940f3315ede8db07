#include <QApplication>
#include <QCommandLineParser>
#include <QCoreApplication>

#include "app/privileged_wait.h"
#include "app/run.h"

int main(int argc, char* argv[]) {
  {
    // The command line first, without a window system: --help and --version answer and end
    // here, also where there is no display at all.
    QCoreApplication command_line(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("vellomar"));
    QCoreApplication::setApplicationVersion(QStringLiteral(VELLOMAR_VERSION_TEXT));
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Builds the system hosts file from the sources in Hostfiles/ and installs it.\n"
        "vellomar-cli does the same from the command line."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.process(command_line);
  }
  QApplication application(argc, argv);
  QApplication::setApplicationName(QStringLiteral("vellomar"));
  QApplication::setApplicationVersion(QStringLiteral(VELLOMAR_VERSION_TEXT));
  const auto launcher = vellomar::app::WaitingInWindow(vellomar::platform::CreateSystemLauncher());
  vellomar::app::Environment env = vellomar::app::SystemEnvironment(*launcher);
  // An install that finds another under way says so at once: the window never waits on the
  // lock in its event loop.
  env.install_lock.wait_ms = 0;
  env.http_get = vellomar::app::FetchingInWindow(env.http_get);
  return vellomar::app::Run(application, env, vellomar::platform::ProgramPath());
}
