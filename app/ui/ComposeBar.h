// The message strip under the terminal: the key bar, a paperclip that copies chosen files
// into the project's "Upload" folder, a message field of one to eight lines and a send
// button. The bar follows whichever tab is active; its text lives as long as the bar.
#pragma once

#include "tab/MacTab.h"

#include "ui/KeyBar.h"

#include <QList>
#include <QPlainTextEdit>
#include <QPointer>
#include <QToolButton>
#include <QUrl>

#include <functional>

namespace halvoren {

class MacModel;


// Return sends, Shift+Return (with any other modifier) appends a line feed at the end;
// grows from one to eight lines, then scrolls.
class MessageField : public QPlainTextEdit {
    Q_OBJECT

public:
    static constexpr int maxLines = 8;

    explicit MessageField(QWidget* parent = nullptr);
    // Visual lines, wrapped ones included, at least one.
    int lineCount() const;
    QSize sizeHint() const override;

Q_SIGNALS:
    void sendRequested();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void fitHeight();
};

// A round button with an upward arrow, grey and disabled while there is nothing to send.
class SendButton : public QToolButton {
    Q_OBJECT

public:
    explicit SendButton(QWidget* parent = nullptr);
    QColor fill() const;

protected:
    void paintEvent(QPaintEvent* event) override;
};

class ComposeBar : public QWidget {
    Q_OBJECT

public:
    ComposeBar(MacModel& model, QWidget* parent = nullptr);

    MacModel& model;

    // The tab the bar writes to; the workspace hands it the active one at every change.
    void setTab(MacTab* value);
    MacTab* tab() const { return tabValue; }
    QString text() const;
    // The message, untrimmed, as one paste to the tab; an empty message sends nothing.
    void send();
    // Uploads the chosen files, one after the other, to the tab active now.
    void importFiles(const QList<QUrl>& files);

    // Shows a file chooser and calls back with the chosen files, only when the user chose
    // some. Tests put their own in its place.
    std::function<void(QWidget* parent, std::function<void(QList<QUrl>)> chosen)> chooseFiles;

    KeyBar* const keyBar;
    QToolButton* const attachButton;
    MessageField* const field;
    SendButton* const sendButton;

protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    QPointer<MacTab> tabValue;
    bool focusedOnce = false;
};

} // namespace halvoren
