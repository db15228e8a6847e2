// The command-line editor and the command history, driven by keys as a user
// types them, and the history file that carries both across a restart.
#include <QStatusBar>

#include <cstring>

#include "console/history_file.h"
#include "gui_fixture.h"

using namespace kelvo;
using namespace kelvo::gui_test;

namespace {

unsigned Word(const QByteArray& image, int at) {
    return static_cast<unsigned char>(image[at]) | static_cast<unsigned char>(image[at + 1]) << 8;
}

// A key, or text typed; then the edit line and the caret column (when above 0).
struct Step {
    Step(QKeyCombination key, const char* edit, int caret) : key(key), edit(edit), caret(caret) {}
    Step(const char* text, const char* edit, int caret) : text(text), edit(edit), caret(caret) {}
    QKeyCombination key;
    const char* text = nullptr;
    const char* edit;
    int caret;
};

void Play(Window& w, std::initializer_list<Step> steps) {
    for (const Step& s : steps) {
        if (s.text != nullptr) w.Type(s.text);
        else w.Key(s.key.key(), s.key.keyboardModifiers());
        QCOMPARE(w.EditText(), std::string(s.edit));
        if (s.caret > 0) QCOMPARE(w.View().Edit().CaretColumn(), s.caret);
    }
}

constexpr auto kCtrl = Qt::ControlModifier;
const char* const kHello = "OUTPUT 7 ;Hello World";

}  // namespace

class EditorTest : public QObject {
    Q_OBJECT
private slots:
    void editingKeys() {
        Window w;
        Play(w, {{Qt::Key_Backspace, "", 1} /* at column 1: nothing */, {"ABCD", "ABCD", 5},
                 {Qt::Key_Delete, "ABCD", 5} /* at the end: nothing */, {Qt::Key_Left, "ABCD", 4}, {Qt::Key_Left, "ABCD", 3},
                 {Qt::Key_Backspace, "ACD", 2}, {Qt::Key_Delete, "AD", 2}, {"x", "AxD", 3}, {Qt::Key_Home, "AxD", 1},
                 {Qt::Key_End, "AxD", 4}, {Qt::Key_Right, "AxD", 4}, {Qt::AltModifier | Qt::Key_F, "AxD", 4} /* a menu's */,
                 {kCtrl | Qt::Key_A, "AxD", 4}, {Qt::Key_Escape, "", 1}, {"SEND 5 CMD", "SEND 5 CMD", 11},
                 {kCtrl | Qt::Key_Left, "SEND 5 CMD", 8}, {kCtrl | Qt::Key_Left, "SEND 5 CMD", 6},
                 {kCtrl | Qt::Key_Left, "SEND 5 CMD", 1}, {kCtrl | Qt::Key_Left, "SEND 5 CMD", 1},
                 {kCtrl | Qt::Key_Right, "SEND 5 CMD", 6}, {kCtrl | Qt::Key_Right, "SEND 5 CMD", 8},
                 {kCtrl | Qt::Key_Right, "SEND 5 CMD", 11}, {kCtrl | Qt::Key_Right, "SEND 5 CMD", 11}});
        QVERIFY(w.Host().beeps.empty());
        QCOMPARE(std::string(w.View().Edit().Row(), 1), std::string(">"));
    }

    // Tab completes the word before the caret (which words is the core's to
    // say); several candidates are named in the status bar; none beeps.
    void tabCompletesTheWordBeforeTheCaret() {
        Window w;
        Play(w, {{"ent", "ent", 4}, {Qt::Key_Tab, "ENTER ", 7}, {"5 f", "ENTER 5 f", 0}, {Qt::Key_Tab, "ENTER 5 F", 0}});
        QVERIFY(w.View().Edit().LineEdited());
        QVERIFY2(w->statusBar()->currentMessage().contains(QLatin1String("FO3")), qPrintable(w->statusBar()->currentMessage()));
        Play(w, {{Qt::Key_Escape, "", 1}, {"OUT 7", "OUT 7", 6}, {Qt::Key_Home, "OUT 7", 1}, {Qt::Key_Right, "OUT 7", 2},
                 {Qt::Key_Right, "OUT 7", 3}, {Qt::Key_Right, "OUT 7", 4}, {Qt::Key_Tab, "OUTPUT  7", 0},
                 {kCtrl | Qt::Key_Tab, "OUTPUT  7", 0}});
        QVERIFY(w.Host().beeps.empty());
        Play(w, {{Qt::Key_End, "OUTPUT  7", 10}, {Qt::Key_Tab, "OUTPUT  7", 10}});
        QCOMPARE(w.Host().beeps, Beeps{kWarningBeep});
        const std::string line = "ent " + std::string(250, 'x');
        const char* full = line.c_str();
        Play(w, {{Qt::Key_Escape, "", 1}, {full, full, 255}, {Qt::Key_Home, full, 1}, {Qt::Key_Right, full, 2},
                 {Qt::Key_Right, full, 3}, {Qt::Key_Right, full, 4}, {Qt::Key_Tab, full, 4}});  // no room for "ENTER "
        QCOMPARE(w.Host().beeps, Beeps(2, kWarningBeep));
        QVERIFY(w->statusBar()->currentMessage().contains(QStringLiteral("254 characters")));
    }

    // Enter shows the prepared line and stores it; Up and Down recall, skipping
    // empty entries; a recalled line run unchanged is stored once; empty lines
    // and lines beginning with X are not stored.
    void enterStoresAndTheArrowsRecall() {
        Window w;
        Play(w, {{Qt::Key_Up, "", 1}, {Qt::Key_Down, "", 1}, {Qt::Key_Return, "", 1}, {"xyz", "xyz", 4}});
        QCOMPARE(w->History().empty, 1);
        w.Key(Qt::Key_Escape);
        Play(w, {{"  output   7 ;Hello  World", "  output   7 ;Hello  World", 0}, {Qt::Key_Return, kHello, 22},
                 {Qt::Key_Return, kHello, 22}});
        for (const char* line : {"B", "C"}) {
            w.Key(Qt::Key_Escape);
            w.Enter(line);
        }
        QCOMPARE(Entries(w->History()), 4);
        Play(w, {{Qt::Key_Up, "B", 2}, {Qt::Key_Up, kHello, 0}, {Qt::Key_Up, kHello, 0}, {Qt::Key_Up, "C", 0},
                 {Qt::Key_Down, kHello, 0}, {Qt::Key_Down, kHello, 0}, {Qt::Key_Down, "B", 0}, {Qt::Key_Return, "B", 0}});
        QCOMPARE(Entries(w->History()), 4);  // recalled and run unchanged: not stored again
        Play(w, {{Qt::Key_Up, kHello, 0}, {"1", "OUTPUT 7 ;Hello World1", 0}, {Qt::Key_Return, "OUTPUT 7 ;Hello World1", 0}});
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

    // The history file: the lines, the settings and the Save dialog's folder and
    // name, where the file keeps them, back after a restart.
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
        }
        const QByteArray image = ReadAll(path);
        QCOMPARE(image.size(), 6996);
        const std::pair<int, QByteArray> fields[] = {
            {16, QByteArray("Copper", 7)}, {28, QByteArray("\x02\0\0\0\0\0\0\0", 8)} /* write index, not empty */,
            {36, QByteArray("A\0", 2)}, {236, QByteArray("ENTER 5;*IDN?\0", 14)}, {6436, QByteArray("/tmp/saved\0", 11)},
            {6696, QByteArray("display.txt\0", 12)}, {6962, QByteArray("10.1.2.3\0", 9)}};
        for (const auto& [at, bytes] : fields) QCOMPARE(image.mid(at, bytes.size()), bytes);
        QCOMPARE(QList<unsigned>({Word(image, 6956), Word(image, 6958), Word(image, 6960)}), QList<unsigned>({18, 40000, 5001}));

        Window again(path);
        const InterfaceSettings& restored = again->TheSession().Settings;
        QCOMPARE(restored.Protocol, BusProtocol::TcpIp);
        QCOMPARE(restored.TcpPort, std::uint16_t{40000});
        QCOMPARE(std::string(restored.IpAddress), std::string("10.1.2.3"));
        QCOMPARE(again->SaveDialog().name, std::string("display.txt"));
        Play(again, {{Qt::Key_Up, "A", 0}, {Qt::Key_Up, "ENTER 5;*IDN?", 0}});
    }

    // A short, foreign or missing file, or an unknown protocol: an empty history
    // and the default settings, silently, and a good file written at the end.
    void badFilesGiveAnEmptyHistoryAndDefaults() {
        QByteArray unknown(6996, '\0');
        unknown.replace(16, 7, QByteArray("Copper", 7));
        QByteArray valid = unknown, foreign;
        valid.replace(36, 2, QByteArray("A\0", 2)).replace(6962, 8, QByteArray("1.2.3.4\0", 8));
        valid[28] = 1;
        valid[6956] = 18;
        unknown[32] = 1;
        unknown[6956] = 5;
        (foreign = valid)[16] = 'K';
        for (const QByteArray& content : {valid.left(6995), foreign, QByteArray(), unknown}) {
            QTemporaryDir dir;
            const QString path = dir.filePath(QStringLiteral("kelvo.HIS"));
            QFile file(path);
            QVERIFY(content.isEmpty() || (file.open(QIODevice::WriteOnly) && file.write(content) == content.size()));
            file.close();
            {
                Window w(path);
                QCOMPARE(w->History().empty, 1);
                QCOMPARE(Entries(w->History()), 0);
                QCOMPARE(w->TheSession().Settings.Protocol, BusProtocol::Gpib);
                QCOMPARE(std::string(w->TheSession().Settings.IpAddress), std::string("127.0.0.1"));
                QVERIFY(w.Host().beeps.empty());
                w->close();
            }
            const QByteArray rewritten = ReadAll(path);
            QCOMPARE(rewritten.size(), 6996);
            QCOMPARE(rewritten.mid(16, 7), QByteArray("Copper", 7));
            QCOMPARE(Word(rewritten, 6956), 17u);
        }
        QCOMPARE(HistoryFileBeside("/a.b/kelvo"), std::string("/a.b/kelvo.HIS"));
        QCOMPARE(HistoryFileBeside("/x/kelvo.bin"), std::string("/x/kelvo.HIS"));
    }
};

QTEST_MAIN(EditorTest)
#include "editor_history_test.moc"
