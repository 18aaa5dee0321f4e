// A workspace model for one test, with preferences of its own in a fresh folder and no
// session bus unless the test gives one; a ClockedModel polls on a clock the test moves.
#pragma once

#include "app/support/TempFolder.h"
#include "app/workspace/ManualClock.h"
#include "platform/Notifier.h"
#include "tab/MacTab.h"
#include "workspace/MacModel.h"

#include <QDBusConnection>
#include <QRegularExpression>
#include <QStringList>
#include <QTest>
#include <gtest/gtest.h>

#include <memory>
#include <optional>

namespace halvoren::test {

// An answer that is there at once: a stand-in for a script's or a keychain's.
template <typename T>
Task<T> ready(T value)
{
    co_return value;
}

// The checksum a fake host gives for a file's bytes.
inline QString fakeSum(const QByteArray& bytes)
{
    return QString::number(qHash(bytes)) + u' ' + QString::number(bytes.size());
}

// The bytes an upload of the shared-state file installs, read back from the pieces of its
// Base64 payload.
inline std::optional<QByteArray> uploadedBytes(const QString& script)
{
    static const QRegularExpression piece(QStringLiteral("^printf %s '([A-Za-z0-9+/=]*)'$"),
                                          QRegularExpression::MultilineOption);
    QByteArray base64;
    bool found = false;
    for (QRegularExpressionMatchIterator pieces = piece.globalMatch(script); pieces.hasNext(); found = true)
        base64 += pieces.next().captured(1).toLatin1();
    if (!found)
        return std::nullopt;
    return QByteArray::fromBase64(base64);
}

// The answer of an upload of the shared-state file that installed its file (a fake host
// keeps none to compare with), with the fake checksum of what it wrote; empty for any other
// script.
inline QString writtenAnswer(const QString& script)
{
    static const QRegularExpression marker(QStringLiteral("printf '(@@HV_WRITTEN@@[0-9a-f]*) %s"));
    const QRegularExpressionMatch found = marker.match(script);
    const std::optional<QByteArray> bytes = uploadedBytes(script);
    if (!found.hasMatch() || !bytes)
        return QString();
    return found.captured(1) + u' ' + fakeSum(*bytes) + u'\n';
}

// What a shell prints for a script that ran to its end: the line the model puts last in every
// script that writes to a host (after the answer of an upload), and nothing for any other
// script.
inline QString ranToItsEnd(const QString& script)
{
    const qsizetype last = script.lastIndexOf(QStringLiteral("\necho hv-fin-"));
    if (last < 0 || !script.endsWith(u'\n'))
        return QString();
    return writtenAnswer(script) + script.mid(last + 6);
}

// The script without the line that tells it ran to its end.
inline QString withoutCompletionLine(const QString& script)
{
    const qsizetype last = script.lastIndexOf(QStringLiteral("\necho hv-fin-"));
    if (last < 0 || !script.endsWith(u'\n'))
        return script;
    return script.left(last + 1);
}

// The profiles' ids, in order.
inline QStringList ids(const QList<MacProfile>& profiles)
{
    QStringList list;
    for (const MacProfile& p : profiles)
        list << p.id;
    return list;
}

struct ModelInFolder {
    ModelInFolder() : ModelInFolder(QDBusConnection(QStringLiteral("no-bus"))) {}
    // Notifications go to `bus`.
    explicit ModelInFolder(const QDBusConnection& bus) : notifier(bus) {}

    TempFolder folder;
    PreferenceStore store{folder.file(QStringLiteral("preferences.json"))};
    Prefs prefs{store};
    Notifier notifier;
    MacModel model{prefs, nullptr, &notifier};

    MacConnection& local() { return *model.localConnection(); }
};

struct ClockedModel : ModelInFolder {
    std::shared_ptr<ManualClock> clock = std::make_shared<ManualClock>();

    ClockedModel() { model.clock = clock; }
    explicit ClockedModel(const QDBusConnection& bus) : ModelInFolder(bus) { model.clock = clock; }
};

// A clocked model whose tabs run real processes, stopped with it; it never counts as in front.
struct SyncingModel : ClockedModel {
    SyncingModel() { model.isFrontmost = [] { return false; }; }
    ~SyncingModel()
    {
        for (MacTab* tab : model.tabs())
            tab->stop();
    }
    // One sync of the connection, waited for.
    void sync(MacConnection& connection)
    {
        QCoro::waitFor(model.requestSync(connection));
        EXPECT_TRUE(QTest::qWaitFor([&connection] { return !connection.syncing; }, 30000));
    }
    void sync() { sync(local()); }
    // The sessions of the tabs whose folder is below `root` (the private tmux server may hold
    // tabs other tests left open), all of them without one.
    QStringList sessions(const QString& root = QString()) const
    {
        QStringList names;
        for (const MacTab* tab : model.tabs()) {
            if (root.isEmpty() || tab->project.path.startsWith(root + u'/'))
                names << tab->project.session;
        }
        return names;
    }
    // Every banner shown or waiting.
    QStringList banners() const
    {
        QStringList all = model.waitingBanners();
        if (model.banner())
            all.prepend(*model.banner());
        return all;
    }
};

} // namespace halvoren::test
