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
    const QUrl url(QStringLiteral("https://dl.example/h.tar.gz"));
    const struct {
        const char* document;
        std::optional<MacUpdate::Available> expected;
    } cases[] = {
        {R"({"build":58,"url":"https://dl.example/h.tar.gz","version":"1.5","notes":"Plus vite","x":1})",
         MacUpdate::Available{"1.5", 58, "Plus vite", url}},
        {R"({"build":58,"url":"https://dl.example/h.tar.gz"})", MacUpdate::Available{"", 58, "", url}},
        {R"({"build":58.9,"url":"https://dl.example/h.tar.gz","version":2,"notes":null})",
         MacUpdate::Available{"2", 58, "", url}},
        {R"({"build":"58","url":"https://dl.example/h.tar.gz"})", std::nullopt},
        {R"({"url":"https://dl.example/h.tar.gz"})", std::nullopt},
        {R"({"build":1e300,"url":"https://dl.example/h.tar.gz"})", std::nullopt},
        {R"({"build":58})", std::nullopt},
        {R"({"build":58,"url":7})", std::nullopt},
        {R"({"build":58,"url":""})", std::nullopt},
        {R"({"build":58,"url":"https://dl example/%zz"})", std::nullopt},
        {R"([{"build":58,"url":"https://dl.example/h.tar.gz"}])", std::nullopt},
        {R"({"build":58,"url":"https://dl.example/h.tar.gz")", std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.document);
        EXPECT_EQ(parseRelease(QByteArray(c.document)), c.expected);
    }
}

TEST(UpdateDocument, BuildNumbersAreSignedDecimalIntegersElseZero)
{
    const struct {
        const char* text;
        qint64 expected;
    } cases[] = {{"57", 57},
                 {"+57", 57},
                 {"-3", -3},
                 {"007", 7},
                 {"1.2", 0},
                 {"", 0},
                 {"+", 0},
                 {" 57", 0},
                 {"57a", 0},
                 {"9223372036854775807", std::numeric_limits<qint64>::max()},
                 {"9223372036854775808", 0},
                 {"-9223372036854775808", std::numeric_limits<qint64>::min()},
                 {"-9223372036854775809", 0},
                 {"\xd9\xa3", 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(parseBuildNumber(QString::fromUtf8(c.text)), c.expected);
    }
    EXPECT_GT(bundleBuild(), 0);
}

// Answers every request with the status and document of the moment, then closes.
class UpdateServer {
public:
    int status = 200;
    QByteArray document;
    int requests = 0;

    UpdateServer()
    {
        server.listen(QHostAddress::LocalHost);
        QObject::connect(&server, &QTcpServer::newConnection, [this] {
            while (QTcpSocket* socket = server.nextPendingConnection())
                serve(socket);
        });
    }
    QUrl url() const { return QUrl(QStringLiteral("http://127.0.0.1:%1/halvoren/latest.json").arg(server.serverPort())); }
    void stop() { server.close(); }
    void serveBuild(int build, const char* notes = "Notes")
    {
        const QString pattern = QString::fromUtf8(R"({"build":%1,"url":"https://dl.example/%1","version":"1.%1","notes":"%2"})");
        document = pattern.arg(build)
                       .arg(QString::fromUtf8(notes))
                       .toUtf8();
    }

private:
    void serve(QTcpSocket* socket)
    {
        QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, socket] {
            const QByteArray seen = socket->property("seen").toByteArray() + socket->readAll();
            socket->setProperty("seen", seen);
            if (!seen.contains("\r\n\r\n"))
                return;
            ++requests;
            QByteArray answer = "HTTP/1.1 " + QByteArray::number(status) + " Status\r\nConnection: close\r\n";
            const QByteArray body = status == 304 ? QByteArray() : document;
            answer += "Content-Type: application/json\r\nContent-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + body;
            socket->write(answer);
            socket->disconnectFromHost();
        });
    }

    QTcpServer server;
};

struct UpdateCheck : testing::Test {
    UpdateServer server;
    MacUpdate update{server.url(), 57};

    void check() { QCoro::waitFor(update.check()); }
    qint64 offered() const { return update.available() ? update.available()->build : -1; }
};

TEST_F(UpdateCheck, OffersOnlyABuildNewerThanTheRunningOne)
{
    const struct {
        int served;
        qint64 offered;
    } cases[] = {{56, -1}, {57, -1}, {58, 58}, {57, -1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.served);
        server.serveBuild(c.served);
        check();
        EXPECT_EQ(offered(), c.offered);
    }
    EXPECT_EQ(server.requests, 4);
    MacUpdate unnumbered(server.url(), parseBuildNumber(QStringLiteral("1.2")));
    server.serveBuild(1);
    QCoro::waitFor(unnumbered.check());
    EXPECT_TRUE(unnumbered.available().has_value());
}

TEST_F(UpdateCheck, FailedChecksKeepTheReleaseAndTheClosedBar)
{
    server.serveBuild(58);
    check();
    ASSERT_EQ(offered(), 58);
    update.setDismissed(true);
    QSignalSpy changes(&update, &MacUpdate::availableChanged);
    // A newer document behind an error status is not read.
    server.serveBuild(59);
    for (const int status : {203, 304, 500, 404}) {
        SCOPED_TRACE(status);
        server.status = status;
        check();
        EXPECT_EQ(offered(), 58);
        EXPECT_TRUE(update.dismissed());
    }
    server.status = 200;
    server.document = R"({"build":"60","url":"https://dl.example/60"})";
    check();
    EXPECT_EQ(offered(), 58);
    // A valid but oversized document is dropped while it arrives.
    server.document = QByteArray(R"({"build":61,"url":"https://dl.example/61","notes":")") + QByteArray(2 << 20, 'x') + "\"}";
    check();
    EXPECT_EQ(offered(), 58);
    const int requests = server.requests;
    server.stop();
    check();
    EXPECT_EQ(server.requests, requests);
    EXPECT_EQ(offered(), 58);
    EXPECT_TRUE(update.dismissed());
    EXPECT_EQ(changes.count(), 0);
}

TEST_F(UpdateCheck, AClosedBarStaysClosedUntilTheDocumentChanges)
{
    server.serveBuild(58);
    check();
    update.setDismissed(true);
    QSignalSpy changes(&update, &MacUpdate::availableChanged);
    check();
    EXPECT_TRUE(update.dismissed());
    EXPECT_EQ(changes.count(), 0);
    server.serveBuild(58, "Corrige l'envoi");
    check();
    EXPECT_FALSE(update.dismissed());
    EXPECT_EQ(update.available()->notes, QStringLiteral("Corrige l'envoi"));
    EXPECT_EQ(changes.count(), 1);
    // Installed meanwhile: the release is withdrawn.
    update.setDismissed(true);
    server.serveBuild(57);
    check();
    EXPECT_FALSE(update.available().has_value());
    EXPECT_FALSE(update.dismissed());
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
    ASSERT_NE(update.timer(), nullptr);
    EXPECT_TRUE(update.timer()->isActive());
    EXPECT_EQ(update.timer()->interval(), 21600 * 1000);
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
    EXPECT_EQ(opened.urls, QList<QUrl>{QUrl(QStringLiteral("https://dl.example/58"))});
    EXPECT_TRUE(update.available().has_value());
    QDesktopServices::unsetUrlHandler(QStringLiteral("https"));
}

} // namespace
} // namespace halvoren

#include "UpdateCheckTest.moc"
