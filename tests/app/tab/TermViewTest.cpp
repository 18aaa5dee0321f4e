// The tab's terminal view: what reaches the tab from the child, the keyboard, the clipboard
// and drops. No child runs here; bytes for the child are recorded where the view sends them.
#include "tab/MacTab.h"
#include "tab/TermView.h"

#include "engine/view/qt/ViewTestSupport.h"
#include "app/support/TempFolder.h"
#include "platform/SecretStore.h"
#include "remote/SSHLink.h"

#include <QClipboard>
#include <QDir>
#include <QDropEvent>
#include <QGuiApplication>
#include <QImage>
#include <QKeyEvent>
#include <QMimeData>
#include <QMouseEvent>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace halvoren {
namespace {

using corvantix::testing::screenText;
using corvantix::testing::waitUntil;

std::span<const std::uint8_t> bytes(std::string_view text)
{
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

// A tab whose hooks record what they are told.
struct RecordingTab {
    RecordingTab() : tab(QStringLiteral("local"), MacProject{QStringLiteral("demo"), QStringLiteral("/tmp"), QStringLiteral("kq-demo")}, false, nullptr)
    {
        tab.onOutput = [this](MacTab&, const QString& text) { outputs << text; };
        tab.onInput = [this](MacTab&) { ++inputs; };
        tab.onExit = [this](MacTab&) { ++exits; };
        tab.onPasteImage = [this](MacTab&, const QByteArray& png) { images << png; };
        tab.onDropFiles = [this](MacTab&, const QList<QUrl>& urls) { drops << urls; };
    }
    TermView& view() { return *tab.terminal; }
    MacTab tab;
    QStringList outputs;
    int inputs = 0;
    int exits = 0;
    QList<QByteArray> images;
    QList<QList<QUrl>> drops;
};

TEST(TermView, CharacterCutBetweenChunksReachesTheTabAsReplacementsAndTheScreenWhole)
{
    RecordingTab recording;
    recording.view().dataReceived(bytes("caf\xC3"));
    recording.view().dataReceived(bytes("\xA9!"));
    ASSERT_EQ(recording.outputs.size(), 2);
    EXPECT_EQ(recording.outputs[0], QStringLiteral("caf\uFFFD"));
    EXPECT_EQ(recording.outputs[1], QStringLiteral("\uFFFD!"));
    EXPECT_NE(screenText(*recording.view().terminal).find("café!"), std::string::npos);
}

// Only a chunk that changes the text on the screen counts as changing it: a repaint of the
// same rows (what tmux sends every client after an option changes) does not.
TEST(TermView, OnlyAChangeOfTheScreensTextCountsAsAChange)
{
    const std::string shown = "$ ls\r\na  b\r\n$ ";
    const std::pair<std::string, bool> cases[] = {
        {"\x1b[1;1H", false},
        {"\x1b[31m\x1b[1m\x1b[0m", false},
        {"\x1b]0;titre\x07\x1b[?25l\x1b[?25h", false},
        // Every row written again, with erasing to the end of each row.
        {"\x1b[1;1H$ ls\x1b[K\x1b[2;1Ha  b\x1b[K\x1b[3;1H$ \x1b[K", false},
        // Erased and drawn again within one chunk.
        {"\x1b[H\x1b[2J\x1b[H$ ls\r\na  b\r\n$ ", false},
        {"x", true},
        {"\x1b[2;1Ha  c", true},
        {"\x1b[2J", true},
        {"\x1b[2;2H\x1b[1P", true},
        // The other screen, empty, is shown.
        {"\x1b[?1049h", true},
        // Text moved up a row.
        {"\x1b[S", true},
    };
    for (const auto& [chunk, changes] : cases) {
        RecordingTab recording;
        recording.view().dataReceived(bytes(shown));
        recording.view().dataReceived(bytes(chunk));
        EXPECT_EQ(recording.tab.outputChangesScreen, changes) << testing::PrintToString(chunk);
        ASSERT_EQ(recording.outputs.size(), 2);
    }
    // A resize between two chunks: the repaint after it is measured against the resized grid.
    RecordingTab recording;
    recording.view().dataReceived(bytes(shown));
    recording.view().resizeGrid(60, 20);
    recording.view().dataReceived(bytes("\x1b[1;1H$ ls\x1b[K"));
    EXPECT_FALSE(recording.tab.outputChangesScreen);
    recording.view().dataReceived(bytes("\x1b[1;1H$ pwd"));
    EXPECT_TRUE(recording.tab.outputChangesScreen);
}

TEST(TermView, OnlyALineEndSubmitsAndOncePerSend)
{
    const std::pair<std::vector<std::string>, int> cases[] = {
        {{"l", "s", " -la"}, 0}, {{"ls", "\r"}, 1}, {{"\n"}, 1}, {{"a\rb\r"}, 1},
        {{"\x1b[A", "\x1b[200~x\x1b[201~"}, 0}, {{"a\r", "b\n"}, 2}};
    for (const auto& [sends, submits] : cases) {
        RecordingTab recording;
        for (const std::string& send : sends)
            recording.view().sendUserInput(bytes(send));
        EXPECT_EQ(recording.inputs, submits) << testing::PrintToString(sends);
    }
}

// Records the bytes the view hands to the child.
class SendRecordingView : public TermView {
public:
    using TermView::TermView;
    void send(corvantix::TerminalView& source, std::span<const std::uint8_t> data) override
    {
        sent.append(reinterpret_cast<const char*>(data.data()), qsizetype(data.size()));
        TermView::send(source, data);
    }
    QByteArray sent;
};

TEST(TermView, AnImageAlonePastesAsPNGForTheTabAndTextBesideItPastesTheText)
{
    RecordingTab recording;
    SendRecordingView view(QRect(0, 0, 400, 200));
    view.owner = &recording.tab;
    QImage image(7, 5, QImage::Format_RGB32);
    image.fill(QColor(10, 200, 30));
    QGuiApplication::clipboard()->setImage(image);
    view.paste();
    ASSERT_EQ(recording.images.size(), 1);
    EXPECT_TRUE(recording.images[0].startsWith("\x89PNG\r\n\x1a\n"));
    const QImage decoded = QImage::fromData(recording.images[0], "PNG");
    EXPECT_EQ(decoded.size(), QSize(7, 5));
    EXPECT_EQ(decoded.pixelColor(3, 2), QColor(10, 200, 30));
    EXPECT_TRUE(view.sent.isEmpty());
    auto* data = new QMimeData;
    data->setText(QStringLiteral("échos"));
    data->setImageData(image);
    QGuiApplication::clipboard()->setMimeData(data);
    view.paste();
    EXPECT_EQ(recording.images.size(), 1);
    EXPECT_EQ(view.sent, QStringLiteral("échos").toUtf8());
}

TEST(TermView, FileDropsReachTheTabAndTextIsRefused)
{
    RecordingTab recording;
    QMimeData text;
    text.setText(QStringLiteral("plain"));
    QDragEnterEvent refused(QPoint(5, 5), Qt::CopyAction, &text, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&recording.view(), &refused);
    EXPECT_FALSE(refused.isAccepted());
    // Local files only, in the order dragged; a folder is a file too.
    QMimeData files;
    files.setUrls({QUrl::fromLocalFile(QStringLiteral("/tmp")), QUrl(QStringLiteral("https://example.org/x")),
                   QUrl::fromLocalFile(QStringLiteral("/etc/hostname"))});
    QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction | Qt::MoveAction, &files, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&recording.view(), &enter);
    EXPECT_TRUE(enter.isAccepted());
    EXPECT_EQ(enter.dropAction(), Qt::CopyAction);
    QDropEvent drop(QPointF(5, 5), Qt::CopyAction | Qt::MoveAction, &files, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&recording.view(), &drop);
    EXPECT_TRUE(drop.isAccepted());
    ASSERT_EQ(recording.drops.size(), 1);
    EXPECT_EQ(recording.drops[0], (QList<QUrl>{QUrl::fromLocalFile(QStringLiteral("/tmp")),
                                               QUrl::fromLocalFile(QStringLiteral("/etc/hostname"))}));
}

// Ctrl held over a cell, then a click there: what the user does to open a link.
void ctrlClick(TermView& view, int col, int row)
{
    const QPointF at((col + 0.5) * view.cellDimension->width, (row + 0.5) * view.cellDimension->height);
    QKeyEvent down(QEvent::KeyPress, Qt::Key_Control, Qt::NoModifier, 37, 0, 0);
    QCoreApplication::sendEvent(&view, &down);
    for (const QEvent::Type type : {QEvent::MouseMove, QEvent::MouseButtonPress, QEvent::MouseButtonRelease}) {
        const Qt::MouseButton button = type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton;
        const Qt::MouseButtons held = type == QEvent::MouseButtonPress ? Qt::LeftButton : Qt::NoButton;
        QMouseEvent event(type, at, view.mapToGlobal(at), button, held, Qt::ControlModifier);
        // Far apart, so that no two clicks make a double click.
        static quint64 time = 100000;
        event.setTimestamp(time += 5000);
        QCoreApplication::sendEvent(&view, &event);
    }
    QKeyEvent up(QEvent::KeyRelease, Qt::Key_Control, Qt::ControlModifier, 37, 0, 0);
    QCoreApplication::sendEvent(&view, &up);
}

// A path opens as a file in a tab of this computer, never in a server's tab, where it names
// a file of the server; URLs and OSC 8 links open in both. A relative path opens nothing:
// the shell's folder, which it is relative to, is not known here.
TEST(TermView, PathsOpenAsFilesOnlyInATabOfThisComputer)
{
    test::TempFolder home;
    test::EnvironmentOverride environment("HOME", home.path());
    ASSERT_TRUE(test::writeAll(home.file(QStringLiteral("notes.txt")), "x"));
    const QUrl notes = QUrl::fromLocalFile(home.file(QStringLiteral("notes.txt")));
    const std::string path = home.file(QStringLiteral("notes.txt")).toStdString();
    // Namesakes of the relative paths below in this program's own folder, which is not the
    // shell's: they are not the files the output names.
    test::TempFolder elsewhere;
    ASSERT_TRUE(QDir().mkpath(elsewhere.file(QStringLiteral("sub"))));
    for (const char* name : {"notes.txt", "sub/notes.txt"})
        ASSERT_TRUE(test::writeAll(elsewhere.file(QLatin1String(name)), "namesake"));
    const QString before = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(elsewhere.path()));
    const struct CurrentReset {
        QString path;
        ~CurrentReset() { QDir::setCurrent(path); }
    } currentReset{before};
    // The output, then what a Ctrl+click on its first cells opens here and on a server.
    const struct {
        std::string output;
        std::optional<QUrl> local, server;
    } cases[] = {
        {path, notes, std::nullopt},
        {path + ":12:3", notes, std::nullopt},
        {"~/notes.txt:12", notes, std::nullopt},
        {home.path().toStdString(), QUrl::fromLocalFile(home.path()), std::nullopt},
        {"\x1b]8;;" + notes.toString().toStdString() + "\x1b\\les notes\x1b]8;;\x1b\\", notes, notes},
        {"https://example.org/a?b=1", QUrl(QStringLiteral("https://example.org/a?b=1")),
         QUrl(QStringLiteral("https://example.org/a?b=1"))},
        {path + ".missing", std::nullopt, std::nullopt},
        {"~/missing.txt:4", std::nullopt, std::nullopt},
        {"./notes.txt", std::nullopt, std::nullopt},
        {"sub/notes.txt:2", std::nullopt, std::nullopt},
    };
    SecretStore keychain(std::make_unique<MemorySecretBackend>());
    const auto server = std::make_shared<SSHLink>(MacProfile{QStringLiteral("p1"), QStringLiteral("srv"),
                                                             QStringLiteral("srv"), 22, {}, QStringLiteral("~/projets")});
    for (const bool onServer : {false, true}) {
        MacTab tab(onServer ? QStringLiteral("p1") : QStringLiteral("local"),
                   MacProject{QStringLiteral("demo"), home.path(), QStringLiteral("kq-demo")}, false,
                   onServer ? server : nullptr, &keychain);
        for (const auto& c : cases) {
            SCOPED_TRACE(c.output + (onServer ? " on a server" : " here"));
            std::vector<QUrl> opened;
            tab.terminal->openUrl = [&opened](const QUrl& url) { opened.push_back(url); };
            tab.terminal->feedText("\x1b[2J\x1b[H" + c.output + "\r\n");
            ctrlClick(*tab.terminal, 2, 0);
            const std::optional<QUrl> expected = onServer ? c.server : c.local;
            EXPECT_EQ(opened, expected ? std::vector<QUrl>{*expected} : std::vector<QUrl>{});
        }
    }
}

TEST(TermView, EndIsReportedOnALaterTurnWithTheGenerationOfThatMoment)
{
    RecordingTab recording;
    recording.tab.generation = 4;
    recording.view().generation = 4;
    recording.view().processTerminated(*recording.view().process, 0);
    // Changed after the report was made: the report keeps what the view held then.
    recording.view().generation = 5;
    EXPECT_EQ(recording.exits, 0);
    ASSERT_TRUE(waitUntil([&] { return recording.exits == 1; }));
    // A report of a child an earlier start replaced is ignored; the matching one behind it
    // is not.
    recording.tab.generation = 6;
    recording.view().processTerminated(*recording.view().process, 0);
    recording.view().generation = 6;
    recording.view().processTerminated(*recording.view().process, 0);
    ASSERT_TRUE(waitUntil([&] { return recording.exits == 2; }));
    QCoreApplication::processEvents();
    EXPECT_EQ(recording.exits, 2);
}

} // namespace
} // namespace halvoren
