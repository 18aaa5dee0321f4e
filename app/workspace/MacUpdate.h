// The update check: asks the maker's update address for the newest published build and keeps
// a newer one, if any, for the update bar.
#pragma once

#include "remote/Async.h"

#include <QByteArray>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QUrl>

#include <optional>

class QNetworkAccessManager;
class QTimer;

namespace halvoren {

// The running application's build number, fixed when it was built.
qint64 bundleBuild();
// The running application's version as shown to the user ("1.4"), fixed when it was built.
QString bundleVersion();

class MacUpdate : public QObject {
    Q_OBJECT

public:
    struct Available {
        QString version;
        qint64 build = 0;
        QString notes;
        QUrl url;

        friend bool operator==(const Available&, const Available&) = default;
    };

    // Seconds between two checks, and the longest a transfer may stall.
    static constexpr int checkInterval = 21600;
    static constexpr int requestTimeout = 15;
    // A larger answer is not a release document; the transfer is dropped.
    static constexpr qint64 maxDocumentBytes = 1 << 20;

    // The address every check asks.
    static QUrl updateEndpoint();

    // Tests pass a loopback address and the build to compare with.
    explicit MacUpdate(QUrl endpoint = updateEndpoint(), qint64 runningBuild = bundleBuild(),
                       QObject* parent = nullptr);

    static MacUpdate& shared();

    const std::optional<Available>& available() const { return availableValue; }
    void setAvailable(const std::optional<Available>& value);
    bool dismissed() const { return dismissedValue; }
    void setDismissed(bool value);

    // Checks now, then every six hours; later calls do nothing.
    void start();
    // One check; a failure of any kind leaves everything as it was.
    Task<> check();
    // Opens the release's download address; nothing without a release. Without an opener
    // nothing runs and downloadNotOpened is emitted.
    void openDownload();

Q_SIGNALS:
    void availableChanged();
    void dismissedChanged();
    void downloadNotOpened();

private:
    const QUrl endpoint;
    const qint64 runningBuild;
    QNetworkAccessManager* network = nullptr;
    QPointer<QTimer> timerValue;
    std::optional<Available> availableValue;
    bool dismissedValue = false;
};

// The release a document describes: a JSON object with a numeric "build" and a valid "url"
// text; "version" and "notes" are optional. Nothing for anything else.
std::optional<MacUpdate::Available> parseRelease(const QByteArray& document);

// A build number written as an optional sign and decimal digits only, fitting 64 bits; 0 for
// anything else, so an odd build number counts as the oldest.
qint64 parseBuildNumber(const QString& text);

} // namespace halvoren
