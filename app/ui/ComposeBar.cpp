#include "ui/ComposeBar.h"

#include "workspace/MacModel.h"
#include "tab/MacTab.h"
#include "ui/Icons.h"
#include "style/Palette.h"

#include <QFileDialog>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QPainter>
#include <QTextBlock>
#include <QTextLayout>
#include <QVBoxLayout>

#include <algorithm>

namespace halvoren {

namespace {

constexpr int fieldPadX = 10;
constexpr int fieldPadY = 7;
constexpr int buttonSide = 28;

// The desktop's chooser, shown without blocking; a cancelled chooser calls nothing.
void showFileChooser(QWidget* parent, std::function<void(QList<QUrl>)> chosen)
{
    auto* dialog = new QFileDialog(parent);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setFileMode(QFileDialog::ExistingFiles);
    dialog->setWindowModality(Qt::WindowModal);
    // Accepting is what both the desktop's dialog and Qt's own report; Qt's own does not
    // announce the chosen files separately. The files are taken once, on acceptance.
    QObject::connect(dialog, &QDialog::accepted, dialog, [dialog, chosen = std::move(chosen)] {
        const QList<QUrl> urls = dialog->selectedUrls();
        if (!urls.isEmpty())
            chosen(urls);
    });
    dialog->open();
}

} // namespace

MessageField::MessageField(QWidget* parent)
    : QPlainTextEdit(parent)
{
    setObjectName(QStringLiteral("messageField"));
    setFrameShape(QFrame::NoFrame);
    setPlaceholderText(QStringLiteral("Message — Entrée envoie, Maj+Entrée passe à la ligne"));
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setTabChangesFocus(true);
    document()->setDocumentMargin(0);
    QFont font = this->font();
    font.setPixelSize(13);
    font.setWeight(QFont::Normal);
    setFont(font);
    QPalette colours = palette();
    colours.setColor(QPalette::Base, Qt::transparent);
    colours.setColor(QPalette::Text, Qt::white);
    colours.setColor(QPalette::PlaceholderText, Palette::secondaryText());
    setPalette(colours);
    viewport()->setAutoFillBackground(false);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    connect(this, &QPlainTextEdit::textChanged, this, &MessageField::fitHeight);
    fitHeight();
}

int MessageField::lineCount() const
{
    int lines = 0;
    for (QTextBlock block = document()->begin(); block.isValid(); block = block.next())
        lines += std::max(1, block.layout() ? block.layout()->lineCount() : 1);
    return std::max(1, lines);
}

QSize MessageField::sizeHint() const
{
    const int lines = std::min(lineCount(), maxLines);
    return {QPlainTextEdit::sizeHint().width(), lines * fontMetrics().lineSpacing() + 2};
}

void MessageField::fitHeight()
{
    const int lines = std::min(lineCount(), maxLines);
    setFixedHeight(lines * fontMetrics().lineSpacing() + 2);
    setVerticalScrollBarPolicy(lineCount() > maxLines ? Qt::ScrollBarAsNeeded : Qt::ScrollBarAlwaysOff);
}

void MessageField::resizeEvent(QResizeEvent* event)
{
    QPlainTextEdit::resizeEvent(event);
    // A new width rewraps the lines.
    fitHeight();
}

void MessageField::keyPressEvent(QKeyEvent* event)
{
    if (event->key() != Qt::Key_Return && event->key() != Qt::Key_Enter) {
        QPlainTextEdit::keyPressEvent(event);
        return;
    }
    // Held down, Return would send again and again.
    if (event->isAutoRepeat()) {
        event->accept();
        return;
    }
    if (event->modifiers().testFlag(Qt::ShiftModifier)) {
        // At the end of the message, wherever the insertion point is.
        QTextCursor cursor(document());
        cursor.movePosition(QTextCursor::End);
        cursor.insertText(QStringLiteral("\n"));
        setTextCursor(cursor);
    } else {
        Q_EMIT sendRequested();
    }
    event->accept();
}

SendButton::SendButton(QWidget* parent)
    : QToolButton(parent)
{
    setObjectName(QStringLiteral("sendButton"));
    setFixedSize(buttonSide, buttonSide);
    setFocusPolicy(Qt::NoFocus);
    setCursor(Qt::PointingHandCursor);
}

QColor SendButton::fill() const
{
    return isEnabled() ? Palette::accent() : Palette::secondaryText();
}

void SendButton::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(fill());
    painter.drawEllipse(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5));
    paintSymbol(painter, u"arrow.up", QRectF(rect()).adjusted(7, 7, -7, -7), Qt::black);
}

ComposeBar::ComposeBar(MacModel& model, QWidget* parent)
    : QWidget(parent), model(model), chooseFiles(showFileChooser), keyBar(new KeyBar(this)),
      attachButton(new QToolButton(this)), field(new MessageField(this)), sendButton(new SendButton(this))
{
    setObjectName(QStringLiteral("composeBar"));
    auto* stack = new QVBoxLayout(this);
    stack->setContentsMargins(10, 8, 10, 8);
    stack->setSpacing(6);
    stack->addWidget(keyBar);

    auto* row = new QHBoxLayout;
    row->setSpacing(8);
    attachButton->setObjectName(QStringLiteral("attachButton"));
    attachButton->setAutoRaise(true);
    attachButton->setFixedSize(buttonSide, buttonSide);
    attachButton->setIcon(symbolIcon(u"paperclip", Qt::white, 18));
    attachButton->setIconSize(QSize(18, 18));
    attachButton->setToolTip(QStringLiteral("Joindre des fichiers (déposés dans Upload/ du projet)"));
    attachButton->setFocusPolicy(Qt::NoFocus);
    row->addWidget(attachButton, 0, Qt::AlignBottom);

    auto* fieldBox = new QWidget(this);
    fieldBox->setObjectName(QStringLiteral("fieldBox"));
    fieldBox->setAttribute(Qt::WA_StyledBackground);
    fieldBox->setStyleSheet(QStringLiteral("#fieldBox { background: %1; border-radius: 8px; }")
                                .arg(Palette::field().name(QColor::HexArgb)));
    auto* boxLayout = new QVBoxLayout(fieldBox);
    boxLayout->setContentsMargins(fieldPadX, fieldPadY, fieldPadX, fieldPadY);
    boxLayout->addWidget(field);
    row->addWidget(fieldBox, 1, Qt::AlignBottom);
    row->addWidget(sendButton, 0, Qt::AlignBottom);
    stack->addLayout(row);

    sendButton->setEnabled(false);
    connect(field, &QPlainTextEdit::textChanged, this, [this] { sendButton->setEnabled(!text().isEmpty()); });
    connect(field, &MessageField::sendRequested, this, &ComposeBar::send);
    connect(sendButton, &QToolButton::clicked, this, &ComposeBar::send);
    connect(attachButton, &QToolButton::clicked, this, [this] {
        if (!chooseFiles)
            return;
        chooseFiles(this, [self = QPointer<ComposeBar>(this)](QList<QUrl> files) {
            if (self)
                self->importFiles(files);
        });
    });
}

void ComposeBar::setTab(MacTab* value)
{
    tabValue = value;
    keyBar->setTab(value);
}

QString ComposeBar::text() const
{
    return field->toPlainText();
}

void ComposeBar::send()
{
    const QString message = text();
    if (message.isEmpty() || !tabValue)
        return;
    tabValue->sendComposed(message);
    field->clear();
}

void ComposeBar::importFiles(const QList<QUrl>& files)
{
    if (files.isEmpty() || !tabValue)
        return;
    uploadDroppedFiles(QPointer<MacModel>(&model), tabValue, files);
}

void ComposeBar::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), Palette::bar());
    painter.fillRect(QRect(0, 0, width(), 1), Palette::separator());
}

void ComposeBar::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (!focusedOnce) {
        focusedOnce = true;
        field->setFocus(Qt::OtherFocusReason);
    }
}

} // namespace halvoren
