// The update check: reading the release document and the build number, and checks against a
// loopback HTTP server whose answer each test sets.
#include "model/MacUpdate.h"

#include <QDesktopServices>
#include <QSignalSpy>
#include <QTest>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <gtest/gtest.h>

#include <limits>

namespace halvoren {

// Found by the test framework next to the type, so failures show the release's fields.
void PrintTo(const MacUpdate::Available& a, std::ostream* os)
{
    *os << '{' << a.version.toStdString() << ", " << a.build << ", " << a.notes.toStdString() << ", "
        << a.url.toString().toStdString() << '}';
}

namespace {

TEST(UpdateDocument, OnlyANumericBuildAndAValidAddressMakeARelease)
{
    const QUrl url(QStringLiteral("https://dl.example/h"));
    const std::pair<const char*, std::optional<MacUpdate::Available>> cases[] = {
        {R"({"build":58,"url":"https://dl.example/h","version":"1.5","notes":"Vite","x":1})",
         MacUpdate::Available{"1.5", 58, "Vite", url}},
        {R"({"build":58.9,"url":"https://dl.example/h","version":2,"notes":null})", MacUpdate::Available{"2", 58, "", url}},
        {R"({"build":58,"url":"https://dl.example/h"})", MacUpdate::Available{"", 58, "", url}},
        {R"({"build":"58","url":"https://dl.example/h"})", std::nullopt},
        {R"({"build":1e300,"url":"https://dl.example/h"})", std::nullopt},
        {R"({"build":58,"url":7})", std::nullopt},
        {R"({"build":58,"url":"https://dl example/%zz"})", std::nullopt},
        {R"([{"build":58,"url":"https://dl.example/h"}])", std::nullopt},
    };
    for (const auto& [document, expected] : cases)
        EXPECT_EQ(parseRelease(QByteArray(document)), expected) << document;
}

TEST(UpdateDocument, BuildNumbersAreSignedDecimalIntegersElseZero)
{
    constexpr qint64 max = std::numeric_limits<qint64>::max();
    constexpr qint64 min = std::numeric_limits<qint64>::min();
    const std::pair<const char*, qint64> cases[] = {
        {"57", 57}, {"+57", 57}, {"-3", -3}, {"1.2", 0}, {"", 0}, {"+", 0}, {" 57", 0}, {"\xd9\xa3", 0},
        {"9223372036854775807", max}, {"9223372036854775808", 0}, {"-9223372036854775808", min}};
    for (const auto& [text, expected] : cases)
        EXPECT_EQ(parseBuildNumber(QString::fromUtf8(text)), expected) << text;
    EXPECT_GT(bundleBuild(), 0);
}

// Answers every request with the status and document of the moment, then closes.
struct UpdateServer {
    int status = 200;
    QByteArray document;
    int requests = 0;
    QTcpServer server;

    UpdateServer()
    {
        server.listen(QHostAddress::LocalHost);
        QObject::connect(&server, &QTcpServer::newConnection, [this] {
            while (QTcpSocket* socket = server.nextPendingConnection()) {
                QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
                QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, socket] { answer(socket); });
            }
        });
    }
    QUrl url() const { return QUrl(QStringLiteral("http://127.0.0.1:%1/halvoren/latest.json").arg(server.serverPort())); }
    void serveBuild(int build, const char* notes = "Notes")
    {
        document = QString::fromUtf8(R"({"build":%1,"url":"https://dl.example/%1","version":"1.%1","notes":"%2"})")
                       .arg(build).arg(QString::fromUtf8(notes)).toUtf8();
    }
    void answer(QTcpSocket* socket)
    {
        const QByteArray seen = socket->property("seen").toByteArray() + socket->readAll();
        socket->setProperty("seen", seen);
        if (!seen.contains("\r\n\r\n"))
            return;
        ++requests;
        const QByteArray body = status == 304 ? QByteArray() : document;
        socket->write("HTTP/1.1 " + QByteArray::number(status) + " Status\r\nConnection: close\r\nContent-Length: "
                      + QByteArray::number(body.size()) + "\r\n\r\n" + body);
        socket->disconnectFromHost();
    }
};

struct UpdateCheck : testing::Test {
    UpdateServer server;
    MacUpdate update{server.url(), 57};

    void check() { QCoro::waitFor(update.check()); }
    qint64 offered() const { return update.available() ? update.available()->build : -1; }
};

TEST_F(UpdateCheck, FailedChecksKeepTheReleaseAndTheClosedBar)
{
    server.serveBuild(58);
    check();
    ASSERT_EQ(offered(), 58);
    update.setDismissed(true);
    QSignalSpy changes(&update, &MacUpdate::availableChanged);
    // A newer document behind another status is not read, nor one too large or unreadable.
    server.serveBuild(59);
    for (const int status : {203, 304, 500, 404}) {
        server.status = status;
        check();
    }
    server.status = 200;
    server.document = QByteArray(R"({"build":61,"url":"https://dl.example/61","notes":")") + QByteArray(2 << 20, 'x') + "\"}";
    check();
    server.document = R"({"build":"60","url":"https://dl.example/60"})";
    check();
    const int requests = server.requests;
    server.server.close();
    check();
    EXPECT_EQ(requests, 7);
    EXPECT_EQ(server.requests, requests);
    EXPECT_EQ(offered(), 58);
    EXPECT_TRUE(update.dismissed());
    EXPECT_EQ(changes.count(), 0);
}

TEST_F(UpdateCheck, ANewerBuildIsOfferedAndAClosedBarReopensOnlyForAnotherDocument)
{
    for (const auto& [served, expected] : {std::pair{56, -1}, {57, -1}, {58, 58}}) {
        server.serveBuild(served);
        check();
        EXPECT_EQ(offered(), expected) << served;
    }
    update.setDismissed(true);
    check();
    EXPECT_TRUE(update.dismissed());
    server.serveBuild(58, "Corrige l'envoi");
    check();
    EXPECT_FALSE(update.dismissed());
    EXPECT_EQ(update.available()->notes, QStringLiteral("Corrige l'envoi"));
    // Installed meanwhile: the release is withdrawn.
    update.setDismissed(true);
    server.serveBuild(57);
    check();
    EXPECT_EQ(offered(), -1);
    EXPECT_FALSE(update.dismissed());
    EXPECT_EQ(server.requests, 6);
}

TEST_F(UpdateCheck, StartingTwiceMakesOneTimerAndOneCheck)
{
    server.serveBuild(58);
    update.start();
    update.start();
    ASSERT_TRUE(QTest::qWaitFor([&] { return update.available().has_value(); }, 20000));
    QTest::qWait(100);
    EXPECT_EQ(server.requests, 1);
    EXPECT_EQ(update.findChildren<QTimer*>(Qt::FindDirectChildrenOnly).size(), 1);
    EXPECT_TRUE(update.timer() && update.timer()->isActive());
}

// Receives what the desktop would open.
class OpenedUrls : public QObject {
    Q_OBJECT

public:
    QList<QUrl> urls;
public Q_SLOTS:
    void open(const QUrl& url) { urls << url; }
};

TEST_F(UpdateCheck, DownloadOpensOnlyAnOfferedRelease)
{
    OpenedUrls opened;
    QDesktopServices::setUrlHandler(QStringLiteral("https"), &opened, "open");
    update.openDownload();
    EXPECT_TRUE(opened.urls.isEmpty());
    server.serveBuild(58);
    check();
    update.openDownload();
    QDesktopServices::unsetUrlHandler(QStringLiteral("https"));
    EXPECT_EQ(opened.urls, QList<QUrl>{QUrl(QStringLiteral("https://dl.example/58"))});
}

} // namespace
} // namespace halvoren

#include "UpdateCheckTest.moc"
