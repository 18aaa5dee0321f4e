#include "workspace/MacUpdate.h"

#include "workspace/AssignAndNotify.h"
#include "platform/DetachedProcess.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>

#include <qcoro/qcoronetworkreply.h>

#include <cmath>
#include <limits>

#ifndef HALVOREN_VERSION
#define HALVOREN_VERSION ""
#endif
#ifndef HALVOREN_BUILD_NUMBER
#define HALVOREN_BUILD_NUMBER ""
#endif

namespace halvoren {

namespace {

// The text shown for an optional field: a string as it is, nothing for null or a missing
// key, any other value as its compact JSON.
QString fieldText(const QJsonValue& value)
{
    if (value.isString())
        return value.toString();
    if (value.isNull() || value.isUndefined())
        return {};
    const QByteArray wrapped = QJsonDocument(QJsonArray{value}).toJson(QJsonDocument::Compact);
    return QString::fromUtf8(wrapped.mid(1, wrapped.size() - 2));
}

} // namespace

QUrl MacUpdate::updateEndpoint()
{
    return QUrl(QStringLiteral("https://updates.halvoren.app/halvoren/latest.json"));
}

MacUpdate::MacUpdate(QUrl endpoint, qint64 runningBuild, QObject* parent)
    : QObject(parent), endpoint(std::move(endpoint)), runningBuild(runningBuild)
{
}

MacUpdate& MacUpdate::shared()
{
    static MacUpdate* update = new MacUpdate;
    return *update;
}

void MacUpdate::setDismissed(bool value)
{
    assign(this, dismissedValue, value, &MacUpdate::dismissedChanged);
}

void MacUpdate::setAvailable(const std::optional<Available>& value)
{
    assign(this, availableValue, value, &MacUpdate::availableChanged);
}

void MacUpdate::start()
{
    if (timerValue)
        return;
    timerValue = new QTimer(this);
    timerValue->setInterval(checkInterval * 1000);
    QPointer<MacUpdate> self(this);
    connect(timerValue, &QTimer::timeout, this, [self] {
        if (self)
            self->check();
    });
    timerValue->start();
    check();
}

Task<> MacUpdate::check()
{
    QPointer<MacUpdate> self(this);
    if (network == nullptr)
        network = new QNetworkAccessManager(this);
    QNetworkRequest request(endpoint);
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
    request.setTransferTimeout(requestTimeout * 1000);
    QNetworkReply* reply = network->get(request);
    // The answer comes from the network: stop a transfer as soon as it is larger than a
    // document can be, and never read more than that.
    const auto tooLarge = [reply](qint64 received, qint64 total) {
        if (received > maxDocumentBytes || total > maxDocumentBytes)
            reply->abort();
    };
    connect(reply, &QNetworkReply::metaDataChanged, reply, [reply, tooLarge] {
        tooLarge(0, reply->header(QNetworkRequest::ContentLengthHeader).toLongLong());
    });
    connect(reply, &QNetworkReply::downloadProgress, reply, tooLarge);
    co_await reply;
    reply->deleteLater();
    if (!self || reply->error() != QNetworkReply::NoError)
        co_return;
    if (reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt() != 200)
        co_return;
    const QByteArray document = reply->read(maxDocumentBytes + 1);
    if (document.size() > maxDocumentBytes)
        co_return;
    const std::optional<Available> release = parseRelease(document);
    if (!release)
        co_return;
    std::optional<Available> candidate;
    if (release->build > runningBuild)
        candidate = release;
    if (candidate == availableValue)
        co_return;
    setAvailable(candidate);
    setDismissed(false);
}

void MacUpdate::openDownload()
{
    if (availableValue && !openOnDesktop(availableValue->url))
        Q_EMIT downloadNotOpened();
}

std::optional<MacUpdate::Available> parseRelease(const QByteArray& document)
{
    QJsonParseError error;
    const QJsonDocument json = QJsonDocument::fromJson(document, &error);
    if (error.error != QJsonParseError::NoError || !json.isObject())
        return std::nullopt;
    const QJsonObject object = json.object();
    const QJsonValue build = object.value(QStringLiteral("build"));
    if (!build.isDouble())
        return std::nullopt;
    // A number beyond 64 bits has no integer value; casting it would be undefined.
    const double number = build.toDouble();
    constexpr double limit = 9223372036854775808.0;
    if (!std::isfinite(number) || number >= limit || number < -limit)
        return std::nullopt;
    const QJsonValue url = object.value(QStringLiteral("url"));
    if (!url.isString())
        return std::nullopt;
    const QUrl address(url.toString(), QUrl::StrictMode);
    if (address.isEmpty() || !address.isValid())
        return std::nullopt;
    return MacUpdate::Available{fieldText(object.value(QStringLiteral("version"))),
                                build.toInteger(static_cast<qint64>(number)),
                                fieldText(object.value(QStringLiteral("notes"))), address};
}

qint64 parseBuildNumber(const QString& text)
{
    qsizetype at = 0;
    const bool negative = text.startsWith(u'-');
    if (negative || text.startsWith(u'+'))
        at = 1;
    if (at == text.size())
        return 0;
    // Gathered as a negative number, whose range is one wider, so the smallest value fits.
    qint64 value = 0;
    for (; at < text.size(); ++at) {
        const char16_t c = text.at(at).unicode();
        if (c < u'0' || c > u'9')
            return 0;
        const int digit = c - u'0';
        if (value < (std::numeric_limits<qint64>::min() + digit) / 10)
            return 0;
        value = value * 10 - digit;
    }
    if (!negative) {
        if (value == std::numeric_limits<qint64>::min())
            return 0;
        value = -value;
    }
    return value;
}

qint64 bundleBuild()
{
    return parseBuildNumber(QStringLiteral(HALVOREN_BUILD_NUMBER));
}

QString bundleVersion()
{
    return QStringLiteral(HALVOREN_VERSION);
}

} // namespace halvoren
