// The command-line editor and the command history, driven by keys as a user
// types them, and the history file that carries both across a restart.
#include <QDir>
#include <QFile>
#include <QStatusBar>
#include <QTemporaryDir>
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
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

unsigned Word(const QByteArray& image, int at) {
    return static_cast<unsigned char>(image[at]) | static_cast<unsigned char>(image[at + 1]) << 8;
}

// One key (or text typed when `text` is set) and the edit line and caret after it.
struct Step {
    Qt::Key key;
    Qt::KeyboardModifiers modifiers;
    const char* text;
    const char* edit;
    int caret;
};

void Play(Window& w, std::initializer_list<Step> steps) {
    for (const Step& s : steps) {
        if (s.text != nullptr) w.Type(s.text);
        else w.Key(s.key, s.modifiers);
        QCOMPARE(w.EditText(), std::string(s.edit));
        if (s.caret > 0) QCOMPARE(w.View().Edit().CaretColumn(), s.caret);
    }
}

constexpr auto kNo = Qt::NoModifier;
constexpr auto kCtrl = Qt::ControlModifier;

}  // namespace

class EditorTest : public QObject {
    Q_OBJECT
private slots:
    // Tab completes the word before the caret (a command word, an option, a file
    // name after FO); several candidates are named in the status bar.
    void tabCompletesTheWordBeforeTheCaret() {
        QTemporaryDir folder;
        QFile(folder.filePath(QStringLiteral("Reading1.txt"))).open(QIODevice::WriteOnly);
        const QString before = QDir::currentPath();
        QDir::setCurrent(folder.path());
        Window w;
        Play(w, {{{}, kNo, "ent", "ent", 4}, {Qt::Key_Tab, kNo, nullptr, "ENTER ", 7}, {{}, kNo, "5 f", "ENTER 5 f", 0},
                 {Qt::Key_Tab, kNo, nullptr, "ENTER 5 F", 0}});
        QVERIFY(w.View().Edit().LineEdited());
        QVERIFY2(w->statusBar()->currentMessage().contains(QLatin1String("FO3")),
                 qPrintable(w->statusBar()->currentMessage()));
        Play(w, {{{}, kNo, "o ", "ENTER 5 Fo ", 0}, {Qt::Key_Tab, kNo, nullptr, "ENTER 5 Fo Reading1.txt ", 0},
                 {Qt::Key_Escape, kNo, nullptr, "", 1}, {{}, kNo, "OUT 7", "OUT 7", 6},
                 {Qt::Key_Home, kNo, nullptr, "OUT 7", 1}, {Qt::Key_Right, kNo, nullptr, "OUT 7", 2},
                 {Qt::Key_Right, kNo, nullptr, "OUT 7", 3}, {Qt::Key_Right, kNo, nullptr, "OUT 7", 4},
                 {Qt::Key_Tab, kNo, nullptr, "OUTPUT  7", 0}});
        QDir::setCurrent(before);
    }

    void editingKeys() {
        Window w;
        Play(w, {{Qt::Key_Backspace, kNo, nullptr, "", 1},  // at column 1: nothing
                 {{}, kNo, "ABCD", "ABCD", 5},
                 {Qt::Key_Delete, kNo, nullptr, "ABCD", 5},  // at the end: nothing
                 {Qt::Key_Left, kNo, nullptr, "ABCD", 4},
                 {Qt::Key_Left, kNo, nullptr, "ABCD", 3},
                 {Qt::Key_Backspace, kNo, nullptr, "ACD", 2},
                 {Qt::Key_Delete, kNo, nullptr, "AD", 2},
                 {{}, kNo, "x", "AxD", 3},
                 {Qt::Key_Home, kNo, nullptr, "AxD", 1},
                 {Qt::Key_End, kNo, nullptr, "AxD", 4},
                 {Qt::Key_Right, kNo, nullptr, "AxD", 4},
                 {Qt::Key_F, Qt::AltModifier, nullptr, "AxD", 4},  // a menu shortcut, not a character
                 {Qt::Key_A, kCtrl, nullptr, "AxD", 4},
                 {Qt::Key_Escape, kNo, nullptr, "", 1},
                 {{}, kNo, "SEND 5 CMD", "SEND 5 CMD", 11},
                 {Qt::Key_Left, kCtrl, nullptr, "SEND 5 CMD", 8},
                 {Qt::Key_Left, kCtrl, nullptr, "SEND 5 CMD", 6},
                 {Qt::Key_Left, kCtrl, nullptr, "SEND 5 CMD", 1},
                 {Qt::Key_Left, kCtrl, nullptr, "SEND 5 CMD", 1},
                 {Qt::Key_Right, kCtrl, nullptr, "SEND 5 CMD", 6},
                 {Qt::Key_Right, kCtrl, nullptr, "SEND 5 CMD", 8},
                 {Qt::Key_Right, kCtrl, nullptr, "SEND 5 CMD", 11},
                 {Qt::Key_Right, kCtrl, nullptr, "SEND 5 CMD", 11}});
        QVERIFY(w.Host().beeps.empty());
        QCOMPARE(std::string(w.View().Edit().Row(), 1), std::string(">"));
    }

    // Enter shows the prepared line and stores it; Up and Down recall, skipping
    // empty entries; a recalled line run unchanged is stored once; empty lines
    // and lines beginning with X are not stored.
    void enterStoresAndTheArrowsRecall() {
        Window w;
        Play(w, {{Qt::Key_Up, kNo, nullptr, "", 1}, {Qt::Key_Down, kNo, nullptr, "", 1},
                 {Qt::Key_Return, kNo, nullptr, "", 1}, {{}, kNo, "xyz", "xyz", 4}});
        QCOMPARE(w->History().empty, 1);
        w.Key(Qt::Key_Escape);
        Play(w, {{{}, kNo, "  output   7 ;Hello  World", "  output   7 ;Hello  World", 0},
                 {Qt::Key_Return, kNo, nullptr, "OUTPUT 7 ;Hello World", 22},
                 {Qt::Key_Return, kNo, nullptr, "OUTPUT 7 ;Hello World", 22}});
        for (const char* line : {"B", "C"}) {
            w.Key(Qt::Key_Escape);
            w.Enter(line);
        }
        QCOMPARE(Entries(w->History()), 4);
        Play(w, {{Qt::Key_Up, kNo, nullptr, "B", 2}, {Qt::Key_Up, kNo, nullptr, "OUTPUT 7 ;Hello World", 0},
                 {Qt::Key_Up, kNo, nullptr, "OUTPUT 7 ;Hello World", 0}, {Qt::Key_Up, kNo, nullptr, "C", 0},
                 {Qt::Key_Down, kNo, nullptr, "OUTPUT 7 ;Hello World", 0}, {Qt::Key_Down, kNo, nullptr, "OUTPUT 7 ;Hello World", 0},
                 {Qt::Key_Down, kNo, nullptr, "B", 0}, {Qt::Key_Return, kNo, nullptr, "B", 0}});
        QCOMPARE(Entries(w->History()), 4);  // recalled and run unchanged: not stored again
        w.Key(Qt::Key_Up);
        w.Type("1");
        w.Key(Qt::Key_Return);
        QCOMPARE(Entries(w->History()), 5);  // edited after the recall: a new line
    }

    // The line goes on past the window's width, up to 254 characters, the row
    // scrolling sideways to keep the caret in view; a narrower window scrolls it.
    void theLongLineScrollsSidewaysAndTheTwoHundredFiftyFifthCharacterBeeps() {
        Window w;
        std::string typed;
        for (int i = 0; i < 254; ++i) typed += static_cast<char>('a' + i % 26);
        w.Type(typed.c_str());
        QVERIFY(w.Host().beeps.empty());
        QCOMPARE(w.View().EditScroll(), 255 - 80 + 1);  // the caret in the last column
        w.Type("b");
        QCOMPARE(w.EditText(), typed);
        QCOMPARE(w.Host().beeps, Beeps{kWarningBeep});
        QVERIFY(w->statusBar()->currentMessage().contains(QStringLiteral("254 characters")));
        w.Key(Qt::Key_Home);
        QCOMPARE(w.View().EditScroll(), 0);
        w.Key(Qt::Key_Return);
        QCOMPARE(w.EditText().size(), std::size_t{254});

        w.Key(Qt::Key_Escape);
        w.Type("0123456789ABCDEFGHIJ   ");
        w->resize(w->width() - w.View().viewport()->width() + 11 * w.View().CellWidth(), w->height());
        QTRY_COMPARE(w->Store().VisibleColumns(), 11);
        QCOMPARE(w.EditText(), std::string("0123456789ABCDEFGHIJ"));  // trailing blanks dropped
        QCOMPARE(w.View().Edit().CaretColumn(), 21);
        QCOMPARE(w.View().EditScroll(), 11);
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
        QCOMPARE(image.mid(28, 8), QByteArray("\x02\0\0\0\0\0\0\0", 8));  // write index, not empty
        QCOMPARE(image.mid(36, 2), QByteArray("A\0", 2));
        QCOMPARE(image.mid(236, 14), QByteArray("ENTER 5;*IDN?\0", 14));
        QCOMPARE(image.mid(6436, 11), QByteArray("/tmp/saved\0", 11));
        QCOMPARE(image.mid(6696, 12), QByteArray("display.txt\0", 12));
        QCOMPARE(Word(image, 6956), 18u);
        QCOMPARE(Word(image, 6958), 40000u);
        QCOMPARE(Word(image, 6960), 5001u);
        QCOMPARE(image.mid(6962, 9), QByteArray("10.1.2.3\0", 9));

        Window again(path);
        const InterfaceSettings& restored = again->TheSession().Settings;
        QCOMPARE(restored.Protocol, BusProtocol::TcpIp);
        QCOMPARE(restored.TcpPort, std::uint16_t{40000});
        QCOMPARE(std::string(restored.IpAddress), std::string("10.1.2.3"));
        QCOMPARE(again->SaveDialog().name, std::string("display.txt"));
        Play(again, {{Qt::Key_Up, kNo, nullptr, "A", 0}, {Qt::Key_Up, kNo, nullptr, "ENTER 5;*IDN?", 0}});
    }

    // A short, foreign or missing file, or an unknown protocol: an empty history
    // and the default settings, silently, and a good file written at the end.
    void badFilesGiveAnEmptyHistoryAndDefaults_data() {
        QTest::addColumn<QByteArray>("content");
        QByteArray valid(6996, '\0');
        valid.replace(16, 7, QByteArray("Copper", 7));
        valid.replace(36, 2, QByteArray("A\0", 2));
        valid[28] = 1;
        valid[6956] = 18;
        valid.replace(6962, 8, QByteArray("1.2.3.4\0", 8));
        QTest::newRow("short") << valid.left(6995);
        QByteArray foreign = valid;
        foreign[16] = 'K';
        QTest::newRow("foreign") << foreign;
        QTest::newRow("missing") << QByteArray();
        QByteArray unknown(6996, '\0');
        unknown.replace(16, 7, QByteArray("Copper", 7));
        unknown[32] = 1;
        unknown[6956] = 5;
        QTest::newRow("unknown protocol") << unknown;
    }
    void badFilesGiveAnEmptyHistoryAndDefaults() {
        QFETCH(QByteArray, content);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("kelvo.HIS"));
        if (!content.isEmpty()) {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(content);
        }
        {
            Window w(path);
            const InterfaceSettings& settings = w->TheSession().Settings;
            QCOMPARE(w->History().empty, 1);
            QCOMPARE(Entries(w->History()), 0);
            QCOMPARE(settings.Protocol, BusProtocol::Gpib);
            QCOMPARE(std::string(settings.IpAddress), std::string("127.0.0.1"));
            QCOMPARE(settings.TcpPort, std::uint16_t{5000});
            QVERIFY(w.Host().beeps.empty());
            w->close();
        }
        const QByteArray rewritten = ReadAll(path);
        QCOMPARE(rewritten.size(), 6996);
        QCOMPARE(rewritten.mid(16, 7), QByteArray("Copper", 7));
        QCOMPARE(Word(rewritten, 6956), 17u);
        QCOMPARE(rewritten.mid(6962, 10), QByteArray("127.0.0.1\0", 10));
    }

    void theFileIsNamedLikeTheProgram() {
        QCOMPARE(HistoryFileBeside("/a.b/kelvo"), std::string("/a.b/kelvo.HIS"));
        QCOMPARE(HistoryFileBeside("/x/kelvo.bin"), std::string("/x/kelvo.HIS"));
    }
};

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    EditorTest editor;
    HistoryFileTest history;
    return QTest::qExec(&editor, argc, argv) + QTest::qExec(&history, argc, argv);
}

#include "editor_history_test.moc"
