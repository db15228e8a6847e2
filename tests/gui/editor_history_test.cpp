// The command-line editor and the command history, driven by keys as a user
// types them, and the history file that carries both across a restart.
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QStatusBar>
#include <QTest>

#include <cstring>

#include "bus/interface_settings.h"
#include "console/history_file.h"
#include "gui_fixture.h"

using namespace kelvo;
using namespace kelvo::gui_test;

namespace {

int Entries(const CommandHistory& history) {
    int n = 0;
    for (const auto& entry : history.entries) n += entry[0] != '\0';
    return n;
}

QByteArray ReadAll(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return {};
    return file.readAll();
}

}  // namespace

class EditorTest : public QObject {
    Q_OBJECT
private slots:
    // Tab completes the word before the caret: a command word, an option of that
    // command, a file name after FO (keeping the typed case); several candidates
    // are named in the status bar; nothing behind ';' is touched.
    void tabCompletesCommandWordsOptionsAndFileNames() {
        QTemporaryDir folder;
        QVERIFY(folder.isValid());
        QFile(folder.filePath(QStringLiteral("Reading1.txt"))).open(QIODevice::WriteOnly);
        const QString before = QDir::currentPath();
        QDir::setCurrent(folder.path());
        Window w;
        w.Type("ent");
        w.Key(Qt::Key_Tab);
        QCOMPARE(w.EditText(), std::string("ENTER "));
        QVERIFY(w.View().Edit().LineEdited());
        w.Type("5 f");
        w.Key(Qt::Key_Tab);
        QCOMPARE(w.EditText(), std::string("ENTER 5 F"));
        for (const char* option : {"FD", "FO", "FO2", "FO3"})
            QVERIFY2(w->statusBar()->currentMessage().contains(QLatin1String(option)),
                     qPrintable(w->statusBar()->currentMessage()));
        w.Type("o ");
        w.Key(Qt::Key_Tab);  // the only file in the folder
        QCOMPARE(w.EditText(), std::string("ENTER 5 Fo Reading1.txt "));
        w.Key(Qt::Key_Escape);
        w.Type("ENTER 5 FO read");
        w.Key(Qt::Key_Tab);
        QCOMPARE(w.EditText(), std::string("ENTER 5 FO reading1.txt "));
        // The caret in the middle: only the word before it changes.
        w.Key(Qt::Key_Escape);
        w.Type("OUT 7");
        w.Key(Qt::Key_Home);
        for (int i = 0; i < 3; ++i) w.Key(Qt::Key_Right);
        w.Key(Qt::Key_Tab);
        QCOMPARE(w.EditText(), std::string("OUTPUT  7"));
        w.Key(Qt::Key_Escape);
        w.Type("OUTPUT 7 ;ENT");
        w.Key(Qt::Key_Tab);
        QCOMPARE(w.EditText(), std::string("OUTPUT 7 ;ENT"));
        QDir::setCurrent(before);
    }

    void enterShowsThePreparedLineAndStoresIt() {
        Window w;
        w.Enter("e 5");
        QCOMPARE(w.EditText(), std::string("ENTER 5"));
        QCOMPARE(std::string(w->History().entries[0]), std::string("ENTER 5"));
        QCOMPARE(w.View().Edit().CaretColumn(), 8);

        w.Key(Qt::Key_Escape);
        w.Enter("  output   7 ;Hello  World");
        QCOMPARE(std::string(w->History().entries[1]), std::string("OUTPUT 7 ;Hello World"));
        QCOMPARE(w.EditText(), std::string("OUTPUT 7 ;Hello World"));
    }

    void recallGoesBackAndWrapsSkippingEmptyEntries() {
        Window w;
        w.Key(Qt::Key_Up);
        w.Key(Qt::Key_Down);
        QCOMPARE(w.EditText(), std::string());  // an empty history recalls nothing

        for (const char* line : {"A", "B", "C"}) {
            w.Key(Qt::Key_Escape);
            w.Enter(line);
        }
        QCOMPARE(w.EditText(), std::string("C"));
        const std::pair<Qt::Key, const char*> steps[] = {{Qt::Key_Up, "B"}, {Qt::Key_Up, "A"}, {Qt::Key_Up, "C"},
                                                         {Qt::Key_Up, "B"}, {Qt::Key_Up, "A"}, {Qt::Key_Down, "B"}};
        for (const auto& [key, expected] : steps) {
            w.Key(key);
            QCOMPARE(w.EditText(), std::string(expected));
        }
    }

    void enterTwiceStoresTwiceButARecalledLineOnce() {
        Window w;
        w.Enter("A");
        w.Key(Qt::Key_Return);
        QCOMPARE(Entries(w->History()), 2);

        w.Key(Qt::Key_Escape);
        w.Enter("B");
        w.Key(Qt::Key_Up);  // A, unchanged
        QCOMPARE(w.EditText(), std::string("A"));
        w.Key(Qt::Key_Return);
        QCOMPARE(Entries(w->History()), 3);
        QCOMPARE(w.EditText(), std::string("A"));  // it ran all the same

        // Edited after the recall, it is a new line.
        w.Key(Qt::Key_Up);
        w.Type("1");
        w.Key(Qt::Key_Return);
        QCOMPARE(Entries(w->History()), 4);
    }

    void linesBeginningWithXAndEmptyLinesAreNotStored() {
        Window w;
        w.Key(Qt::Key_Return);
        QCOMPARE(Entries(w->History()), 0);
        QCOMPARE(w->History().empty, 1);
        w.Enter("xyz");
        QCOMPARE(Entries(w->History()), 0);
        QCOMPARE(w->History().empty, 1);
    }

    // The line goes on past the window's width, up to 254 characters, the row
    // scrolling sideways to keep the caret in view.
    void theTwoHundredFiftyFifthCharacterBeepsAndIsRefused() {
        Window w;
        QCOMPARE(w->Store().VisibleColumns(), 80);
        std::string typed;
        for (int i = 0; i < 254; ++i) typed += static_cast<char>('a' + i % 26);
        w.Type(typed.c_str());
        QCOMPARE(w.View().Edit().EditEnd(), 255);
        QVERIFY(w.Host().beeps.empty());
        QCOMPARE(w.View().EditScroll(), 255 - 80 + 1);  // the caret in the last column
        w.Type("b");
        QCOMPARE(w.View().Edit().EditEnd(), 255);
        QCOMPARE(w.Host().beeps, Beeps{kWarningBeep});
        QVERIFY(w->statusBar()->currentMessage().contains(QStringLiteral("254 characters")));
        QCOMPARE(w.EditText(), typed);
        // Not even in the middle of a full line; Home shows the row's start again.
        w.Key(Qt::Key_Home);
        QCOMPARE(w.View().EditScroll(), 0);
        w.Type("c");
        QCOMPARE(w.EditText(), typed);
        QCOMPARE(w.Host().beeps.size(), std::size_t{2});
        // The whole line runs.
        w.Key(Qt::Key_Return);
        QCOMPARE(w.EditText().size(), std::size_t{254});
    }

    void editingKeys() {
        Window w;
        w.Key(Qt::Key_Backspace);  // at column 1: nothing
        w.Type("ABCD");
        w.Key(Qt::Key_Delete);  // at the end: nothing
        QCOMPARE(w.EditText(), std::string("ABCD"));
        QVERIFY(w.Host().beeps.empty());

        w.Key(Qt::Key_Left);
        w.Key(Qt::Key_Left);
        w.Key(Qt::Key_Backspace);  // B goes
        QCOMPARE(w.EditText(), std::string("ACD"));
        QCOMPARE(w.View().Edit().CaretColumn(), 2);
        w.Key(Qt::Key_Delete);  // C goes
        QCOMPARE(w.EditText(), std::string("AD"));
        w.Type("x");
        QCOMPARE(w.EditText(), std::string("AxD"));
        w.Key(Qt::Key_Home);
        QCOMPARE(w.View().Edit().CaretColumn(), 1);
        w.Key(Qt::Key_End);
        QCOMPARE(w.View().Edit().CaretColumn(), 4);
        w.Key(Qt::Key_Right);
        QCOMPARE(w.View().Edit().CaretColumn(), 4);
        w.Key(Qt::Key_F, Qt::AltModifier);  // a menu shortcut, not a character
        w.Key(Qt::Key_A, Qt::ControlModifier);
        QCOMPARE(w.EditText(), std::string("AxD"));
        w.Key(Qt::Key_Escape);
        QCOMPARE(w.EditText(), std::string());
        QCOMPARE(w.View().Edit().CaretColumn(), 1);
        QCOMPARE(std::string(w.View().Edit().Row(), 1), std::string(">"));
    }

    void wordMovesWithControl() {
        Window w;
        w.Type("SEND 5 CMD");
        QCOMPARE(w.View().Edit().CaretColumn(), 11);
        const int expectedLeft[] = {8, 6, 1, 1};  // C, 5, S, then stays
        for (const int column : expectedLeft) {
            w.Key(Qt::Key_Left, Qt::ControlModifier);
            QCOMPARE(w.View().Edit().CaretColumn(), column);
        }
        const int expectedRight[] = {6, 8, 11, 11};
        for (const int column : expectedRight) {
            w.Key(Qt::Key_Right, Qt::ControlModifier);
            QCOMPARE(w.View().Edit().CaretColumn(), column);
        }
    }

    void aNarrowerWindowKeepsTheEditLineAndScrollsIt() {
        Window w;
        w.Type("0123456789ABCDEFGHIJ   ");
        const int cell = w.View().CellWidth();
        const QSize before = w->size();
        w->resize(before.width() - w.View().viewport()->width() + 11 * cell, before.height());
        QTRY_COMPARE(w->Store().VisibleColumns(), 11);
        QCOMPARE(w.EditText(), std::string("0123456789ABCDEFGHIJ"));  // trailing blanks dropped
        QCOMPARE(w.View().Edit().CaretColumn(), 21);
        QCOMPARE(w.View().EditScroll(), 11);
        w.Type("Z");
        QCOMPARE(w.EditText(), std::string("0123456789ABCDEFGHIJZ"));
        QVERIFY(w.Host().beeps.empty());
    }
};

class HistoryFileTest : public QObject {
    Q_OBJECT
private slots:
    void historyAndSettingsSurviveARestart() {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("kelvo.HIS"));
        {
            Window w(path);
            Session& s = w->TheSession();
            w.Enter("A");
            w.Key(Qt::Key_Escape);
            w.Enter("e 5;*IDN?");
            s.Settings.Protocol = BusProtocol::TcpIp;
            s.Settings.TcpPort = 40000;
            std::strcpy(s.Settings.IpAddress, "10.1.2.3");
            w->SaveDialog() = {"/tmp/saved", "display.txt"};
            w->close();
            QVERIFY(w->HasEnded());
        }
        const QByteArray image = ReadAll(path);
        QCOMPARE(image.size(), 6996);
        QCOMPARE(image.mid(16, 7), QByteArray("Copper", 7));
        QCOMPARE(image.mid(36, 2), QByteArray("A\0", 2));
        QCOMPARE(image.mid(236, 14), QByteArray("ENTER 5;*IDN?\0", 14));
        QCOMPARE(image.mid(6436, 11), QByteArray("/tmp/saved\0", 11));
        QCOMPARE(image.mid(6696, 12), QByteArray("display.txt\0", 12));
        QCOMPARE(static_cast<unsigned char>(image[6956]), 18);
        QCOMPARE(static_cast<unsigned char>(image[6958]) | static_cast<unsigned char>(image[6959]) << 8, 40000);
        QCOMPARE(static_cast<unsigned char>(image[6960]) | static_cast<unsigned char>(image[6961]) << 8, 5001);
        QCOMPARE(image.mid(6962, 9), QByteArray("10.1.2.3\0", 9));
        QCOMPARE(image.mid(28, 4), QByteArray("\x02\0\0\0", 4));  // write index
        QCOMPARE(image.mid(32, 4), QByteArray(4, '\0'));          // not empty

        Window again(path);
        const InterfaceSettings& restored = again->TheSession().Settings;
        QCOMPARE(restored.Protocol, BusProtocol::TcpIp);
        QCOMPARE(restored.TcpPort, std::uint16_t{40000});
        QCOMPARE(std::string(restored.IpAddress), std::string("10.1.2.3"));
        QCOMPARE(again->SaveDialog().directory, std::string("/tmp/saved"));
        QCOMPARE(again->SaveDialog().name, std::string("display.txt"));
        again.Key(Qt::Key_Up);
        QCOMPARE(again.EditText(), std::string("A"));
        again.Key(Qt::Key_Up);
        QCOMPARE(again.EditText(), std::string("ENTER 5;*IDN?"));
    }

    void shortForeignOrMissingFilesGiveAnEmptyHistoryAndDefaults_data() {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<bool>("exists");
        QByteArray valid(6996, '\0');
        valid.replace(16, 7, QByteArray("Copper", 7));
        valid.replace(36, 2, QByteArray("A\0", 2));
        valid[28] = 1;
        valid[6956] = 18;
        valid.replace(6962, 8, QByteArray("1.2.3.4\0", 8));
        QTest::newRow("short") << valid.left(6995) << true;
        QByteArray foreign = valid;
        foreign[16] = 'K';
        QTest::newRow("foreign") << foreign << true;
        QTest::newRow("missing") << QByteArray() << false;
    }

    void shortForeignOrMissingFilesGiveAnEmptyHistoryAndDefaults() {
        QFETCH(QByteArray, content);
        QFETCH(bool, exists);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("kelvo.HIS"));
        if (exists) {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(content);
        }
        {
            Window w(path);
            Session& s = w->TheSession();
            QCOMPARE(w->History().empty, 1);
            QCOMPARE(Entries(w->History()), 0);
            QCOMPARE(s.Settings.Protocol, BusProtocol::Gpib);
            QCOMPARE(std::string(s.Settings.IpAddress), std::string("127.0.0.1"));
            QCOMPARE(s.Settings.TcpPort, std::uint16_t{5000});
            w.Key(Qt::Key_Up);
            QCOMPARE(w.EditText(), std::string());
            QVERIFY(w.Host().beeps.empty());  // silently
            w->close();
        }
        const QByteArray rewritten = ReadAll(path);
        QCOMPARE(rewritten.size(), 6996);
        QCOMPARE(rewritten.mid(16, 7), QByteArray("Copper", 7));
        QCOMPARE(static_cast<unsigned char>(rewritten[6956]), 17);
        QCOMPARE(rewritten.mid(6962, 10), QByteArray("127.0.0.1\0", 10));
    }

    void aValidFileWithAnUnknownProtocolMeansGpib() {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("kelvo.HIS"));
        QByteArray image(6996, '\0');
        image.replace(16, 7, QByteArray("Copper", 7));
        image[32] = 1;
        image[6956] = 5;
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(image);
        file.close();
        Window w(path);
        Session& s = w->TheSession();
        QCOMPARE(s.Settings.Protocol, BusProtocol::Gpib);
    }

    void theFileIsNamedLikeTheProgram() {
        QCOMPARE(HistoryFileBeside("/opt/kelvo/bin/kelvo"), std::string("/opt/kelvo/bin/kelvo.HIS"));
        QCOMPARE(HistoryFileBeside("/a.b/kelvo"), std::string("/a.b/kelvo.HIS"));
        QCOMPARE(HistoryFileBeside("/x/kelvo.bin"), std::string("/x/kelvo.HIS"));
    }
};

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    int failed = 0;
    {
        EditorTest editor;
        failed += QTest::qExec(&editor, argc, argv);
    }
    {
        HistoryFileTest history;
        failed += QTest::qExec(&history, argc, argv);
    }
    return failed;
}

#include "editor_history_test.moc"
