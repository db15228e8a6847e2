// The windows and dialogs as a user sees them, written out as text and compared
// with layout.txt beside this file: every widget of each layout (its kind, its
// text, its grid cell or its place in its row or column), the tab order, the
// menus with their shortcuts, the status bar and the first start's display.
// KELVO_GOLDEN_UPDATE=1 rewrites the file with what the run gives (read it
// before keeping it).
#include <QComboBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QTimer>

#include <algorithm>
#include <map>

#include "app/app_identity.h"
#include "app/interface_dialog.h"
#include "app/manual_window.h"
#include "base/address_checks.h"
#include "gui_fixture.h"

using namespace kelvo;
using namespace kelvo::gui_test;

namespace {

QString Quoted(const QString& text) { return u'"' + QString(text).replace(u'\n', QStringLiteral("\\n")) + u'"'; }

// What a user reads on `w` and what it does.
QString Describe(QWidget* w) {
    QStringList d{QString::fromLatin1(w->metaObject()->className()).remove(u'Q')};
    if (auto* label = qobject_cast<QLabel*>(w)) {
        const QPixmap picture = label->pixmap();
        d << (picture.isNull() ? Quoted(label->text()) : QStringLiteral("picture %1x%2").arg(picture.width()).arg(picture.height()));
        if (label->wordWrap()) d << QStringLiteral("wraps");
    } else if (auto* button = qobject_cast<QAbstractButton*>(w)) {
        d << Quoted(button->text());
        if (button->isCheckable()) d << (button->isChecked() ? QStringLiteral("on") : QStringLiteral("off"));
        if (auto* push = qobject_cast<QPushButton*>(w); push && push->isDefault()) d << QStringLiteral("default");
    } else if (auto* edit = qobject_cast<QLineEdit*>(w)) {
        d << Quoted(edit->text());
        if (!edit->placeholderText().isEmpty()) d << QStringLiteral("placeholder ") + Quoted(edit->placeholderText());
        if (edit->maxLength() != 32767) d << QStringLiteral("at most %1").arg(edit->maxLength());
    } else if (auto* list = qobject_cast<QComboBox*>(w)) {
        QStringList items;
        for (int i = 0; i < list->count(); ++i) items << list->itemText(i);
        if (items.size() > 4) items = QStringList{items.first(), QStringLiteral("..."), items.last()};
        d << QStringLiteral("%1 items ").arg(list->count()) + items.join(u'|') << QStringLiteral("shows ") + Quoted(list->currentText());
        if (list->isEditable()) d << QStringLiteral("editable");
    } else if (auto* buttons = qobject_cast<QDialogButtonBox*>(w)) {
        for (QAbstractButton* button : buttons->buttons()) d << Quoted(button->text());
    } else if (auto* text = qobject_cast<QPlainTextEdit*>(w)) {
        d << (text->isReadOnly() ? QStringLiteral("read-only") : QString()) << (text->lineWrapMode() == QPlainTextEdit::NoWrap ? QStringLiteral("no wrap") : QString());
    }
    if (!w->toolTip().isEmpty()) d << QStringLiteral("tip ") + Quoted(w->toolTip());
    if (w->isHidden()) d << QStringLiteral("hidden");
    d.removeAll(QString());
    return d.join(u' ');
}

struct Dump {
    QStringList lines;
    std::map<QWidget*, int> numbers;

    // The layout of `root`, each widget numbered as it is listed, then the tab
    // order as those numbers.
    void Window(const QString& name, QWidget* root) {
        lines << QStringLiteral("== %1: %2").arg(name, Quoted(root->windowTitle()));
        numbers.clear();
        Layout(root->layout(), QStringLiteral("  "), {});
        QStringList order;
        for (QWidget* w = root->nextInFocusChain(); w != root; w = w->nextInFocusChain())
            if (numbers.count(w) != 0 && (w->focusPolicy() & Qt::TabFocus) != 0) order << QString::number(numbers[w]);
        lines << (QStringLiteral("  tab order: ") + order.join(u' ')).trimmed().prepend(QStringLiteral("  "));
    }

    // A grid's cells top to bottom, left to right; a row's or column's items in order.
    void Layout(QLayout* layout, const QString& indent, const QString& place) {
        auto* grid = qobject_cast<QGridLayout*>(layout);
        auto* box = qobject_cast<QBoxLayout*>(layout);
        lines << indent + place + (grid ? QStringLiteral("grid") : box->direction() == QBoxLayout::LeftToRight ? QStringLiteral("row") : QStringLiteral("column"));
        std::vector<std::tuple<int, int, int, QString>> items;  // row, column, index, place
        for (int i = 0; i < layout->count(); ++i) {
            int row = i, column = 0, rows = 1, columns = 1;
            if (grid) grid->getItemPosition(i, &row, &column, &rows, &columns);
            const QString at = grid ? QStringLiteral("(%1,%2%3) ").arg(row).arg(column).arg(columns > 1 ? QStringLiteral(" wide %1").arg(columns) : QString())
                               : box->stretch(i) != 0 ? QStringLiteral("(stretches %1) ").arg(box->stretch(i)) : QString();
            items.emplace_back(row, column, i, at);
        }
        std::sort(items.begin(), items.end());
        for (const auto& [row, column, i, at] : items) {
            QLayoutItem* item = layout->itemAt(i);
            if (QWidget* w = item->widget()) {
                numbers[w] = static_cast<int>(numbers.size()) + 1;
                lines << indent + QStringLiteral("  %1 ").arg(numbers[w]) + at + Describe(w);
                if (w->layout() != nullptr && !qobject_cast<QDialogButtonBox*>(w)) Layout(w->layout(), indent + QStringLiteral("    "), {});
            } else if (item->layout() != nullptr) {
                Layout(item->layout(), indent + QStringLiteral("  "), at);
            } else {
                lines << indent + QStringLiteral("  ") + at + QStringLiteral("space");
            }
        }
    }

    void Menu(const QString& indent, const QList<QAction*>& actions) {
        for (QAction* action : actions) {
            const QString what = action->isSeparator() ? QStringLiteral("-") : Quoted(action->text());
            lines << indent + (what + u' ' + action->shortcut().toString(QKeySequence::PortableText) +
                               (action->isEnabled() ? QString() : QStringLiteral(" disabled"))).trimmed();
            if (action->menu() != nullptr) Menu(indent + QStringLiteral("  "), action->menu()->actions());
        }
    }
};

}  // namespace

class LayoutTest : public QObject {
    Q_OBJECT
private slots:
    void theWindowsAndDialogsAsLaidOut() {
        Dump dump;
        QTemporaryDir dir;
        const QString history = dir.filePath(QStringLiteral("kelvo.HIS"));
        for (const char* start : {"first", "second"}) {
            Window w(history, true);
            dump.lines << QStringLiteral("== %1 start: ").arg(QLatin1String(start)) + Quoted(w->windowTitle());
            for (const QString& line : QString::fromStdString(Window::DisplayText()).split(u'\n', Qt::SkipEmptyParts))
                dump.lines << QStringLiteral("  display ") + Quoted(line);
            w->close();
        }
        Window w;
        dump.Menu({}, w->menuBar()->actions());
        // The settings as the status bar shows them.
        InterfaceSettings& settings = w->TheSession().Settings;
        for (int lan = -1; lan < 3; ++lan) {
            if (lan >= 0) {
                settings.Protocol = BusProtocol::TcpIp;
                settings.TimeoutMs = 2500;
                settings.EndMessage = EndMessageKind::CrLf;
                settings.Lan = static_cast<LanProtocol>(lan);
                QVERIFY(SetInstrumentHost(settings, lan == 1 ? "scope-1.lab" : "10.0.0.9"));
                w->RefreshStatus();
            }
            QList<QLabel*> status = w->statusBar()->findChildren<QLabel*>(Qt::FindDirectChildrenOnly);
            std::sort(status.begin(), status.end(), [](QLabel* a, QLabel* b) { return a->x() < b->x(); });
            for (QLabel* label : status) dump.lines << QStringLiteral("status bar ") + Describe(label);
        }
        dump.lines << QStringLiteral("== context menu");
        std::unique_ptr<QMenu> menu(w.View().MakeContextMenu(nullptr));
        dump.Menu({}, menu->actions());

        // The ink of each kind of text: the darkest colour drawn in a row of "M".
        dump.lines << QStringLiteral("== ink");
        for (int a = 1; a < kPaletteSize; ++a) w->Store().PrintText(a, "MMMMMMMMMM"), PrintNewLine(w->TheSession());
        const QImage shown = w.View().viewport()->grab().toImage();
        const auto darker = [](const QColor& p, const QColor& q) { return p.lightness() < q.lightness(); };
        for (int a = 1, h = w.View().CellHeight(); a < kPaletteSize; ++a) {
            QColor ink(Qt::white);
            for (int x = 0; x < 10 * w.View().CellWidth(); ++x)
                for (int y = a * h; y < a * h + h; ++y) ink = std::min(ink, shown.pixelColor(x, y), darker);
            dump.lines << QStringLiteral("  %1 ").arg(a) + ink.name();
        }
        QTimer::singleShot(0, [&dump] {
            QWidget* about = QApplication::activeModalWidget();
            dump.Window(QStringLiteral("About"), about);
            about->close();
        });
        w->AboutCommand();
        w->HelpCommand();
        dump.Window(QStringLiteral("manual"), w->Manual());
        InterfaceSettings defaults;
        app::InterfaceDialog dialog(defaults);
        dump.Window(QStringLiteral("Interface"), &dialog);

        const QString text = dump.lines.join(u'\n')
                                 .replace(QStringLiteral(KELVO_PRODUCT_VERSION), QStringLiteral("<version>"))
                                 .replace(app::MainWindow::ManualPath(), QStringLiteral("<manual>")) + u'\n';
        QFile golden(QStringLiteral(QT_TESTCASE_SOURCEDIR "/gui/layout.txt"));
        if (qEnvironmentVariableIsSet("KELVO_GOLDEN_UPDATE")) {
            QVERIFY(golden.open(QIODevice::WriteOnly));
            golden.write(text.toUtf8());
            QSKIP("layout.txt written");
        }
        QVERIFY2(golden.open(QIODevice::ReadOnly), qPrintable(golden.fileName()));
        QCOMPARE(text.split(u'\n'), QString::fromUtf8(golden.readAll()).split(u'\n'));
    }
};

QTEST_MAIN(LayoutTest)
#include "layout_test.moc"
