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

}  // namespace

class InterfaceDialogTest : public QObject {
    Q_OBJECT
private slots:
    void init() { settings_ = InterfaceSettings{}; }

    void ipTextParsing() {
        const std::pair<const char*, const char*> cases[] = {
            {"192.168.0.7", "192.168.0.7"}, {"10.0.5", "10.0.5.0"}, {"", "0.0.0.0"}, {"1.2.3.4.5", "1.2.3.4"},
            {"12ab.x.7 .3", "12.0.7.3"},  // leading digits
            {"70000.300.-1.65535", "4464.300.-1.-1"},  // sixteen bits, unchecked
        };
        for (const auto& [text, stored] : cases) QCOMPARE(ParseIpText(text), std::string(stored));
    }

    // It opens with the settings and OK stores its fields; a port above the
    // signed range shows unsigned. (How it opens on the defaults is in layout.txt.)
    void okStoresTheFieldsAndTheyShowAgain() {
        settings_.DeviceAddress = 7;
        std::strcpy(settings_.IpAddress, "10.9.8.7");
        {
            InterfaceDialog dialog(settings_);
            QCOMPARE(dialog.AddressList()->currentText(), QStringLiteral("Address 07"));
            QCOMPARE(dialog.IpEdit()->text(), QStringLiteral("10.9.8.7"));
            dialog.TcpIpButton()->setChecked(true);
            dialog.AddressList()->setCurrentIndex(21);
            dialog.IpEdit()->setText(QStringLiteral(" 10.0.05.9 "));
            dialog.PortEdit()->setText(QStringLiteral("40000"));
            dialog.LanKindList()->setCurrentIndex(2);
            dialog.DeviceNameEdit()->setText(QStringLiteral("gpib0"));
            dialog.KeepConnectionBox()->setChecked(true);
            dialog.accept();
            QCOMPARE(dialog.result(), int(QDialog::Accepted));
        }
        QCOMPARE(settings_.Protocol, BusProtocol::TcpIp);
        QCOMPARE(settings_.DeviceAddress, std::int16_t{22});
        QCOMPARE(std::string(settings_.IpAddress), std::string("10.0.5.9"));
        QCOMPARE(settings_.TcpPort, std::uint16_t{40000});
        QCOMPARE(settings_.Lan, LanProtocol::Vxi11);
        QCOMPARE(std::string(settings_.DeviceName), std::string("gpib0"));
        QCOMPARE(settings_.KeepConnection, true);
        InterfaceDialog again(settings_);
        QVERIFY(again.TcpIpButton()->isChecked() && !again.GpibButton()->isChecked());
        QCOMPARE(QStringList({again.PortEdit()->text(), again.LanKindList()->currentText(), again.DeviceNameEdit()->text()}),
                 QStringList({"40000", "VXI-11", "gpib0"}));
        QVERIFY(again.KeepConnectionBox()->isChecked());
    }

    // What the connection could not use is refused with the reason, and nothing
    // is stored until it is put right (which values are good is the core's to say).
    void refusesWhatTheConnectionCannotUse() {
        const char* const cases[][4] = {{"127.0.0.1", "70000", "inst0", "The TCP port \"70000\" is not"},
                                        {"abc.999.1", "", "inst0", "The IP address \"abc.999.1\" is not"},
                                        {"127.0.0.1", "5000", "gpib 0", "The VXI-11 device \"gpib 0\" is not"}};
        for (const auto& [ip, port, device, reason] : cases) {
            InterfaceDialog dialog(settings_);
            dialog.show();
            dialog.TcpIpButton()->setChecked(true);
            dialog.IpEdit()->setText(QString::fromLatin1(ip));
            dialog.PortEdit()->setText(QString::fromLatin1(port));
            dialog.DeviceNameEdit()->setText(QString::fromLatin1(device));
            dialog.accept();
            QVERIFY(dialog.isVisible());
            QVERIFY2(dialog.Refusal().startsWith(QString::fromLatin1(reason)), qPrintable(dialog.Refusal()));
            QCOMPARE(settings_.Protocol, BusProtocol::Gpib);
            // Put right, it is taken.
            dialog.IpEdit()->setText(QStringLiteral("192.168.1.20"));
            dialog.PortEdit()->setText(QStringLiteral("65535"));
            dialog.DeviceNameEdit()->setText(QStringLiteral("inst1"));
            dialog.accept();
            QVERIFY(dialog.Refusal().isEmpty() && !dialog.isVisible());
            QCOMPARE(settings_.TcpPort, std::uint16_t{65535});
            settings_ = InterfaceSettings{};
        }
    }

    // A host name is taken beside the dotted address, which the history file
    // keeps; a dotted address again clears the name.
    void okTakesAHostName() {
        {
            InterfaceDialog dialog(settings_);
            dialog.IpEdit()->setText(QStringLiteral(" scope-1.lab "));
            dialog.accept();
        }
        QCOMPARE(std::string(settings_.HostName), std::string("scope-1.lab"));
        QCOMPARE(std::string(settings_.IpAddress), std::string("127.0.0.1"));
        InterfaceDialog again(settings_);
        QCOMPARE(again.IpEdit()->text(), QStringLiteral("scope-1.lab"));
        again.IpEdit()->setText(QStringLiteral("10.0.0.2"));
        again.accept();
        QCOMPARE(std::string(settings_.HostName), std::string());
        QCOMPARE(std::string(settings_.IpAddress), std::string("10.0.0.2"));
    }

    // Cancel changes nothing; without the socket layer the protocol stays GPIB.
    void cancelOrNoSocketsLeaveGpib() {
        for (const bool sockets : {true, false}) {
            InterfaceDialog dialog(settings_, sockets);
            dialog.TcpIpButton()->setChecked(true);
            dialog.PortEdit()->setText(QStringLiteral("1"));
            sockets ? dialog.reject() : dialog.accept();
            QCOMPARE(settings_.Protocol, BusProtocol::Gpib);
            QCOMPARE(settings_.TcpPort, std::uint16_t(sockets ? 5000 : 1));
        }
    }

private:
    InterfaceSettings settings_;
};

class SavePrintTest : public QObject {
    Q_OBJECT
private slots:
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
        auto ink = [&](int x, int y) { return image.pixelIndex(x, y) == 0; };
        QVERIFY(!ink(16 + 8, 0) && !ink(16 + 8, 15));
        QVERIFY(ink(16 + 2, 2) && ink(16 + 13, 2) && ink(16 + 7, 2));
        QVERIFY(ink(16 + 2, 7) && ink(16 + 3, 7) && !ink(16 + 4, 7) && !ink(16 + 11, 7) && ink(16 + 12, 7));
        int blankInk = 0, letterInk = 0;
        for (int at = 0; at < 16 * 16; ++at) blankInk += ink(32 + at % 16, at / 16), letterInk += ink(at % 16, at / 16);
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
};

class MenuTest : public QObject {
    Q_OBJECT
private slots:
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

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    InterfaceDialogTest dialog;
    SavePrintTest output;
    MenuTest menus;
    return QTest::qExec(&dialog, argc, argv) + QTest::qExec(&output, argc, argv) + QTest::qExec(&menus, argc, argv);
}

#include "dialogs_output_test.moc"
