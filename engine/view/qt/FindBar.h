// The find bar: a small frame at the top right of the terminal with the search field, the
// previous and next buttons, the case-sensitive, regex and whole-word toggles and a close
// button. It only collects the term and the options; what the user does reaches the view
// through the callbacks (each called only when set).
#pragma once

#include "view/SearchService.h"

#include <QFrame>

#include <functional>
#include <string>

class QCheckBox;
class QLineEdit;
class QToolButton;

namespace corvantix {

class TerminalFindBarView final : public QFrame {
    Q_OBJECT

public:
    static constexpr int maximumWidth = 520;
    static constexpr int margin = 8;

    explicit TerminalFindBarView(QWidget* parent = nullptr);

    std::function<void(const std::string& term)> onSearchChanged;
    std::function<void()> onFindNext;
    std::function<void()> onFindPrevious;
    std::function<void()> onClose;
    std::function<void(const SearchOptions&)> onOptionsChanged;

    QLineEdit* searchField = nullptr;
    QToolButton* previousButton = nullptr;
    QToolButton* nextButton = nullptr;
    QToolButton* closeButton = nullptr;
    QCheckBox* caseSensitiveButton = nullptr;
    QCheckBox* regexButton = nullptr;
    QCheckBox* wholeWordButton = nullptr;

    // The states of the three toggles.
    SearchOptions options() const;
    // Return in the field: backward with Shift held, else forward.
    void searchFieldAction(bool shiftHeld);
    // The field's text as UTF-8.
    std::string term() const;

    // Every control shown, the field at its usual width.
    QSize sizeHint() const override;
    // The field at its narrowest and the close button: all the rest can be hidden.
    QSize minimumSizeHint() const override;

protected:
    void resizeEvent(QResizeEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    // Keys the field leaves alone stop here instead of reaching the terminal behind the bar.
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;

private:
    void optionChanged();
    // Keeps what the bar's width holds, so that no control is drawn over another: the toggles
    // go first (whole word, regex, case), then the field narrows, then previous and next go.
    void fitControls();

    static constexpr int fieldWidth = 200;
    static constexpr int narrowestField = 60;
};

} // namespace corvantix
