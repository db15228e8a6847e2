#include "app/manual_window.h"

#include <QFile>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QShortcut>
#include <QTextCursor>
#include <QTextDocument>
#include <QVBoxLayout>

namespace kelvo::app {

ManualWindow::ManualWindow(QWidget* parent) : QWidget(parent, Qt::Window) {
    text_ = new QPlainTextEdit(this);
    text_->setReadOnly(true);
    text_->setLineWrapMode(QPlainTextEdit::NoWrap);
    text_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    text_->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);

    search_ = new QLineEdit(this);
    search_->setPlaceholderText(QStringLiteral("Find (Ctrl+F)"));
    search_->setClearButtonEnabled(true);
    auto* previous = new QPushButton(QStringLiteral("&Previous"), this);
    auto* next = new QPushButton(QStringLiteral("&Next"), this);
    status_ = new QLabel(this);
    auto* external = new QPushButton(QStringLiteral("Open in &External Viewer"), this);

    auto* bar = new QHBoxLayout;
    bar->addWidget(new QLabel(QStringLiteral("Find:"), this));
    bar->addWidget(search_, 1);
    bar->addWidget(previous);
    bar->addWidget(next);
    bar->addWidget(status_);
    bar->addStretch();
    bar->addWidget(external);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(bar);
    layout->addWidget(text_, 1);

    connect(search_, &QLineEdit::returnPressed, this, [this] { Find(search_->text()); });
    connect(search_, &QLineEdit::textEdited, this, [this](const QString& text) {
        // Searching as one types starts again from the top of the current match.
        QTextCursor cursor = text_->textCursor();
        cursor.setPosition(cursor.selectionStart());
        text_->setTextCursor(cursor);
        if (!text.isEmpty()) Find(text);
        else status_->clear();
    });
    connect(next, &QPushButton::clicked, this, [this] { Find(search_->text()); });
    connect(previous, &QPushButton::clicked, this, [this] { Find(search_->text(), true); });
    connect(external, &QPushButton::clicked, this, &ManualWindow::OpenExternally);
    connect(new QShortcut(QKeySequence::Find, this), &QShortcut::activated, this, &ManualWindow::FocusSearch);
    connect(new QShortcut(QKeySequence::FindNext, this), &QShortcut::activated, this,
            [this] { Find(search_->text()); });
    connect(new QShortcut(QKeySequence::FindPrevious, this), &QShortcut::activated, this,
            [this] { Find(search_->text(), true); });
    connect(new QShortcut(QKeySequence(Qt::Key_Escape), this), &QShortcut::activated, this, &QWidget::close);

    resize(760, 600);
}

bool ManualWindow::Load(const QString& path) {
    path_ = path;
    setWindowTitle(QStringLiteral("Kelvo Manual - %1").arg(path));
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        text_->setPlainText(QStringLiteral("The manual was not found at\n  %1\n\n"
                                           "It is KELVO.TXT, installed beside the program or in its "
                                           "documentation folder.")
                                .arg(path));
        return false;
    }
    text_->setPlainText(QString::fromUtf8(file.readAll()));
    return true;
}

bool ManualWindow::Find(const QString& text, bool backward) {
    if (text.isEmpty()) {
        status_->clear();
        return false;
    }
    const QTextDocument::FindFlags flags = backward ? QTextDocument::FindBackward : QTextDocument::FindFlags();
    QTextDocument* document = text_->document();
    QTextCursor found = document->find(text, text_->textCursor(), flags);
    bool wrapped = false;
    if (found.isNull()) {
        QTextCursor start(document);
        if (backward) start.movePosition(QTextCursor::End);
        found = document->find(text, start, flags);
        wrapped = true;
    }
    if (found.isNull()) {
        status_->setText(QStringLiteral("Not found"));
        return false;
    }
    text_->setTextCursor(found);
    text_->ensureCursorVisible();
    status_->setText(wrapped ? QStringLiteral("Wrapped around") : QString());
    return true;
}

void ManualWindow::FocusSearch() {
    search_->setFocus();
    search_->selectAll();
}

void ManualWindow::OpenExternally() { QProcess::startDetached(QStringLiteral("xdg-open"), {path_}); }

}  // namespace kelvo::app
