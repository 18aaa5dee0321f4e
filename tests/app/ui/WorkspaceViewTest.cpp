// The workspace pane over tabs running real shells (the status bar's texts, the terminal host,
// the key bar's bytes, the compose bar, the banner, the update strip) and the update check: the
// release document, the build number, and checks against a loopback HTTP server.
#include "ViewsWorkspace.h"
#include "ui/BannerOverlay.h"
#include "ui/CommandsPanel.h"
#include "ui/ComposeBar.h"
#include "ui/KeyBar.h"
#include "ui/StatusBars.h"
#include "ui/TerminalHost.h"
#include "ui/UpdateBar.h"
#include "ui/WorkspaceView.h"
#include "ui/TabChip.h"

#include <QFileDialog>
#include <QLabel>
#include <QListWidget>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QTextDocument>
#include <QToolButton>

#include <limits>

namespace halvoren {

// Found by the test framework next to the type, so failures show the release's fields.
void PrintTo(const MacUpdate::Available& a, std::ostream* os)
{
    *os << '{' << a.version.toStdString() << ", " << a.build << ", " << a.notes.toStdString() << ", "
        << a.url.toString().toStdString() << '}';
}

namespace {

using test::PaneWorkspace;
using test::waitUntil;

TEST(WorkspaceView, StatusBarNamesTheHostAndTheFirstProblem)
{
    const QString absent = QStringLiteral(" : sessions non persistantes. Installe-le (apt install tmux).");
    const QString away = QStringLiteral("atelier ne répond plus — reconnexion automatique dès qu'il revient.");
    // The server's name (empty: this computer), unreachable, tmux there, connection gone.
    for (const auto& [server, unreachable, tmux, gone, expected] :
         {std::tuple{"", false, false, false, QStringLiteral("tmux est absent de cet ordinateur") + absent},
          {"atelier", false, false, false, QStringLiteral("tmux est absent de atelier") + absent},
          {"atelier", true, false, false, away}, {"atelier", true, true, false, away},
          {"atelier", false, true, false, QString()}, {"atelier", true, false, true, QString()}}) {
        SCOPED_TRACE(expected.toStdString());
        PaneWorkspace w;
        WorkspaceView view(w.model, w.update);
        MacConnection& connection = *server ? w.server(QStringLiteral("p1"), QString::fromUtf8(server)) : w.local();
        w.model.activate(w.add(connection, QStringLiteral("status")));
        // Changed after the tab is shown: the bar follows the connection's signals.
        connection.setTmuxAvailable(tmux);
        connection.setUnreachable(unreachable);
        if (gone)
            w.model.removeConnection(&connection);
        const std::optional<StatusBar>& shown = view.statusBars->shown();
        EXPECT_EQ(shown ? shown->text : QString(), expected);
        EXPECT_EQ(view.statusBars->isHidden(), expected.isEmpty());
    }
}

// Lines of the tab's screen and scroll-back, as shown.
QStringList shownLines(MacTab& tab)
{
    return QString::fromStdString(corvantix::testing::screenText(tab.terminal->getTerminal())).split(u'\n');
}

// The prompt a tab's shell is given by the command it runs, unlike any line a command prints.
const QString idlePrompt = QStringLiteral("idle>");

// Whether the tab's shell has printed all it will: its prompt, `idlePrompt`, shows on the line
// after `last`. The prompt comes in a write of its own after the command's output, so until it
// shows the screen may still change.
bool idleAfter(MacTab& tab, const QString& last)
{
    const QStringList lines = shownLines(tab);
    const qsizetype at = lines.lastIndexOf(last);
    return at >= 0 && lines.value(at + 1) == idlePrompt;
}

TEST(TerminalHost, SwitchingAwayAndBackKeepsTheSameShellScreenAndScrollback)
{
    PaneWorkspace w;
    MacTab& a = w.add(w.local(), QStringLiteral("a"));
    MacTab& b = w.add(w.local(), QStringLiteral("b"));
    WorkspaceView view(w.model, w.update);
    view.resize(900, 500);
    view.show();
    w.model.activate(a);
    ASSERT_TRUE(w.startWith(a, QStringLiteral("PS1='%1'; seq 1 300; printf 'do%s\\n' ne").arg(idlePrompt)));
    ASSERT_TRUE(waitUntil([&] { return idleAfter(a, QStringLiteral("done")); })) << shownLines(a).join(u'|').toStdString();
    const pid_t shell = a.terminal->process->shellPid();
    const QStringList before = shownLines(a);
    ASSERT_TRUE(shell > 0 && before.contains(QStringLiteral("1"))) << "the first lines must be in the scroll-back";
    for (MacTab* next : {&b, &a, &b, &a}) {
        w.model.activate(*next);
        if (next == &b && !b.isLive())
            b.start();
        TerminalHost* host = view.terminalHost();
        ASSERT_TRUE(host && host->tab == next);
        EXPECT_EQ(next->terminal->parentWidget(), host);
        EXPECT_TRUE(waitUntil([&] { return view.focusWidget() == next->terminal; }, 3000));
    }
    ASSERT_TRUE(a.terminal && a.terminal->process->running());
    EXPECT_EQ(a.terminal->process->shellPid(), shell);
    EXPECT_EQ(shownLines(a).join(u'\n').toStdString(), before.join(u'\n').toStdString());
}

TEST(TerminalHost, NewContainerTakesTheViewAndNoContainerTakesItAlongWhenItGoes)
{
    PaneWorkspace w;
    MacTab& tab = w.add(w.local(), QStringLiteral("steal"));
    auto first = std::make_unique<TerminalHost>(tab), second = std::make_unique<TerminalHost>(tab);
    EXPECT_TRUE(tab.terminal->parentWidget() == second.get() && first->findChildren<TermView*>().isEmpty());
    first->refresh();
    EXPECT_EQ(tab.terminal->parentWidget(), first.get());
    second.reset();
    ASSERT_TRUE(tab.terminal && tab.terminal->parentWidget() == first.get());
    // The container holding the view goes: the view stays with its tab.
    first.reset();
    ASSERT_TRUE(tab.terminal && !tab.terminal->parentWidget());
    TerminalHost third(tab);
    EXPECT_EQ(tab.terminal->parentWidget(), &third);
}

TEST(KeyBar, EveryCapSendsItsExactBytesEvenInApplicationCursorMode)
{
    // What `cat -vT` prints for the bytes: ^[ is ESC, ^I tab, ^M carriage return.
    const std::pair<QString, QString> caps[] = {{"esc", "^["}, {"tab", "^I"}, {"↩", "^M"}, {"^C", "^C"},
                                                {"^D", "^D"},  {"^Z", "^Z"},  {"^L", "^L"}, {"↑", "^[[A"},
                                                {"↓", "^[[B"}, {"←", "^[[D"}, {"→", "^[[C"}};
    PaneWorkspace w;
    MacTab& tab = w.add(w.local(), QStringLiteral("keys"));
    // Raw, so that no control character is taken by the line discipline; the program asks
    // for application cursor keys first.
    tab.start();
    tab.terminal->send(std::string_view("stty raw -echo; printf '\\033[?1hrea%s\\n' dy; cat -vT\r"));
    ASSERT_TRUE(waitUntil([&] { return w.output.value(&tab).contains(QStringLiteral("ready")); }));
    ASSERT_TRUE(tab.terminal->getTerminal().applicationCursor());
    KeyBar bar;
    bar.setTab(&tab);
    const QList<QToolButton*> buttons = bar.findChildren<QToolButton*>();
    ASSERT_EQ(buttons.size(), std::size(caps));
    for (qsizetype i = 0; i < buttons.size(); ++i) {
        const auto& [label, bytes] = caps[i];
        SCOPED_TRACE(label.toStdString());
        EXPECT_EQ(buttons[i]->text(), label);
        w.output[&tab].clear();
        buttons[i]->click();
        waitUntil([&] { return w.output.value(&tab).size() >= bytes.size(); }, 5000);
        EXPECT_EQ(w.output.value(&tab), bytes);
    }
}

TEST(ComposeBar, ReturnSendsUnlessShiftWhichAppendsALineFeedAtTheEnd)
{
    PaneWorkspace w;
    MacTab& tab = w.add(w.local(), QStringLiteral("compose"));
    for (const auto& [modifiers, autoRepeat, expected] :
         {std::tuple{Qt::KeyboardModifiers(Qt::ShiftModifier), false, "ls\n"},
          {Qt::ShiftModifier | Qt::AltModifier, false, "ls\n"}, {Qt::ShiftModifier | Qt::ControlModifier, false, "ls\n"},
          {Qt::NoModifier, false, ""}, {Qt::AltModifier, false, ""}, {Qt::ControlModifier, false, ""},
          {Qt::NoModifier, true, "ls"}}) {
        SCOPED_TRACE(testing::Message() << modifiers.toInt() << (autoRepeat ? " held down" : ""));
        ComposeBar bar(w.model);
        bar.setTab(&tab);
        QTest::keyClicks(bar.field, QStringLiteral("ls"));
        bar.field->moveCursor(QTextCursor::Start);
        QKeyEvent press(QEvent::KeyPress, Qt::Key_Return, modifiers, QStringLiteral("\r"), autoRepeat);
        QCoreApplication::sendEvent(bar.field, &press);
        EXPECT_EQ(bar.text(), QString::fromUtf8(expected));
        EXPECT_EQ(bar.sendButton->isEnabled(), *expected != 0);
    }
}

TEST(ComposeBar, ChosenFilesLandInUploadAndAnUnreadableOneIsReportedWithoutStoppingTheOthers)
{
    PaneWorkspace w;
    MacTab& tab = w.add(w.local(), QStringLiteral("files"));
    ComposeBar bar(w.model);
    bar.setTab(&tab);
    ASSERT_TRUE(test::writeAll(w.folder.file(QStringLiteral("a.txt")), "first"));
    ASSERT_TRUE(test::writeAll(w.folder.file(QStringLiteral("c.txt")), "third"));
    QList<QUrl> offered;
    for (const char* name : {"a.txt", "missing.txt", "c.txt"})
        offered << QUrl::fromLocalFile(w.folder.file(QString::fromUtf8(name)));
    bar.chooseFiles = [&](QWidget*, std::function<void(QList<QUrl>)> chosen) { chosen(offered); };
    bar.attachButton->click();
    const QString upload = tab.project.path + QStringLiteral("/Upload/");
    ASSERT_TRUE(waitUntil([&] { return QFile::exists(upload + QStringLiteral("c.txt")); }));
    EXPECT_EQ(test::readAll(upload + QStringLiteral("a.txt")), "first");
    EXPECT_EQ(test::readAll(upload + QStringLiteral("c.txt")), "third");
    EXPECT_EQ(w.model.banner(), QStringLiteral("Fichier illisible : missing.txt"));
}

// Qt's own dialog, as on a desktop without a native one, through the bar's real chooser.
TEST(ComposeBar, PaperclipUploadsWhatQtsOwnFileDialogAccepts)
{
    struct DialogsRestored {
        const bool before = QCoreApplication::testAttribute(Qt::AA_DontUseNativeDialogs);
        ~DialogsRestored() { QCoreApplication::setAttribute(Qt::AA_DontUseNativeDialogs, before); }
    } restored;
    QCoreApplication::setAttribute(Qt::AA_DontUseNativeDialogs, true);
    PaneWorkspace w;
    MacTab& tab = w.add(w.local(), QStringLiteral("dialog"));
    ComposeBar bar(w.model);
    bar.setTab(&tab);
    const QString chosen = w.folder.file(QStringLiteral("chosen.txt"));
    ASSERT_TRUE(test::writeAll(chosen, "picked"));
    bar.attachButton->click();
    auto* dialog = bar.findChild<QFileDialog*>();
    ASSERT_NE(dialog, nullptr);
    dialog->setDirectory(w.folder.path());
    dialog->selectFile(chosen);
    ASSERT_TRUE(QMetaObject::invokeMethod(dialog, "accept"));
    const QString uploaded = tab.project.path + QStringLiteral("/Upload/chosen.txt");
    ASSERT_TRUE(waitUntil([&] { return QFile::exists(uploaded); }));
    EXPECT_EQ(test::readAll(uploaded), "picked");
    EXPECT_EQ(w.model.banner(), std::nullopt);
}

// The message written before a switch goes to the tab active when it is sent.
// A folder's name with a line break, a control character and a direction override stays on one
// line on screen and turns no text after it.
TEST(WorkspaceView, TitlesShowControlCharactersAsSymbolsOnOneLine)
{
    PaneWorkspace w;
    MacTab& tab = w.add(w.local(), QStringLiteral("new\nline\u0001 \u202Egpj.exe"));
    w.model.activate(tab);
    WorkspaceView view(w.model, w.update);
    TabChip chip(w.model, tab);
    for (const QString& shown : {workspaceWindowTitle(w.model), chip.findChild<QLabel*>(QStringLiteral("title"))->text(), tabToolTip(w.model, tab)}) {
        EXPECT_FALSE(shown.contains(u'\n') || shown.contains(QChar(1))) << shown.toStdString();
        EXPECT_TRUE(shown.contains(QStringLiteral("new\u240Aline\u2401 \uFFFDgpj.exe"))) << shown.toStdString();
        EXPECT_FALSE(shown.contains(QChar(0x202E))) << "the override would turn the text after the name";
    }
    EXPECT_EQ(tab.project.path, w.folder.file(QStringLiteral("new\nline\u0001 \u202Egpj.exe"))) << "the folder itself keeps its name";
    // A quick command's tooltip and the banner of a dropped file that cannot be read.
    w.model.setCommands({SavedCommand{QStringLiteral("x"), QStringLiteral("echo new\nline\u0001 \u202Egpj.exe")}});
    CommandsPanel panel(w.model);
    QTextDocument tip;
    tip.setHtml(panel.list()->item(0)->toolTip());
    const QString tipText = tip.toPlainText();
    EXPECT_EQ(tipText.toStdString(), QStringLiteral("echo new\u240Aline\u2401 \uFFFDgpj.exe").toStdString());
    uploadDroppedFiles(&w.model, &tab, {QUrl::fromLocalFile(w.folder.file(QStringLiteral("new\nline\u0001 \u202Egpj.exe.gone")))});
    ASSERT_TRUE(waitUntil([&] { return w.model.banner().has_value(); }));
    EXPECT_EQ(*w.model.banner(), QStringLiteral("Fichier illisible : new\u240Aline\u2401 \uFFFDgpj.exe.gone"));
}

TEST(WorkspaceView, ComposeBarComesWithATabAndFollowsTheActiveOne)
{
    PaneWorkspace w;
    w.model.setComposeVisible(true);
    MacTab& a = w.add(w.local(), QStringLiteral("alpha"));
    MacTab& b = w.add(w.local(), QStringLiteral("beta"));
    ASSERT_TRUE(w.startWith(a, QStringLiteral("cat -v")));
    ASSERT_TRUE(w.startWith(b, QStringLiteral("cat -v")));
    WorkspaceView view(w.model, w.update);
    EXPECT_TRUE(view.composeBar() == nullptr && view.emptyWorkspace() != nullptr);
    w.model.activate(a);
    ComposeBar* bar = view.composeBar();
    ASSERT_TRUE(bar && bar->tab() == &a && view.emptyWorkspace() == nullptr);
    w.model.renameTab(a, QStringLiteral("Mon onglet"));
    EXPECT_EQ(view.windowTitle(), QStringLiteral("Mon onglet — ") + w.model.tabSubtitle(a));
    QTest::keyClicks(bar->field, QStringLiteral("echo hi"));
    w.model.activate(b);
    EXPECT_TRUE(view.composeBar() == bar && bar->tab() == &b);
    QTest::keyClick(bar->field, Qt::Key_Return);
    EXPECT_TRUE(waitUntil([&] { return w.output.value(&b).contains(QStringLiteral("^[[200~echo hi^[[201~")); }))
        << w.output.value(&b).toStdString();
    // Nothing is trimmed: three blanks go as three blanks.
    QTest::keyClicks(bar->field, QStringLiteral("   "));
    QTest::keyClick(bar->field, Qt::Key_Return);
    EXPECT_TRUE(waitUntil([&] { return w.output.value(&b).contains(QStringLiteral("^[[200~   ^[[201~")); }));
    EXPECT_FALSE(w.output.value(&a).contains(QStringLiteral("echo hi")));
    // Hidden and shown again, it starts empty; without an active tab, it goes.
    QTest::keyClicks(bar->field, QStringLiteral("en cours"));
    w.model.setComposeVisible(false);
    EXPECT_EQ(view.composeBar(), nullptr);
    w.model.setComposeVisible(true);
    ASSERT_NE(view.composeBar(), nullptr);
    EXPECT_EQ(view.composeBar()->text(), QString());
    w.model.setActiveTabID(std::nullopt);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(view.composeBar() == nullptr && view.terminalHost() == nullptr && view.emptyWorkspace() != nullptr);
    EXPECT_EQ(view.windowTitle(), QStringLiteral("Halvoren"));
    EXPECT_TRUE(a.terminal && b.terminal);
}

TEST(WorkspaceView, BannerGoesFiveSecondsAfterItsOwnTextWasSet)
{
    PaneWorkspace w;
    auto clock = std::make_shared<test::ManualClock>();
    w.model.clock = clock;
    WorkspaceView view(w.model, w.update);
    const std::optional<QString> a = QStringLiteral("Envoyé"), b = QStringLiteral("Envoi impossible"), none;
    // Per scenario, steps of: set the banner (unless kept), wait, the banner expected.
    using Step = std::tuple<bool, std::optional<QString>, double, std::optional<QString>>;
    const std::pair<const char*, std::vector<Step>> scenarios[] = {
        // The second waits for the first's five seconds, then has its own.
        {"another text waits its turn",
         {{false, a, 3, a}, {false, b, 1.9, a}, {true, none, 0.2, b}, {true, none, 4.6, b}, {true, none, 0.4, none}}},
        {"the same text does not", {{false, a, 3, a}, {false, a, 1.9, a}, {true, none, 0.2, none}}},
        {"cleared, then set again", {{false, a, 2, a}, {false, none, 1, none}, {false, a, 4.9, a}, {true, none, 0.2, none}}},
    };
    for (const auto& [name, steps] : scenarios) {
        SCOPED_TRACE(name);
        for (const auto& [keep, set, wait, expected] : steps) {
            if (!keep)
                w.model.setBanner(set);
            clock->advance(wait);
            EXPECT_EQ(w.model.banner(), expected);
        }
    }
    w.model.setBanner(a);
    w.model.setBanner(b);
    EXPECT_TRUE(!view.banner->isHidden() && view.banner->text() == *a);
    // A click ends the one shown: the next takes its place.
    QTest::mouseClick(view.banner, Qt::LeftButton);
    EXPECT_TRUE(w.model.banner() == b && view.banner->text() == *b);
    QTest::mouseClick(view.banner, Qt::LeftButton);
    EXPECT_TRUE(w.model.banner() == none && view.banner->isHidden());

    // A folder named like markup is shown as its name, not drawn as markup.
    const QString markup = QStringLiteral("Dossier introuvable : /p/<b>x</b>&amp;");
    w.model.setBanner(markup);
    EXPECT_EQ(view.banner->textFormat(), Qt::PlainText);
    EXPECT_GT(view.banner->sizeHint().width(), QFontMetrics(view.banner->font()).horizontalAdvance(markup));
}

TEST(UpdateBar, NotesAreCutAtTwoLinesAndClosingKeepsTheRelease)
{
    QFont font;
    font.setPixelSize(10);
    for (const auto& [notes, expected] : {std::pair{"Un\nDeux", QStringList{"Un", "Deux"}},
                                          {"Un\nDeux\nTrois", {"Un", "Deux…"}}, {"Un\n\nTrois", {"Un", "…"}},
                                          {"Seul", {"Seul"}}})
        EXPECT_EQ(clampLines(QString::fromUtf8(notes), font, 400, 2), expected);
    const QStringList lines = clampLines(QStringList(60, QStringLiteral("correction")).join(u' '), font, 200, 2);
    ASSERT_EQ(lines.size(), 2);
    EXPECT_TRUE(lines.last().endsWith(u'…'));
    EXPECT_LE(QFontMetricsF(font).horizontalAdvance(lines.last()), 200);
    // Closing the strip keeps the release known.
    PaneWorkspace w;
    WorkspaceView view(w.model, w.update);
    w.update.setAvailable(MacUpdate::Available{"1.4", 58, "Un", QUrl(QStringLiteral("https://dl.invalid/h"))});
    view.updateBar->closeButton->click();
    EXPECT_TRUE(view.updateBar->isHidden() && w.update.dismissed() && w.update.available());
}

// The notes come from the update server: a word longer than the line goes on over the next
// one, no character is ever cut in two, and what would act on the text shows as a symbol.
TEST(UpdateBar, NotesWrapInsideALongWordAndNeverCutACharacter)
{
    QFont font;
    font.setPixelSize(10);
    const QString emoji = QStringLiteral("\U0001F600");
    const struct {
        const char* label;
        QString notes;
    } cases[] = {
        {"a 300-character word", QString(300, u'w')},
        {"a word after a short one", QStringLiteral("Corrige ") + QString(300, u'x') + QStringLiteral(" fin")},
        {"emoji at the cut", QStringLiteral("Un\n") + emoji.repeated(200)},
        {"emoji after a letter", QStringLiteral("a") + emoji.repeated(200)},
        {"combining marks", QStringLiteral("e\u0301").repeated(300)},
    };
    // Just short of eight emoji and a "…": the eighth must go whole.
    const qreal atEmoji = QFontMetricsF(font).horizontalAdvance(emoji.repeated(8) + u'…') - 0.2;
    for (const auto& c : cases) {
        for (const qreal width : {200.0, 201.5, 97.0, atEmoji}) {
            SCOPED_TRACE(::testing::Message() << c.label << " at " << width);
            const QStringList lines = clampLines(c.notes, font, width, 2);
            EXPECT_EQ(lines.size(), 2);
            const QString flat = QString(c.notes).remove(u'\n');
            for (qsizetype i = 0; i < lines.size(); ++i) {
                const QString& line = lines.at(i);
                EXPECT_TRUE(line.isValidUtf16()) << "half a character before the end";
                EXPECT_LE(QFontMetricsF(font).horizontalAdvance(line), width) << line.toStdString();
                // Every line holds whole characters of the notes, the last one and its "…" too.
                const QString kept = i + 1 == lines.size() ? line.chopped(1) : line;
                EXPECT_TRUE(i + 1 < lines.size() || line.endsWith(u'…')) << line.toStdString();
                EXPECT_FALSE(i == 0 && kept.isEmpty()) << "nothing of the text before the cut";
                EXPECT_TRUE(flat.contains(kept)) << line.toStdString();
                if (c.notes.contains(QChar(0x0301)) && !kept.isEmpty()) {
                    EXPECT_TRUE(kept.back().isMark() && !kept.front().isMark()) << "a letter parted from its mark";
                }
            }
        }
    }
    // Paragraphs stay lines; a control character or a direction override is a symbol.
    EXPECT_EQ(clampLines(QStringLiteral("a\u202Eb\tc\nd"), font, 400, 2), (QStringList{QStringLiteral("a\uFFFDb\u2409c"), QStringLiteral("d")}));
    EXPECT_EQ(clampLines(QStringLiteral("Un\r\nDeux\r"), font, 400, 2), (QStringList{QStringLiteral("Un"), QStringLiteral("Deux\u240D")}));
    PaneWorkspace w;
    WorkspaceView view(w.model, w.update);
    w.update.setAvailable(MacUpdate::Available{"1.4", 58, "\u202Esetadpu", QUrl(QStringLiteral("https://dl.invalid/h"))});
    EXPECT_EQ(view.updateBar->notesLabel->text(), QStringLiteral("\uFFFDsetadpu"));
}

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
    QUrl url() const { return QUrl(QStringLiteral("http://127.0.0.1:%1/latest.json").arg(server.serverPort())); }
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
    server.server.close();
    check();
    EXPECT_EQ(server.requests, 7);
    EXPECT_EQ(offered(), 58);
    EXPECT_TRUE(update.dismissed() && changes.count() == 0);
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
    // Installed meanwhile: the release is withdrawn.
    update.setDismissed(true);
    server.serveBuild(57);
    check();
    EXPECT_FALSE(offered() != -1 || update.dismissed());
    EXPECT_EQ(server.requests, 6);
}

} // namespace
} // namespace halvoren
