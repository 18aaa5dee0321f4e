// The update check: asks the maker's update address for the newest published build and keeps
// a newer one, if any, for the update bar.
#pragma once

#include <QObject>
#include <QString>
#include <QUrl>

#include <optional>

namespace halvoren {

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

    static MacUpdate& shared();

    const std::optional<Available>& available() const { return availableValue; }
    void setAvailable(const std::optional<Available>& value);
    bool dismissed() const { return dismissedValue; }
    void setDismissed(bool value);

    void start();
    void openDownload();

Q_SIGNALS:
    void availableChanged();
    void dismissedChanged();

private:
    std::optional<Available> availableValue;
    bool dismissedValue = false;
};

// The running application's build number.
qint64 bundleBuild();

} // namespace halvoren
