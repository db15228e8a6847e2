// kelvo: the desktop program. One window whose client area is the console.
#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QSocketNotifier>
#include <QStandardPaths>

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <string_view>

#include "app/app_identity.h"
#include "app/main_window.h"
#include "console/console.h"
#include "console/history_file.h"

namespace {

// KELVO_HISTORY_FILE, else beside the program, like the program's own name with
// the extension "HIS"; an installed copy keeps it in the user's state folder
// instead, since the program's folder is not the user's to write.
std::string HistoryPath() {
    // Chosen by the user (the terminal console honours the same variable).
    const QString chosen = qEnvironmentVariable("KELVO_HISTORY_FILE");
    if (!chosen.isEmpty()) return chosen.toStdString();
    const QString program = QCoreApplication::applicationFilePath();
    const QString folder = QFileInfo(program).absolutePath();
    const bool installed =
        folder == QDir::cleanPath(QStringLiteral(KELVO_INSTALL_BINDIR)) ||
        QFileInfo::exists(folder + QStringLiteral("/" KELVO_DOCDIR_FROM_BINDIR "/KELVO.TXT"));
    if (!installed) return kelvo::HistoryFileBeside(program.toStdString());
    QString state = qEnvironmentVariable("XDG_STATE_HOME");
    if (state.isEmpty() || !QDir::isAbsolutePath(state)) state = QDir::homePath() + QStringLiteral("/.local/state");
    const QString stateFolder = state + QStringLiteral("/kelvo");
    QDir().mkpath(stateFolder);
    return (stateFolder + QStringLiteral("/kelvo.HIS")).toStdString();
}

// A termination request (the session ending, kill) is the window's close
// request: it reaches the program through a pipe and the event loop. The pipe is
// the only state the signal handler touches; it is made once, before the handler
// is installed.
int signalPipe[2] = {-1, -1};

extern "C" void OnTerminate(int) {
    const char byte = 1;
    [[maybe_unused]] auto n = write(signalPipe[1], &byte, 1);
}

void WatchTerminationSignals(QWidget& window) {
    if (pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) return;
    auto* notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, &window);
    QObject::connect(notifier, &QSocketNotifier::activated, &window, [&window] {
        char buffer[16];
        while (read(signalPipe[0], buffer, sizeof buffer) > 0) {
        }
        window.close();
    });
    struct sigaction action {};
    action.sa_handler = OnTerminate;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGHUP, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
    // A file that reaches the size limit is a failed write, reported as such.
    signal(SIGXFSZ, SIG_IGN);
}

}  // namespace

int main(int argc, char** argv) {
    // Answered before Qt starts, so that it needs no display.
    if (argc == 2 && std::string_view(argv[1]) == "--version") {
        std::printf("%s %s\n", KELVO_EXECUTABLE_NAME, KELVO_PRODUCT_VERSION);
        return 0;
    }
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral(KELVO_PRODUCT_NAME));
    QApplication::setApplicationVersion(QStringLiteral(KELVO_PRODUCT_VERSION));
    QApplication::setDesktopFileName(QStringLiteral("kelvo"));
    kelvo::app::MainWindow window(HistoryPath());
    QObject::connect(&window, &kelvo::app::MainWindow::ended, &app, &QCoreApplication::quit, Qt::QueuedConnection);
    WatchTerminationSignals(window);
    window.RestoreGeometry();
    window.show();
    return app.exec();
}
