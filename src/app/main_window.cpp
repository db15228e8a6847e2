#include "app/main_window.h"

#include <QApplication>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QMenuBar>
#include <QMessageBox>
#include <QPrintDialog>
#include <QPrinter>
#include <QProcess>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QStatusBar>
#include <QTimer>
#include <QVBoxLayout>

#include <cstdio>

#include "app/app_identity.h"
#include "app/beeper.h"
#include "app/console_view.h"
#include "app/display_output.h"
#include "app/gui_host.h"
#include "app/interface_dialog.h"
#include "app/manual_window.h"
#include "app/resources.h"
#include "bus/interface_settings.h"
#include "console/console.h"
#include "console/program_state.h"
#include "script/command_cycle.h"
#include "script/command_files.h"
#include "script/command_language.h"
#include "script/session.h"
#include "interp/command_ids.h"
#include "interp/line_prep.h"

namespace kelvo::app {
QString WindowTitle() {
    return QStringLiteral(KELVO_FILE_DESCRIPTION " " KELVO_PRODUCT_VERSION);
}

MainWindow::MainWindow(std::string historyPath, const HostFactory& makeHost, QWidget* parent)
    : QMainWindow(parent), historyPath_(std::move(historyPath)) {
    KelvoInitResources();
    setWindowTitle(WindowTitle());
    setWindowIcon(QIcon(QStringLiteral(":/kelvoicon.svg")));

    // The settings start at their defaults; a valid history file replaces the
    // protocol, the ports, the IP address and the Save dialog's folder and name.
    const bool firstStart = !QFileInfo::exists(QString::fromStdString(historyPath_));
    InterfaceSettings settings;
    historyFile_.Load(historyPath_, history_, settings, saveDialog_);
    // What the history file has no room for: the window's size and place, the
    // text size.
    settingsPath_ = SettingsFileBeside(historyPath_);
    settingsFile_.Load(settingsPath_);
    ReadLanChoices(settingsFile_, settings);

    view_ = new ConsoleView(this);
    setCentralWidget(view_);
    host_ = makeHost ? makeHost(*view_) : std::make_unique<GuiHost>(*view_);
    console_ = std::make_unique<Console>(*host_);
    session_ = std::make_unique<Session>(*console_, *host_);
    session_->Settings = settings;
    session_->WinsockAvailable = true;  // the socket layer needs no start-up here
    view_->Attach(*session_);
    view_->SetFontPointSize(static_cast<int>(settingsFile_.Integer(
        "font.size", ConsoleView::kMinPoints, ConsoleView::kMaxPoints, view_->DefaultFontPointSize())));
    console_->ClearDisplay();
    BuildMenus();
    BuildStatusBar();
    if (firstStart) {
        // Written before the window has its size: laid out for the size it opens with.
        console_->SetLayout(view_->CellWidth(), view_->CellHeight(), view_->CellsSize(80, 30).width(),
                               view_->CellsSize(80, 30).height());
        ShowFirstStartHint();
    }

    connect(view_, &ConsoleView::lineComplete, this, &MainWindow::RunLine);
    connect(view_, &ConsoleView::recallRequested, this, &MainWindow::Recall);
    connect(view_, &ConsoleView::ctrlBreak, this, &MainWindow::CtrlBreakAtPrompt);
    connect(view_, &ConsoleView::refused, this, [this](const QString& reason) {
        statusBar()->showMessage(reason, 6000);
    });
    connect(view_, &ConsoleView::completionsListed, this, [this](const QString& candidates) {
        statusBar()->showMessage(candidates, 6000);
    });
    view_->installEventFilter(this);

    // Room for 80 columns and 30 rows of the console's font.
    view_->viewport()->setMinimumSize(view_->CellWidth(), view_->CellHeight());
    const QSize cells = view_->CellsSize(80, 30);
    const int barWidth = view_->verticalScrollBar()->sizeHint().width();
    const int barHeight = view_->horizontalScrollBar()->sizeHint().height();
    resize(cells.width() + barWidth,
           cells.height() + barHeight + menuBar()->sizeHint().height() + statusBar()->sizeHint().height());
    view_->setFocus();
}

void MainWindow::RestoreGeometry() {
    const SettingsFile& s = settingsFile_;
    const int width = static_cast<int>(s.Integer("window.width", 200, 16384, 0));
    const int height = static_cast<int>(s.Integer("window.height", 150, 16384, 0));
    if (width > 0 && height > 0) resize(width, height);
    QPoint place(100, 100);
    if (s.Has("window.x") && s.Has("window.y")) {
        const QPoint saved(static_cast<int>(s.Integer("window.x", -16384, 16384, 100)),
                           static_cast<int>(s.Integer("window.y", -16384, 16384, 100)));
        // Only where a screen still shows the window's top part.
        for (const QScreen* screen : QGuiApplication::screens()) {
            if (screen->availableGeometry().intersects(QRect(saved, QSize(width > 0 ? width : 200, 40)))) {
                place = saved;
                break;
            }
        }
    }
    move(place);
    if (s.Flag("window.maximized", false)) setWindowState(windowState() | Qt::WindowMaximized);
}

void MainWindow::SaveWindowSettings() {
    const QRect normal = isMaximized() || isFullScreen() ? normalGeometry() : geometry();
    if (normal.isValid()) {
        // The frame's place, as move() takes it.
        const QPoint place = isMaximized() ? normal.topLeft() : pos();
        settingsFile_.SetInteger("window.x", place.x());
        settingsFile_.SetInteger("window.y", place.y());
        settingsFile_.SetInteger("window.width", normal.width());
        settingsFile_.SetInteger("window.height", normal.height());
    }
    settingsFile_.SetFlag("window.maximized", isMaximized());
    settingsFile_.SetInteger("font.size", view_->FontPointSize());
    WriteLanChoices(settingsFile_, session_->Settings);
    settingsFile_.Save(settingsPath_);  // a folder that cannot be written loses them silently
}

// On the very first start: where help is, where the interface is chosen, and one
// line to try.
void MainWindow::ShowFirstStartHint() {
    PrintText(*session_, kAttrWords, "Welcome. Type ");
    PrintText(*session_, kAttrValue, "?");
    PrintText(*session_, kAttrWords, " and Enter for the list of commands; F1 opens the manual.");
    PrintNewLine(*session_);
    PrintText(*session_, kAttrWords, "Choose GPIB or TCP/IP and the addresses under ");
    PrintText(*session_, kAttrValue, "Interface");
    PrintText(*session_, kAttrWords, " on the menu bar.");
    PrintNewLine(*session_);
    PrintText(*session_, kAttrWords, "Try ");
    PrintText(*session_, kAttrValue, "e 5;*idn?");
    PrintText(*session_, kAttrWords, " : asks the device at GPIB address 5 who it is.");
    PrintNewLine(*session_);
}

void MainWindow::BuildStatusBar() {
    stateLabel_ = new QLabel(this);
    settingsLabel_ = new QLabel(this);
    statusBar()->addWidget(stateLabel_, 1);
    statusBar()->addPermanentWidget(settingsLabel_);
    // While a line runs, the state is looked at again as the line pumps messages.
    statusTimer_ = new QTimer(this);
    statusTimer_->setInterval(100);
    connect(statusTimer_, &QTimer::timeout, this, &MainWindow::RefreshStatus);
    RefreshStatus();
}

QString MainWindow::StateText() const {
    if (session_->KeyWaitActive) return QStringLiteral("Waiting for a key\u2026");
    if (session_->TransferWaitActive) return QStringLiteral("Waiting for response\u2026");
    if (session_->CommandBusy) return QStringLiteral("Running\u2026");
    return QStringLiteral("Ready");
}

QString MainWindow::SettingsText() const {
    QString where;
    const InterfaceSettings& settings = session_->Settings;
    if (IsLan(settings, LanProtocol::Vxi11))
        where = QStringLiteral("VXI-11 %1 %2").arg(QString::fromLatin1(InstrumentHost(settings)),
                                                 QString::fromLatin1(settings.DeviceName));
    else if (IsLan(settings, LanProtocol::Raw))
        where = QStringLiteral("Raw %1:%2").arg(QString::fromLatin1(InstrumentHost(settings))).arg(settings.TcpPort);
    else if (settings.Protocol == BusProtocol::TcpIp)
        where = QStringLiteral("TCP/IP %1:%2").arg(QString::fromLatin1(InstrumentHost(settings))).arg(settings.TcpPort);
    else
        where = QStringLiteral("GPIB device %1").arg(session_->Settings.DeviceAddress);
    const QString timeout = session_->Settings.TimeoutMs > 0
                                ? QStringLiteral("timeout %1 s").arg(session_->Settings.TimeoutMs / 1000.0, 0, 'g', 6)
                                : QStringLiteral("no timeout");
    const QString end = session_->Settings.EndMessage == EndMessageKind::CrLf ? QStringLiteral("end CR LF") : QStringLiteral("end LF");
    return QStringLiteral("%1  |  %2  |  %3").arg(where, timeout, end);
}

void MainWindow::RefreshStatus() {
    if (stateLabel_ == nullptr) return;
    stateLabel_->setText(StateText());
    settingsLabel_->setText(SettingsText());
}

MainWindow::~MainWindow() = default;

void MainWindow::BuildMenus() {
    QMenu* file = menuBar()->addMenu(QStringLiteral("&File"));
    file->addAction(QStringLiteral("&Save Display Text..."), QKeySequence::Save, this,
                    &MainWindow::SaveDisplayTextCommand);
    file->addAction(QStringLiteral("&Print Display Text..."), QKeySequence::Print, this,
                    &MainWindow::PrintDisplayTextCommand);
    file->addSeparator();
    // Exit asks to close the window, exactly as the window's close button does.
    file->addAction(QStringLiteral("&Exit..."), QKeySequence(QStringLiteral("Ctrl+Q")), this, &QWidget::close);
    menuBar()->addAction(QStringLiteral("&Interface"), this, &MainWindow::InterfaceCommand);
    QMenu* help = menuBar()->addMenu(QStringLiteral("&Help"));
    help->addAction(QStringLiteral("&About..."), this, &MainWindow::AboutCommand);
    help->addAction(QStringLiteral("&Help..."), QKeySequence(Qt::Key_F1), this, &MainWindow::HelpCommand);
}

// Enter: take the line, prepare it, show it back, keep it in the history, and run
// it unless a line is running already.
void MainWindow::RunLine() {
    char raw[kLineBufferSize];
    view_->Edit().Take(raw, sizeof raw);
    PreparedLine line;  // a buffer of its own for every Enter
    PrepareLine(raw, line);
    view_->SetEditLine(line.text);
    history_.Add(line.text, view_->Edit().LineEdited());

    const bool nested = session_->CommandBusy;
    if (!nested) {
        stateLabel_->setText(QStringLiteral("Running\u2026"));
        statusTimer_->start();
    }
    const std::int32_t end = RunCommandLine(*session_, line);
    if (nested) return;  // only the completion-beep check ran
    statusTimer_->stop();
    RefreshStatus();
    view_->RedrawPrompt();
    if (end != 0 || endAfterLine_) {
        EndProgram();
        close();
    }
}

void MainWindow::Recall(int direction) {
    if (const char* entry = history_.Recall(direction)) view_->SetEditLine(entry);
    view_->Edit().ClearLineEdited();
}

void MainWindow::CtrlBreakAtPrompt() {
    if (session_->CommandBusy) {
        // A running line that does not listen for it (a WAIT or the connection
        // pause outside a command file): the program ends when the line is done.
        endAfterLine_ = true;
        session_->ExitRequested = true;
        return;
    }
    EndProgram();
    close();
}

// The end of the program: the interface released and the history saved.
void MainWindow::EndProgram() {
    if (ended_) return;
    ended_ = true;
    CloseCommandFiles(*session_);
    GoOffline(*session_);
    CloseConnection(*session_);
    historyFile_.Save(historyPath_, history_, session_->Settings, saveDialog_);
    SaveWindowSettings();
    if (manual_ != nullptr) manual_->close();
    host_->CloseSound();
    emit ended();
}

void MainWindow::closeEvent(QCloseEvent* event) {
    if (ended_) {
        event->accept();
        return;
    }
    // A PAUSE ends, a transfer is aborted (and the program ends after the line), a
    // command file is aborted and the program stays.
    if (DeliverInterrupt(*session_, Interrupt::CloseRequest)) {
        event->ignore();
        return;
    }
    if (session_->CommandBusy) {
        endAfterLine_ = true;
        session_->ExitRequested = true;
        event->ignore();
        return;
    }
    EndProgram();
    event->accept();
}

// The interrupt keys of a running PAUSE, transfer or command file come first.
bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
    if (watched == view_ && event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (session_->KeyWaitActive) {
            DeliverInterrupt(*session_, Interrupt::Escape);
            return true;
        }
        if (session_->TransferWaitActive || session_->CommandFileActive) {
            if (key->key() == Qt::Key_Escape) {
                DeliverInterrupt(*session_, Interrupt::Escape);
                return true;
            }
            if (IsCtrlBreak(*key)) {
                DeliverInterrupt(*session_, Interrupt::CtrlBreak);
                return true;
            }
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

// A dialog must not hold a running command line still: its own event loop would
// nest inside the transfer's wait, which then sees neither its clock nor ESC
// until the dialog closes. While a line runs the dialog is therefore opened
// without a loop of its own (still modal to the window); the wait's passes keep
// it working, and `done` runs when it closes. At the prompt it runs as before.
void MainWindow::RunDialog(std::unique_ptr<QDialog> dialog, std::function<void(int)> done) {
    if (!session_->CommandBusy) {
        const int result = dialog->exec();
        if (done) done(result);
        return;
    }
    QDialog* open = dialog.release();
    connect(open, &QDialog::finished, this, [open, done = std::move(done)](int result) {
        if (done) done(result);
        open->deleteLater();
    });
    open->open();
}

void MainWindow::ShowConsoleMessage(const QString& text) {
    QMessageBox box(QMessageBox::NoIcon, WindowTitle(), text, QMessageBox::Ok, this);
    box.exec();
}

void MainWindow::SaveDisplayTextCommand() {
    auto owned = std::make_unique<QFileDialog>(this, WindowTitle() + QStringLiteral(" - Save Display Text"));
    QFileDialog* dialog = owned.get();
    dialog->setOption(QFileDialog::DontUseNativeDialog);  // the same dialog everywhere, with its Help
    dialog->setAcceptMode(QFileDialog::AcceptSave);
    dialog->setFileMode(QFileDialog::AnyFile);
    dialog->setNameFilter(QStringLiteral("Any File (*.*)"));
    if (!saveDialog_.directory.empty()) dialog->setDirectory(QString::fromStdString(saveDialog_.directory));
    if (!saveDialog_.name.empty()) dialog->selectFile(QString::fromStdString(saveDialog_.name));
    if (auto* buttons = dialog->findChild<QDialogButtonBox*>()) {
        QPushButton* help = buttons->addButton(QDialogButtonBox::Help);
        connect(help, &QPushButton::clicked, dialog, [dialog] {
            QMessageBox box(QMessageBox::NoIcon, WindowTitle(),
                            QStringLiteral("Select filename to receive the display text"), QMessageBox::Ok, dialog);
            box.exec();
        });
    }
    // Centred over the console, a quarter of the free height down.
    dialog->adjustSize();
    const QRect client(view_->mapToGlobal(QPoint(0, 0)), view_->size());
    const int x = std::max(0, (client.width() - dialog->width()) / 2);
    const int y = std::max(0, (client.height() - dialog->height()) / 4);
    dialog->move(client.topLeft() + QPoint(x, y));

    RunDialog(std::move(owned), [this, dialog](int result) {
        if (result != QDialog::Accepted || dialog->selectedFiles().isEmpty()) return;
        const QString chosen = dialog->selectedFiles().constFirst();
        const QFileInfo info(chosen);
        saveDialog_.directory = info.absolutePath().toStdString();
        SaveDisplayText(chosen);
        saveDialog_.name = info.fileName().toStdString();
    });
}

void MainWindow::SaveDisplayText(const QString& path) {
    QApplication::setOverrideCursor(Qt::WaitCursor);
    const SaveOutcome outcome = WriteDisplayText(*console_, path.toStdString());
    QApplication::restoreOverrideCursor();
    if (outcome == SaveOutcome::Saved) return;
    WarningBeep(*session_);
    const char* format = outcome == SaveOutcome::CannotOpen ? "Cannot open file '%1'" : "Error writing to file '%1'";
    ShowConsoleMessage(QString::fromLatin1(format).arg(path));
}

void MainWindow::PrintDisplayTextCommand() {
    if (!printer_) printer_ = std::make_unique<QPrinter>(QPrinter::HighResolution);
    printer_->setPageOrientation(QPageLayout::Portrait);
    auto dialog = std::make_unique<QPrintDialog>(printer_.get(), this);
    dialog->setOption(QAbstractPrintDialog::PrintPageRange, false);
    dialog->setOption(QAbstractPrintDialog::PrintSelection, false);
    dialog->setOption(QAbstractPrintDialog::PrintCurrentPage, false);
    RunDialog(std::move(dialog), [this](int result) {
        if (result == QDialog::Accepted) PrintChosen();
    });
}

void MainWindow::PrintChosen() {
    if (!printer_->isValid()) {
        WarningBeep(*session_);
        ShowConsoleMessage(QStringLiteral("Can't Find Printer"));
        return;
    }
    QApplication::setOverrideCursor(Qt::WaitCursor);
    const PrintOutcome outcome = PrintDisplayText(*printer_, *console_, view_->Edit(), [] {
        QCoreApplication::processEvents();
    });
    QApplication::restoreOverrideCursor();
    printer_->setPageOrientation(QPageLayout::Portrait);
    if (outcome == PrintOutcome::ActivationFailed) {
        WarningBeep(*session_);
        ShowConsoleMessage(QStringLiteral("Printer activation error"));
    }
}

void MainWindow::InterfaceCommand() {
    RunDialog(std::make_unique<InterfaceDialog>(session_->Settings, session_->WinsockAvailable, this), [this](int) { RefreshStatus(); });
}

void MainWindow::AboutCommand() {
    auto dialog = std::make_unique<QDialog>(this);
    QDialog& about = *dialog;
    about.setWindowTitle(QStringLiteral("About " KELVO_FILE_DESCRIPTION));
    auto* icon = new QLabel(&about);
    icon->setPixmap(windowIcon().pixmap(48, 48));
    auto* text = new QLabel(QStringLiteral(KELVO_FILE_DESCRIPTION "\nVersion " KELVO_PRODUCT_VERSION
                                           "\n" KELVO_EXECUTABLE_NAME "\n" KELVO_RIGHTS_HOLDER),
                            &about);
    text->setObjectName(QStringLiteral("aboutText"));
    text->setTextInteractionFlags(Qt::TextSelectableByMouse);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, &about);
    connect(buttons, &QDialogButtonBox::accepted, &about, &QDialog::accept);
    auto* row = new QHBoxLayout;
    row->addWidget(icon);
    row->addWidget(text, 1);
    auto* layout = new QVBoxLayout(&about);
    layout->addLayout(row);
    layout->addWidget(buttons);
    RunDialog(std::move(dialog), {});
}

QString MainWindow::ManualPath() {
    const QString folder = QCoreApplication::applicationDirPath();
    for (const QString& candidate : {folder + QStringLiteral("/KELVO.TXT"),
                                     folder + QStringLiteral("/" KELVO_DOCDIR_FROM_BINDIR "/KELVO.TXT")}) {
        if (QFileInfo::exists(candidate)) return QFileInfo(candidate).canonicalFilePath();
    }
    return QStringLiteral(KELVO_INSTALL_DOCDIR "/KELVO.TXT");
}

// The manual opens in a window of the program, so that it works wherever the
// program does; that window offers the desktop's own viewer too.
void MainWindow::HelpCommand() {
    if (manual_ == nullptr) {
        manual_ = new ManualWindow(this);
        manual_->Load(ManualPath());
    }
    manual_->show();
    manual_->raise();
    manual_->activateWindow();
    manual_->FocusSearch();
}

}  // namespace kelvo::app
