#include "ui/SessionPicker.h"

#include "platform/Translations.h"
#include "style/VisibleText.h"
#include "ui/Icons.h"
#include "ui/PlainText.h"
#include "style/Palette.h"

#include <QFontDatabase>
#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <QScrollArea>
#include <QToolButton>
#include <QVBoxLayout>

#include <unicode/locid.h>
#include <unicode/reldatefmt.h>
#include <unicode/unistr.h>

#include <cmath>
#include <memory>

namespace halvoren {

namespace {

// The largest whole calendar months from `earlier` to `later` (both as local dates and times).
qint64 wholeMonths(const QDateTime& earlier, const QDateTime& later)
{
    const QDate a = earlier.date();
    const QDate b = later.date();
    qint64 months = qint64(b.year() - a.year()) * 12 + (b.month() - a.month());
    if (b.day() < a.day() || (b.day() == a.day() && later.time() < earlier.time()))
        months -= 1;
    return std::max<qint64>(months, 0);
}

QFont pixelFont(QFont font, int pixels, QFont::Weight weight = QFont::Normal)
{
    font.setPixelSize(pixels);
    font.setWeight(weight);
    return font;
}

QFont monospaceFont(int pixels)
{
    return pixelFont(QFontDatabase::systemFont(QFontDatabase::FixedFont), pixels);
}

void setTextColor(QWidget& widget, const QColor& color)
{
    QPalette palette = widget.palette();
    palette.setColor(QPalette::WindowText, color);
    palette.setColor(QPalette::Text, color);
    widget.setPalette(palette);
}

} // namespace

QString relativeDateText(const QDateTime& date, const QDateTime& now, const QString& localeName)
{
    // Seconds from now: negative in the past.
    const qint64 seconds = now.secsTo(date);
    const qint64 span = seconds < 0 ? -seconds : seconds;
    const double sign = seconds < 0 ? -1.0 : 1.0;
    URelativeDateTimeUnit unit = UDAT_REL_UNIT_SECOND;
    qint64 count = span;
    if (span >= 7 * 86400) {
        const qint64 months = seconds < 0 ? wholeMonths(date, now) : wholeMonths(now, date);
        if (months >= 12) {
            unit = UDAT_REL_UNIT_YEAR;
            count = months / 12;
        } else if (months >= 1) {
            unit = UDAT_REL_UNIT_MONTH;
            count = months;
        } else {
            unit = UDAT_REL_UNIT_WEEK;
            count = span / (7 * 86400);
        }
    } else if (span >= 86400) {
        unit = UDAT_REL_UNIT_DAY;
        count = span / 86400;
    } else if (span >= 3600) {
        unit = UDAT_REL_UNIT_HOUR;
        count = span / 3600;
    } else if (span >= 60) {
        unit = UDAT_REL_UNIT_MINUTE;
        count = span / 60;
    }

    UErrorCode status = U_ZERO_ERROR;
    const icu::Locale locale(localeName.toUtf8().constData());
    icu::RelativeDateTimeFormatter formatter(locale, nullptr, UDAT_STYLE_LONG, UDISPCTX_CAPITALIZATION_NONE,
                                             status);
    icu::UnicodeString text;
    if (U_SUCCESS(status))
        formatter.format(sign * double(count), unit, text, status);
    if (U_FAILURE(status))
        return QLocale(localeName).toString(date, QLocale::ShortFormat);
    return QString::fromUtf16(text.getBuffer(), text.length());
}

QString sessionDetailLine(const FolderSession& session, const QDateTime& now, const QString& localeName)
{
    QString line = session.command + QStringLiteral(" · active ")
                   + relativeDateText(session.lastActivity, now, localeName);
    if (session.attached >= 1)
        line += QStringLiteral(" · ") + QString::number(session.attached) + QStringLiteral(" appareil(s)");
    return line;
}

SessionPicker::SessionPicker(MacModel& model, PickerRequest request, std::function<void()> done, QWidget* parent)
    : QDialog(parent), model(model), request(std::move(request)), done(std::move(done))
{
    setWindowModality(Qt::WindowModal);
    setFixedWidth(520);

    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(20, 20, 20, 20);
    column->setSpacing(12);

    // A long folder name wraps: the title grows a few lines rather than losing its end.
    auto* title = new WrappedLabel(QStringLiteral("Sessions de ") + visibleText(this->request.project.name), this);
    title->setObjectName(QStringLiteral("title"));
    title->setMaximumLines(titleLines);
    title->setToolTip(plainToolTip(visibleText(this->request.project.name)));
    title->setFont(pixelFont(title->font(), 15, QFont::DemiBold));
    column->addWidget(title);

    auto* explanation = plainLabel(
        QStringLiteral("Ce dossier a déjà des sessions tmux. Reprends la tienne, ou démarre-en une neuve."), this);
    explanation->setWordWrap(true);
    explanation->setFont(pixelFont(explanation->font(), 12));
    setTextColor(*explanation, mutedTextColor());
    column->addWidget(explanation);

    auto* list = new QScrollArea(this);
    list->setObjectName(QStringLiteral("sessions"));
    list->setWidgetResizable(true);
    list->setMinimumHeight(160);
    list->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    auto* content = new QWidget(list);
    rows = new QVBoxLayout(content);
    rows->setContentsMargins(8, 4, 8, 4);
    rows->setSpacing(0);
    list->setWidget(content);
    column->addWidget(list, 1);

    auto* buttons = new QHBoxLayout();
    auto* cancelButton = new QPushButton(QStringLiteral("Annuler"), this);
    cancelButton->setAutoDefault(false);
    auto* newButton = new QPushButton(QStringLiteral("Nouvelle session"), this);
    // Return anywhere in the sheet starts a new session.
    newButton->setDefault(true);
    buttons->addWidget(cancelButton);
    buttons->addStretch(1);
    buttons->addWidget(newButton);
    column->addLayout(buttons);
    connect(cancelButton, &QPushButton::clicked, this, &SessionPicker::cancel);
    connect(newButton, &QPushButton::clicked, this, &SessionPicker::newSession);

    showSessions();
}

void SessionPicker::showSessions()
{
    while (QLayoutItem* item = rows->takeAt(0)) {
        if (QWidget* widget = item->widget())
            widget->deleteLater();
        delete item;
    }
    const QDateTime now = model.clock->now();
    // French whatever the session's locale, as every other text of the window.
    const QString locale = interfaceLocale().name();
    QWidget* content = rows->parentWidget();
    for (const FolderSession& session : std::as_const(request.sessions)) {
        auto* row = new QWidget(content);
        row->setObjectName(session.name);
        auto* line = new QHBoxLayout(row);
        line->setContentsMargins(0, 3, 0, 3);

        auto* texts = new QVBoxLayout();
        texts->setSpacing(2);
        // Long names give way to the buttons; two sessions whose names differ only past the
        // cut are told apart by the whole name in the tooltip.
        auto* name = new ElidedLabel(visibleText(session.name), row);
        name->setObjectName(QStringLiteral("name"));
        name->showWholeTextInToolTip();
        name->setFont(monospaceFont(12));
        auto* detail = new ElidedLabel(visibleText(sessionDetailLine(session, now, locale)), row);
        detail->setObjectName(QStringLiteral("detail"));
        detail->showWholeTextInToolTip();
        detail->setFont(pixelFont(detail->font(), 10));
        setTextColor(*detail, mutedTextColor());
        texts->addWidget(name);
        texts->addWidget(detail);
        line->addLayout(texts);
        line->addStretch(1);

        auto* resumeButton = new QPushButton(QStringLiteral("Reprendre"), row);
        resumeButton->setObjectName(QStringLiteral("resume"));
        resumeButton->setAutoDefault(false);
        resumeButton->setFlat(true);
        auto* trash = new QToolButton(row);
        trash->setObjectName(QStringLiteral("trash"));
        trash->setIcon(symbolIcon(u"trash", alertRedColor(), 14));
        trash->setToolTip(QStringLiteral("Fermer cette session"));
        trash->setAutoRaise(true);
        line->addWidget(resumeButton);
        line->addWidget(trash);
        connect(resumeButton, &QPushButton::clicked, this, [this, session] { resume(session); });
        connect(trash, &QToolButton::clicked, this, [this, session] { closeSession(session); });
        rows->addWidget(row);
    }
    rows->addStretch(1);
}

void SessionPicker::resume(const FolderSession& session)
{
    MacConnection* connection = model.connection(request.connId);
    if (connection == nullptr)
        return;
    model.openProject(MacProject{request.project.name, request.project.path, session.name}, *connection);
    finish(QDialog::Accepted);
}

void SessionPicker::closeSession(const FolderSession& session)
{
    MacConnection* connection = model.connection(request.connId);
    if (connection == nullptr)
        return;
    killAndRefresh(this, &model, connection, session, request.project.path);
}

Task<> SessionPicker::killAndRefresh(QPointer<SessionPicker> self, QPointer<MacModel> model,
                                     QPointer<MacConnection> connection, FolderSession session, QString path)
{
    Task<> killing = model->killSession(session.name, *connection);
    co_await std::move(killing);
    if (!model || !connection)
        co_return;
    Task<QList<FolderSession>> listing = model->listFolderSessions(path, *connection);
    QList<FolderSession> sessions = co_await std::move(listing);
    // The sheet may have been closed meanwhile: the fresh list then goes nowhere.
    if (!self)
        co_return;
    self->request.sessions = std::move(sessions);
    self->showSessions();
}

void SessionPicker::newSession()
{
    MacConnection* connection = model.connection(request.connId);
    if (connection == nullptr)
        return;
    model.openProject(model.freshProject(request.project.name, request.project.path, *connection), *connection);
    finish(QDialog::Accepted);
}

void SessionPicker::cancel()
{
    finish(QDialog::Rejected);
}

void SessionPicker::reject()
{
    cancel();
}

void SessionPicker::finish(int result)
{
    QPointer<SessionPicker> self(this);
    if (done)
        done();
    if (self && isVisible())
        QDialog::done(result);
}

QSize SessionPicker::sizeHint() const
{
    return fixedWidthSheetSize(*this);
}

} // namespace halvoren
