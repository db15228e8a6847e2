// kelvo: the desktop program. One window whose client area is the console.
#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

#include "app/app_identity.h"
#include "app/main_window.h"
#include "console/console.h"
#include "console/history_file.h"

namespace {

// Beside the program, like the program's own name with the extension "HIS"; an
// installed copy keeps it in the user's state folder instead, since the program's
// folder is not the user's to write.
std::string HistoryPath() {
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

}  // namespace

int main(int argc, char** argv) {
    kelvo::TheConsole();  // the console exists before the window
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral(KELVO_PRODUCT_NAME));
    QApplication::setApplicationVersion(QStringLiteral(KELVO_PRODUCT_VERSION));
    QApplication::setDesktopFileName(QStringLiteral("kelvo"));
    kelvo::app::MainWindow window(HistoryPath());
    QObject::connect(&window, &kelvo::app::MainWindow::ended, &app, &QCoreApplication::quit, Qt::QueuedConnection);
    window.show();
    return app.exec();
}
