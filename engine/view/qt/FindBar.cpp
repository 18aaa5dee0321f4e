#include "view/qt/FindBar.h"

#include <QCheckBox>
#include <QEvent>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QIcon>
#include <QKeyEvent>
#include <QLineEdit>
#include <QToolButton>

#include <algorithm>
#include <vector>

namespace corvantix {

namespace {

QToolButton* imageButton(QWidget* parent, const QString& iconName, const QString& fallback, const QString& tip)
{
    auto* button = new QToolButton(parent);
    const QIcon icon = QIcon::fromTheme(iconName);
    if (icon.isNull())
        button->setText(fallback);
    else
        button->setIcon(icon);
    button->setToolTip(tip);
    button->setAccessibleName(tip);
    button->setAutoRaise(true);
    button->setFocusPolicy(Qt::NoFocus);
    return button;
}

QCheckBox* toggle(QWidget* parent, const QString& title, const QString& tip)
{
    auto* box = new QCheckBox(title, parent);
    box->setToolTip(tip);
    QFont font = box->font();
    font.setPointSizeF(11);
    box->setFont(font);
    box->setFocusPolicy(Qt::NoFocus);
    return box;
}

} // namespace

TerminalFindBarView::TerminalFindBarView(QWidget* parent) : QFrame(parent)
{
    setObjectName(QStringLiteral("findBar"));
    // The desktop's colours, not the terminal's (which the bar would inherit).
    setPalette(QGuiApplication::palette());
    setAutoFillBackground(true);
    setStyleSheet(QStringLiteral(
        "#findBar { background: palette(window); border: 1px solid palette(mid); border-radius: 8px; }"));

    searchField = new QLineEdit(this);
    searchField->setPlaceholderText(QStringLiteral("Find"));
    searchField->setMinimumWidth(fieldWidth);
    searchField->setClearButtonEnabled(true);
    searchField->installEventFilter(this);
    previousButton = imageButton(this, QStringLiteral("go-up"), QStringLiteral("\u25B2"), QStringLiteral("Previous"));
    nextButton = imageButton(this, QStringLiteral("go-down"), QStringLiteral("\u25BC"), QStringLiteral("Next"));
    closeButton = imageButton(this, QStringLiteral("window-close"), QStringLiteral("\u2715"), QStringLiteral("Close"));
    caseSensitiveButton = toggle(this, QStringLiteral("Aa"), QStringLiteral("Case Sensitive"));
    regexButton = toggle(this, QStringLiteral(".*"), QStringLiteral("Regex"));
    wholeWordButton = toggle(this, QStringLiteral("Word"), QStringLiteral("Whole Word"));
    // A click on a button that takes no focus gives it to the nearest parent that takes it
    // on a click: the bar takes it and hands it to the field, so the keys typed next stay in
    // the field rather than reaching the terminal behind the bar.
    setFocusPolicy(Qt::ClickFocus);
    setFocusProxy(searchField);

    auto* stack = new QHBoxLayout(this);
    stack->setSpacing(6);
    stack->setContentsMargins(8, 6, 8, 6);
    stack->addWidget(searchField, 1, Qt::AlignVCenter);
    for (QWidget* widget : std::initializer_list<QWidget*>{previousButton, nextButton, caseSensitiveButton, regexButton,
                                                           wholeWordButton, closeButton})
        stack->addWidget(widget, 0, Qt::AlignVCenter);

    connect(searchField, &QLineEdit::textEdited, this, [this](const QString& text) {
        if (onSearchChanged)
            onSearchChanged(text.toStdString());
    });
    connect(previousButton, &QToolButton::clicked, this, [this] {
        if (onFindPrevious)
            onFindPrevious();
    });
    connect(nextButton, &QToolButton::clicked, this, [this] {
        if (onFindNext)
            onFindNext();
    });
    connect(closeButton, &QToolButton::clicked, this, [this] {
        if (onClose)
            onClose();
    });
    for (QCheckBox* box : {caseSensitiveButton, regexButton, wholeWordButton})
        connect(box, &QCheckBox::toggled, this, [this] { optionChanged(); });
}

QSize TerminalFindBarView::sizeHint() const
{
    const QMargins margins = layout()->contentsMargins();
    const int spacing = std::max(layout()->spacing(), 0);
    int width = margins.left() + margins.right() + std::max(searchField->sizeHint().width(), fieldWidth);
    for (const QWidget* control : std::initializer_list<const QWidget*>{previousButton, nextButton, caseSensitiveButton,
                                                                        regexButton, wholeWordButton, closeButton})
        width += spacing + control->sizeHint().width();
    return {width, layout()->sizeHint().height()};
}

QSize TerminalFindBarView::minimumSizeHint() const
{
    const QMargins margins = layout()->contentsMargins();
    const int spacing = std::max(layout()->spacing(), 0);
    return {margins.left() + margins.right() + narrowestField + spacing + closeButton->sizeHint().width(),
            layout()->sizeHint().height()};
}

void TerminalFindBarView::resizeEvent(QResizeEvent* event)
{
    QFrame::resizeEvent(event);
    fitControls();
}

void TerminalFindBarView::fitControls()
{
    const QMargins margins = layout()->contentsMargins();
    const int spacing = std::max(layout()->spacing(), 0);
    // In the order they give way.
    const std::vector<QWidget*> optional{wholeWordButton, regexButton, caseSensitiveButton, nextButton, previousButton};
    std::vector<bool> shown(optional.size(), true);
    const auto besideField = [&] {
        int used = margins.left() + margins.right() + spacing + closeButton->sizeHint().width();
        for (std::size_t i = 0; i < optional.size(); ++i)
            if (shown[i])
                used += spacing + optional[i]->sizeHint().width();
        return used;
    };
    // The toggles go while the field cannot have its usual width.
    for (std::size_t i = 0; i < 3 && besideField() + fieldWidth > width(); ++i)
        shown[i] = false;
    // Then previous and next, once the field would be narrower than it can usefully be.
    for (std::size_t i = 3; i < optional.size() && besideField() + narrowestField > width(); ++i)
        shown[i] = false;
    searchField->setMinimumWidth(std::clamp(width() - besideField(), 0, fieldWidth));
    for (std::size_t i = 0; i < optional.size(); ++i)
        optional[i]->setVisible(shown[i]);
}

SearchOptions TerminalFindBarView::options() const
{
    return SearchOptions{caseSensitiveButton->isChecked(), regexButton->isChecked(), wholeWordButton->isChecked()};
}

std::string TerminalFindBarView::term() const
{
    return searchField->text().toStdString();
}

void TerminalFindBarView::searchFieldAction(bool shiftHeld)
{
    if (shiftHeld) {
        if (onFindPrevious)
            onFindPrevious();
    } else if (onFindNext) {
        onFindNext();
    }
}

void TerminalFindBarView::optionChanged()
{
    if (onOptionsChanged)
        onOptionsChanged(options());
}

bool TerminalFindBarView::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == searchField && event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
            searchFieldAction(key->modifiers().testFlag(Qt::ShiftModifier));
            return true;
        }
        if (key->key() == Qt::Key_Escape) {
            if (onClose)
                onClose();
            return true;
        }
    }
    return QFrame::eventFilter(watched, event);
}

void TerminalFindBarView::keyPressEvent(QKeyEvent* event)
{
    event->accept();
}

void TerminalFindBarView::keyReleaseEvent(QKeyEvent* event)
{
    event->accept();
}

} // namespace corvantix
