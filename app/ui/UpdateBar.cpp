#include "ui/UpdateBar.h"

#include "workspace/MacUpdate.h"
#include "ui/Icons.h"
#include "style/Palette.h"
#include "style/VisibleText.h"

#include <QFontMetricsF>
#include <QHBoxLayout>
#include <QPainter>
#include <QPushButton>
#include <QTextBoundaryFinder>
#include <QTextLayout>
#include <QToolButton>
#include <QVBoxLayout>

namespace halvoren {

namespace {

// A filled circle with a downward arrow cut out of it.
class DownloadMark : public QWidget {
public:
    explicit DownloadMark(QWidget* parent)
        : QWidget(parent)
    {
        setFixedSize(18, 18);
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        const QRectF box = QRectF(rect()).adjusted(1, 1, -1, -1);
        painter.setPen(Qt::NoPen);
        painter.setBrush(Palette::accent());
        painter.drawEllipse(box);
        painter.setPen(QPen(Palette::bar(), 1.8, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        const qreal x = box.center().x();
        const qreal top = box.top() + box.height() * 0.25;
        const qreal bottom = box.top() + box.height() * 0.72;
        const qreal wing = box.width() * 0.2;
        painter.drawLine(QPointF(x, top), QPointF(x, bottom));
        painter.drawLine(QPointF(x - wing, bottom - wing), QPointF(x, bottom));
        painter.drawLine(QPointF(x + wing, bottom - wing), QPointF(x, bottom));
    }
};

} // namespace

QStringList clampLines(const QString& text, const QFont& font, qreal width, int maxLines)
{
    QStringList lines;
    bool cut = false;
    // The notes come from the update server: each paragraph (ended as on any system) is a
    // line of text as written, its control characters and direction overrides shown as symbols.
    const QStringList paragraphs = QString(text).replace(QStringLiteral("\r\n"), QStringLiteral("\n")).split(u'\n');
    QTextOption option;
    // A word longer than the line goes on over the next one rather than past the edge.
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    for (qsizetype p = 0; p < paragraphs.size() && !cut; ++p) {
        const QString paragraph = visibleText(paragraphs.at(p));
        QTextLayout layout(paragraph, font);
        layout.setTextOption(option);
        layout.beginLayout();
        for (;;) {
            QTextLine line = layout.createLine();
            if (!line.isValid())
                break;
            line.setLineWidth(width);
            if (lines.size() == maxLines) {
                cut = true;
                break;
            }
            lines << paragraph.mid(line.textStart(), line.textLength());
        }
        layout.endLayout();
        if (paragraph.isEmpty() && !cut) {
            if (lines.size() == maxLines)
                cut = true;
            else
                lines << QString();
        }
        if (lines.size() == maxLines && p + 1 < paragraphs.size())
            cut = true;
    }
    if (cut && !lines.isEmpty()) {
        // Shortened a whole character at a time, never between the two halves of one.
        const QFontMetricsF metrics(font);
        QString last = lines.last().trimmed();
        QTextBoundaryFinder characters(QTextBoundaryFinder::Grapheme, last);
        characters.toEnd();
        while (!last.isEmpty() && metrics.horizontalAdvance(last + u'…') > width)
            last = last.left(std::max<qsizetype>(characters.toPreviousBoundary(), 0)).trimmed();
        lines.last() = last + u'…';
    }
    return lines;
}

NotesLabel::NotesLabel(QWidget* parent)
    : QLabel(parent)
{
    setObjectName(QStringLiteral("updateNotes"));
    // The notes come from the update server: text, never markup.
    setTextFormat(Qt::PlainText);
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
}

void NotesLabel::setNotes(const QString& value)
{
    full = value;
    relayout();
}

void NotesLabel::resizeEvent(QResizeEvent* event)
{
    QLabel::resizeEvent(event);
    relayout();
}

void NotesLabel::relayout()
{
    const QString shown = clampLines(full, font(), std::max(width(), 40), maxLines).join(u'\n');
    if (shown != text())
        setText(shown);
}

UpdateBar::UpdateBar(MacUpdate& update, QWidget* parent)
    : QWidget(parent), update(update), title(new ElidedLabel(QString(), this)), notesLabel(new NotesLabel(this)),
      downloadButton(new QPushButton(QStringLiteral("Télécharger"), this)), closeButton(new QToolButton(this))
{
    setObjectName(QStringLiteral("updateBar"));
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(12, 8, 12, 8);
    row->setSpacing(10);
    row->addWidget(new DownloadMark(this));

    auto* texts = new QVBoxLayout;
    texts->setSpacing(1);
    QFont callout = title->font();
    callout.setPixelSize(12);
    callout.setWeight(QFont::DemiBold);
    title->setFont(callout);
    title->setObjectName(QStringLiteral("updateTitle"));
    title->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    QFont caption = notesLabel->font();
    caption.setPixelSize(10);
    notesLabel->setFont(caption);
    QPalette secondary = notesLabel->palette();
    secondary.setColor(QPalette::WindowText, Palette::secondaryText());
    notesLabel->setPalette(secondary);
    QPalette primary = title->palette();
    primary.setColor(QPalette::WindowText, Qt::white);
    title->setPalette(primary);
    texts->addWidget(title);
    texts->addWidget(notesLabel);
    row->addLayout(texts, 1);

    downloadButton->setObjectName(QStringLiteral("downloadButton"));
    downloadButton->setStyleSheet(QStringLiteral("QPushButton { background: %1; color: black; border: none;"
                                                 " border-radius: 5px; padding: 3px 10px; }")
                                      .arg(Palette::accent().name()));
    row->addWidget(downloadButton);
    closeButton->setObjectName(QStringLiteral("closeUpdateButton"));
    closeButton->setAutoRaise(true);
    closeButton->setIcon(symbolIcon(u"xmark", Palette::secondaryText(), 12));
    row->addWidget(closeButton);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);

    connect(downloadButton, &QPushButton::clicked, this, [this] { this->update.openDownload(); });
    // Closing only hides the strip: the release stays known.
    connect(closeButton, &QToolButton::clicked, this, [this] { this->update.setDismissed(true); });
    connect(&update, &MacUpdate::availableChanged, this, &UpdateBar::refresh);
    connect(&update, &MacUpdate::dismissedChanged, this, &UpdateBar::refresh);
    refresh();
}

void UpdateBar::refresh()
{
    const std::optional<MacUpdate::Available>& release = update.available();
    const bool shown = release.has_value() && !update.dismissed();
    if (shown) {
        title->setFullText(visibleText(QStringLiteral("Halvoren ") + release->version + QStringLiteral(" est disponible")));
        notesLabel->setNotes(release->notes);
        notesLabel->setVisible(!release->notes.isEmpty());
    }
    setVisible(shown);
}

void UpdateBar::paintEvent(QPaintEvent*)
{
    QColor tint = Palette::accent();
    tint.setAlphaF(0.12f);
    QPainter painter(this);
    painter.fillRect(rect(), tint);
}

} // namespace halvoren
