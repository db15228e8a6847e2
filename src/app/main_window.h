// The main window: the console as its client area, the menus, the command-line
// cycle and the interrupt keys of a running command line.
#pragma once

#include <QMainWindow>

#include <functional>
#include <memory>
#include <string>

#include "console/history.h"
#include "console/history_file.h"
#include "console/settings_file.h"
#include "script/session.h"

namespace kelvo {
class Console;
}

class QDialog;
class QLabel;
class QPrinter;
class QTimer;

namespace kelvo::app {

class ConsoleView;
class GuiHost;
class ManualWindow;

// The caption of the window and of its message boxes: description and version.
QString WindowTitle();

class MainWindow : public QMainWindow {
    Q_OBJECT
public:
    using HostFactory = std::function<std::unique_ptr<GuiHost>(ConsoleView&)>;

    // `historyPath` is the history file; `makeHost` builds the platform host (the
    // real one when empty).
    explicit MainWindow(std::string historyPath, const HostFactory& makeHost = {}, QWidget* parent = nullptr);
    ~MainWindow() override;

    ConsoleView& View() { return *view_; }
    Console& Store() { return *console_; }
    Session& TheSession() { return *session_; }
    CommandHistory& History() { return history_; }
    SaveDialogState& SaveDialog() { return saveDialog_; }
    // True once the program has ended: history saved, window going away.
    bool HasEnded() const { return ended_; }

    // The menu commands.
    void SaveDisplayTextCommand();
    void PrintDisplayTextCommand();
    void InterfaceCommand();
    void AboutCommand();
    void HelpCommand();

    // Saving with the messages of a failure; used by the Save command.
    void SaveDisplayText(const QString& path);
    // The manual and how it is opened.
    static QString ManualPath();
    ManualWindow* Manual() const { return manual_; }

    // The status bar: what the window is doing, and the interface settings.
    void RefreshStatus();
    QString StateText() const;
    QString SettingsText() const;
    // The window's size and place as the settings file remembers them, or the
    // first start's place.
    void RestoreGeometry();
    std::string SettingsPath() const { return settingsPath_; }

signals:
    void ended();

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void RunLine();
    void Recall(int direction);
    void CtrlBreakAtPrompt();
    void EndProgram();
    void ShowConsoleMessage(const QString& text);
    void RunDialog(std::unique_ptr<QDialog> dialog, std::function<void(int)> done);
    void PrintChosen();
    void BuildMenus();
    void BuildStatusBar();
    void ShowFirstStartHint();
    void SaveWindowSettings();

    std::string historyPath_;
    std::string settingsPath_;
    SettingsFile settingsFile_;
    ManualWindow* manual_ = nullptr;
    QLabel* stateLabel_ = nullptr;
    QLabel* settingsLabel_ = nullptr;
    QTimer* statusTimer_ = nullptr;
    ConsoleView* view_;
    std::unique_ptr<GuiHost> host_;
    std::unique_ptr<Console> console_;   // the display text store, drawn by view_
    std::unique_ptr<Session> session_;   // everything the command lines change
    CommandHistory history_;
    HistoryFile historyFile_;
    SaveDialogState saveDialog_;
    std::unique_ptr<QPrinter> printer_;  // the printer chosen last, for the next print
    bool ended_ = false;
    bool endAfterLine_ = false;
};

}  // namespace kelvo::app
