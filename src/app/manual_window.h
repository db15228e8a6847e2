// The manual in a window of the program: the plain-text manual, searchable, with
// a way out to the desktop's own viewer.
#pragma once

#include <QWidget>

class QLabel;
class QLineEdit;
class QPlainTextEdit;

namespace kelvo::app {

class ManualWindow : public QWidget {
    Q_OBJECT
public:
    explicit ManualWindow(QWidget* parent = nullptr);

    // Loads the manual from `path`; a missing file shows where it was looked for.
    bool Load(const QString& path);
    // Finds `text` after (or before) the cursor, wrapping around the ends.
    // Returns whether it was found; the match is selected.
    bool Find(const QString& text, bool backward = false);
    void FocusSearch();

    QPlainTextEdit* Text() const { return text_; }
    QLineEdit* SearchField() const { return search_; }
    QLabel* SearchStatus() const { return status_; }
    QString Path() const { return path_; }

private:
    void OpenExternally();

    QPlainTextEdit* text_;
    QLineEdit* search_;
    QLabel* status_;
    QString path_;
};

}  // namespace kelvo::app
