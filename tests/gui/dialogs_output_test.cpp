// The Interface dialog, Exit, the manual, Save Display Text and Print Display
// Text.
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPrinter>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>

#include <cstring>

#include "app/display_output.h"
#include "app/interface_dialog.h"
#include "app/manual_window.h"
#include "app/print_glyphs.h"
#include "gui_fixture.h"

using namespace kelvo;
using namespace kelvo::app;
using namespace kelvo::gui_test;

namespace {

// Runs `act` on the modal dialog the next call opens.
void OnModal(std::function<void(QWidget*)> act) {
    QTimer::singleShot(0, [act] {
        if (QWidget* dialog = QApplication::activeModalWidget()) act(dialog);
    });
}

// The settings the dialog edits, as text.
std::string Stored(const InterfaceSettings& s) {
    return std::string(s.Protocol == BusProtocol::Gpib ? "GPIB " : "TCP/IP ") + std::to_string(s.DeviceAddress) + ' ' +
           s.IpAddress + " [" + s.HostName + "] " + std::to_string(s.TcpPort) + ' ' +
           std::to_string(static_cast<int>(s.Lan)) + ' ' + s.DeviceName + (s.KeepConnection ? " keep" : "");
}

// The dialog's fields, as text.
QString Shown(const InterfaceDialog& d) {
    return QStringList{d.TcpIpButton()->isChecked() ? "TCP/IP" : d.GpibButton()->isChecked() ? "GPIB" : "none",
                       d.AddressList()->currentText(), d.IpEdit()->text(), d.PortEdit()->text(),
                       d.LanKindList()->currentText(), d.DeviceNameEdit()->text(),
                       d.KeepConnectionBox()->isChecked() ? "keep" : "once"}
        .join(u' ');
}

}  // namespace

class DialogsOutputTest : public QObject {
    Q_OBJECT
private slots:
    void ipTextParsing() {
        const std::pair<const char*, const char*> cases[] = {
            {"192.168.0.7", "192.168.0.7"}, {"10.0.5", "10.0.5.0"}, {"", "0.0.0.0"}, {"1.2.3.4.5", "1.2.3.4"},
            {"12ab.x.7 .3", "12.0.7.3"},  // leading digits
            {"70000.300.-1.65535", "4464.300.-1.-1"},  // sixteen bits, unchecked
        };
        for (const auto& [text, stored] : cases) QCOMPARE(ParseIpText(text), std::string(stored));
    }

    // The fields as typed, OK (or Cancel), and what is stored or why it is
    // refused (which values are good is the core's to say); the dialog opened
    // again shows what was stored. (How it opens on the defaults is in layout.txt.)
    void okStoresTheFieldsOrSaysWhyNot() {
        struct Row {
            const char* ip;
            const char* port;
            const char* device;
            bool ok, sockets;
            const char* result;  // the stored settings, or the refusal's start
            const char* shown;   // by the dialog opened again
        } const rows[] = {
            {" 10.0.05.9 ", "40000", "gpib0", true, true, "TCP/IP 22 10.0.5.9 [] 40000 2 gpib0 keep",
             "TCP/IP Address 22 10.0.5.9 40000 VXI-11 gpib0 keep"},
            {" scope-1.lab ", "1", "inst0", true, true, "TCP/IP 22 10.9.8.7 [scope-1.lab] 1 2 inst0 keep",
             "TCP/IP Address 22 scope-1.lab 1 VXI-11 inst0 keep"},
            {"10.0.0.2", "1", "inst0", true, false, "GPIB 22 10.0.0.2 [] 1 2 inst0 keep", nullptr},  // no socket layer
            {"10.0.0.2", "1", "inst0", false, true, "GPIB 7 10.9.8.7 [] 5000 0 inst0", nullptr},     // cancelled
            {"127.0.0.1", "70000", "inst0", true, true, "The TCP port \"70000\" is not", nullptr},
            {"abc.999.1", "", "inst0", true, true, "The IP address \"abc.999.1\" is not", nullptr},
            {"127.0.0.1", "5000", "gpib 0", true, true, "The VXI-11 device \"gpib 0\" is not", nullptr},
        };
        for (const Row& row : rows) {
            InterfaceSettings settings;
            settings.DeviceAddress = 7;
            std::strcpy(settings.IpAddress, "10.9.8.7");
            InterfaceDialog dialog(settings, row.sockets);
            dialog.show();
            QCOMPARE(Shown(dialog), QStringLiteral("GPIB Address 07 10.9.8.7 5000 With greeting inst0 once"));
            dialog.TcpIpButton()->setChecked(true);
            dialog.AddressList()->setCurrentIndex(21);
            dialog.IpEdit()->setText(QString::fromLatin1(row.ip));
            dialog.PortEdit()->setText(QString::fromLatin1(row.port));
            dialog.LanKindList()->setCurrentIndex(2);
            dialog.DeviceNameEdit()->setText(QString::fromLatin1(row.device));
            dialog.KeepConnectionBox()->setChecked(true);
            row.ok ? dialog.accept() : dialog.reject();
            const bool refused = std::strncmp(row.result, "The ", 4) == 0;
            QCOMPARE(dialog.isVisible(), refused);
            if (refused) {
                QVERIFY2(dialog.Refusal().startsWith(QString::fromLatin1(row.result)), qPrintable(dialog.Refusal()));
                QCOMPARE(Stored(settings), std::string("GPIB 7 10.9.8.7 [] 5000 0 inst0"));  // nothing stored
                dialog.IpEdit()->setText(QStringLiteral("1.2.3.4"));  // put right, it is taken
                dialog.PortEdit()->setText(QStringLiteral("2"));
                dialog.DeviceNameEdit()->setText(QStringLiteral("inst1"));
                dialog.accept();
                QCOMPARE(Stored(settings), std::string("TCP/IP 22 1.2.3.4 [] 2 2 inst1 keep"));
                QVERIFY(dialog.Refusal().isEmpty() && !dialog.isVisible());
            } else {
                QCOMPARE(QString::fromStdString(Stored(settings)), QString::fromLatin1(row.result));
            }
            if (row.shown != nullptr) QCOMPARE(Shown(InterfaceDialog(settings)), QString::fromLatin1(row.shown));
        }
    }

    void savedTextIsOneLineFeedEndedLinePerDisplayLine() {
        Window w;
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("saved.txt"));
        w->SaveDisplayText(path);
        QCOMPARE(ReadAll(path), QByteArray());  // made, empty
        Session& s = w->TheSession();
        PrintText(s, kAttrValue, "A");
        PrintNewLine(s);
        PrintNewLine(s);
        PrintText(s, kAttrError, "B");
        PrintNewLine(s);
        PrintText(s, kAttrValue, "unfinished");  // the line being written is not saved
        w->SaveDisplayText(path);
        QCOMPARE(ReadAll(path), QByteArray("A\n\nB\n"));
        QVERIFY(w.Host().beeps.empty());
        QCOMPARE(WriteDisplayText(w->Store(), "/nonexistent-folder/x.txt"), SaveOutcome::CannotOpen);
    }

    void theSaveDialogRemembersItsFolderAndName() {
        Window w;
        QTemporaryDir dir;
        w->SaveDialog() = {dir.path().toStdString(), "first.txt"};
        PrintText(w->TheSession(), kAttrValue, "saved");
        PrintNewLine(w->TheSession());
        QString title, shownFolder, shownName;
        const QString second = dir.filePath(QStringLiteral("second.log"));
        OnModal([&](QWidget* modal) {
            auto* dialog = qobject_cast<QFileDialog*>(modal);
            title = dialog->windowTitle();
            shownFolder = dialog->directory().absolutePath();
            shownName = dialog->selectedFiles().value(0);
            QVERIFY(dialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Help));
            dialog->selectFile(second);
            QMetaObject::invokeMethod(dialog, "accept", Qt::DirectConnection);
        });
        w->SaveDisplayTextCommand();
        QCOMPARE(title, app::WindowTitle() + QStringLiteral(" - Save Display Text"));
        QCOMPARE(shownFolder, dir.path());
        QCOMPARE(QFileInfo(shownName).fileName(), QStringLiteral("first.txt"));
        QCOMPARE(ReadAll(second), QByteArray("saved\n"));
        QCOMPARE(w->SaveDialog().directory, dir.path().toStdString());
        QCOMPARE(w->SaveDialog().name, std::string("second.log"));
        // Cancelled: nothing is written, nothing remembered; nor is a print.
        OnModal([](QWidget* dialog) { dialog->close(); });
        w->SaveDisplayTextCommand();
        QCOMPARE(w->SaveDialog().name, std::string("second.log"));
        OnModal([](QWidget* dialog) { dialog->close(); });
        w->PrintDisplayTextCommand();
        QVERIFY(w.Host().beeps.empty());
    }

    void pageGeometry() {
        // dpi, page width and height; character width and height, rows a page
        const int cases[][6] = {{600, 4800, 6600, 30, 53, 113}, {300, 2400, 3300, 15, 26, 115}};
        for (const auto& c : cases) {
            const PrintGeometry g = ComputePrintGeometry(c[0], c[0], c[1], c[2]);
            QCOMPARE(QList<int>({g.charWidth, g.charHeight, g.rows, g.left, g.top}),
                     QList<int>({c[3], c[4], c[5], c[0] / 2, c[0] / 2}));
        }
    }

    void lineImagesUseTheGlyphsAndTheHollowBox() {
        const char text[] = {'A', static_cast<char>(200), ' '};
        const QImage image = LineImage(text, 3);
        QCOMPARE(image.size(), QSize(48, 16));
        // The box: top and bottom two rows paper, walls two pixels wide.
        auto ink = [&](int x, int y) { return image.pixelColor(x, y) == Qt::black; };
        QVERIFY(!ink(16 + 8, 0) && !ink(16 + 8, 15));
        QVERIFY(ink(16 + 2, 2) && ink(16 + 13, 2) && ink(16 + 7, 2));
        QVERIFY(ink(16 + 2, 7) && ink(16 + 3, 7) && !ink(16 + 4, 7) && !ink(16 + 11, 7) && ink(16 + 12, 7));
        int blankInk = 0, letterInk = 0;
        for (int at = 0; at < 16 * 16; ++at)
            blankInk += image.pixelColor(32 + at % 16, at / 16) != Qt::white, letterInk += ink(at % 16, at / 16);
        QVERIFY(blankInk == 0 && letterInk > 20);
        QCOMPARE(GlyphIndex(127), 95);
        QCOMPARE(GlyphIndex(31), kSubstituteGlyph);
    }

    void printsAPdfWithPageBreaks() {
        Window w;
        for (int i = 0; i < 150; ++i) {
            PrintText(w->TheSession(), kAttrValue, "printed line ");
            PrintLong(w->TheSession(), kAttrValue, i);
            PrintNewLine(w->TheSession());
        }
        w.Type("ENTER 5");
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("out.pdf"));
        QPrinter printer(QPrinter::HighResolution);
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(path);
        printer.setPageSize(QPageSize(QPageSize::A4));
        const QRect area = printer.pageLayout().paintRectPixels(printer.resolution());
        const PrintGeometry g =
            ComputePrintGeometry(printer.logicalDpiX(), printer.logicalDpiY(), area.width(), area.height());
        int pumps = 0;
        QCOMPARE(PrintDisplayText(printer, w->Store(), w.View().Edit(), [&] { ++pumps; }), PrintOutcome::Printed);
        const int pages = (1 + 150) / g.rows + 1;  // the edit line first
        QCOMPARE(pumps, 150 + (pages - 1));
        const QByteArray pdf = ReadAll(path);
        QVERIFY(pdf.startsWith("%PDF"));
        QCOMPARE(pdf.count("/Type /Page\n") + pdf.count("/Type /Page\r") + pdf.count("/Type /Page "), pages);
        QVERIFY(pdf.contains("CopperDoc") || pdf.contains(QByteArray("C\0o\0p\0p\0e\0r\0D\0o\0c", 17)));

        printer.setOutputFileName(QStringLiteral("/nonexistent-folder/out.pdf"));
        QCOMPARE(PrintDisplayText(printer, w->Store(), w.View().Edit(), {}), PrintOutcome::ActivationFailed);
    }

    // F1 opens the manual, which finds and hands the file to the desktop's
    // viewer; Exit acts as the close button and closes the manual too. (The
    // menus themselves, and the About box, are in layout.txt.)
    void theManualAndExit() {
        QTemporaryDir bin;
        const QString record = bin.filePath(QStringLiteral("opened"));
        QFile viewer(bin.filePath(QStringLiteral("xdg-open")));
        QVERIFY(viewer.open(QIODevice::WriteOnly));
        viewer.write(QStringLiteral("#!/bin/sh\necho \"$@\" > '%1'\n").arg(record).toLocal8Bit());
        viewer.close();
        viewer.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        const QByteArray path = qgetenv("PATH");
        qputenv("PATH", bin.path().toLocal8Bit() + ":" + path);
        Window w;
        w.Enter("A");
        w.Key(Qt::Key_F1);
        ManualWindow* manual = w->Manual();
        QVERIFY(manual && manual->isVisible());
        QPlainTextEdit* text = manual->Text();
        QVERIFY(manual->Find(QStringLiteral("serial poll")));
        QCOMPARE(text->textCursor().selectedText().toLower(), QStringLiteral("serial poll"));
        const int first = text->textCursor().selectionStart();
        QVERIFY(manual->Find(QStringLiteral("serial poll")));
        QVERIFY(text->textCursor().selectionStart() > first);
        QVERIFY(manual->Find(QStringLiteral("serial poll"), true));
        QCOMPARE(text->textCursor().selectionStart(), first);
        QVERIFY(!manual->Find(QStringLiteral("no such words zq")));
        QCOMPARE(manual->SearchStatus()->text(), QStringLiteral("Not found"));
        manual->FocusSearch();  // the search field finds as one types
        QTest::keyClicks(manual->SearchField(), QStringLiteral("Ctrl+Break"));
        QCOMPARE(text->textCursor().selectedText(), QStringLiteral("Ctrl+Break"));
        for (QPushButton* button : manual->findChildren<QPushButton*>())
            if (button->text().contains(QStringLiteral("External"))) button->click();
        qputenv("PATH", path);
        QTRY_VERIFY(QFileInfo(record).size() > 0);
        QCOMPARE(QString::fromLocal8Bit(ReadAll(record)).trimmed(), app::MainWindow::ManualPath());
        QVERIFY(app::MainWindow::ManualPath().endsWith(QStringLiteral("/KELVO.TXT")));

        w->menuBar()->actions()[0]->menu()->actions().last()->trigger();
        QVERIFY(w->HasEnded() && !manual->isVisible());
        QCOMPARE(QFileInfo(w.HistoryPath()).size(), 6996);

        ManualWindow missing;
        QVERIFY(!missing.Load(QStringLiteral("/nonexistent/KELVO.TXT")));
        QVERIFY(missing.Text()->toPlainText().contains(QStringLiteral("/nonexistent/KELVO.TXT")));
    }
};

QTEST_MAIN(DialogsOutputTest)
#include "dialogs_output_test.moc"
