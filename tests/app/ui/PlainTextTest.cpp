// Names, paths and titles from the disk, a host or the user are shown as typed by every label,
// tooltip and window title of the application, and a label never takes the click meant for the
// chip or row under it. Markup in such a text would be drawn (bold, struck, a broken image) and
// an image it names would be opened by the main thread: one named after a FIFO blocks it for good.
// Each case runs under a watcher of such a FIFO that fails the test the moment anything opens it
// for reading, and lets that reader go so the test still ends.
#include "ui/CommandsPanel.h"
#include "ui/ConnectSheet.h"
#include "ui/OnboardingView.h"
#include "ui/PlainText.h"
#include "ui/ProjectRow.h"
#include "ui/ServersView.h"
#include "ui/SessionPicker.h"
#include "ui/SettingsView.h"
#include "ui/SidebarView.h"
#include "ui/StatusBars.h"
#include "ui/TabBar.h"
#include "ui/TabChip.h"
#include "ui/UpdateBar.h"
#include "ui/WorkspaceView.h"
#include "ui/AppBus.h"
#include "style/VisibleText.h"

#include "ViewsWorkspace.h"

#include <QApplication>
#include <QHelpEvent>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QScreen>
#include <QSignalSpy>
#include <QTest>
#include <QTextBlock>
#include <QTextBoundaryFinder>
#include <QTextDocument>
#include <QTextLayout>
#include <QToolTip>
#include <QWindow>

#include <atomic>
#include <cstring>
#include <chrono>
#include <thread>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace halvoren {
namespace {

using test::settle;

// A FIFO and a thread that keeps opening it for writing without blocking: that succeeds only
// while a reader waits in its open, which it then lets go.
class FifoWatch {
public:
    explicit FifoWatch(const QString& path) : path(path.toStdString())
    {
        if (::mkfifo(this->path.c_str(), 0600) != 0)
            ADD_FAILURE() << "mkfifo " << this->path << ": " << std::strerror(errno);
        watcher = std::thread([this] {
            while (!stopped.load()) {
                const int fd = ::open(this->path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
                if (fd >= 0) {
                    ++readersSeen;
                    ::close(fd);
                }
                std::this_thread::sleep_for(std::chrono::microseconds(200));
            }
        });
    }
    ~FifoWatch()
    {
        stopped = true;
        watcher.join();
    }
    int readers() const { return readersSeen.load(); }

private:
    const std::string path;
    std::atomic<bool> stopped{false};
    std::atomic<int> readersSeen{0};
    std::thread watcher;
};

// The tooltip text as Qt draws it: rich text whenever it looks like markup.
QString drawnToolTip(const QString& tip)
{
    if (!Qt::mightBeRichText(tip))
        return tip;
    QTextDocument document;
    document.setHtml(tip);
    return document.toPlainText();
}

// Asks `widget` for its tooltip at `at` as the pointer resting there would; the tip as drawn.
QString hoverToolTip(QWidget* widget, QPoint at)
{
    QHelpEvent help(QEvent::ToolTip, at, widget->mapToGlobal(at));
    QCoreApplication::sendEvent(widget, &help);
    const QString shown = QToolTip::isVisible() ? drawnToolTip(QToolTip::text()) : QStringLiteral("<no tooltip>");
    QToolTip::hideText();
    settle();
    return shown;
}

// Shown and painted, so that every label has laid its text out.
void showAndPaint(QWidget& widget)
{
    widget.show();
    settle();
    (void)widget.grab();
}

// The texts of the labels under `top`, each checked to be plain.
QStringList plainLabelTexts(const QWidget& top)
{
    QStringList texts;
    QList<QLabel*> labels = top.findChildren<QLabel*>();
    if (auto* self = qobject_cast<const QLabel*>(&top))
        labels.prepend(const_cast<QLabel*>(self));
    for (const QLabel* label : std::as_const(labels)) {
        const auto* elided = qobject_cast<const ElidedLabel*>(label);
        const QString text = elided ? elided->fullText() : label->text();
        // Qt's own tooltip label shows what `plainToolTip` made; it is checked where it shows.
        if (text.isEmpty() || label->objectName() == u"qtooltip_label")
            continue;
        EXPECT_EQ(label->textFormat(), Qt::PlainText) << "label " << label->objectName().toStdString() << ": "
                                                       << text.toStdString();
        texts << text;
    }
    return texts;
}

struct PlainTexts : test::TabViewsWorkspace, testing::Test {
    const QString fifo = folder.file(QStringLiteral("probe"));
    FifoWatch watch{fifo};
    // Bold, struck, italic, an entity and a window title's "modified" mark: all as typed.
    const QStringList names{QStringLiteral("<b>x</b>"), QStringLiteral("a & b"), QStringLiteral("<img src=") + fifo + u'>',
                            QStringLiteral("<s>barre</s> z"), QStringLiteral("Serveur <i>t</i> [*]")};

    void TearDown() override { EXPECT_EQ(watch.readers(), 0) << "the FIFO named in a text was opened"; }
};

TEST_F(PlainTexts, TabChipsShowTitlesAndTooltipsAsTypedAndAClickOnTheTitleActivatesTheTab)
{
    TabBar bar(model);
    bar.resize(1200, 38);
    for (const QString& name : names) {
        SCOPED_TRACE(name.toStdString());
        MacConnection& connection = connect(MacProfile{QStringLiteral("p-") + QString::number(names.indexOf(name)), name, {}, 22, {}, {}});
        MacTab& tab = open(connection, MacProject{name, QStringLiteral("/srv/") + name, QStringLiteral("kq-") + QString::number(names.indexOf(name))});
        MacTab& other = open(local(), QStringLiteral("/r/other") + QString::number(names.indexOf(name)));
        model.activate(other);
        model.renameTab(tab, name);
        showAndPaint(bar);
        TabChip* chip = bar.chip(tab.id());
        ASSERT_NE(chip, nullptr);
        const QStringList texts = plainLabelTexts(*chip);
        EXPECT_TRUE(texts.contains(name)) << texts.join(u'|').toStdString();
        EXPECT_EQ(hoverToolTip(chip, QPoint(4, 4)), name + QStringLiteral(" — /srv/") + name);
        auto* title = chip->findChild<QLabel*>(QStringLiteral("title"));
        ASSERT_NE(title, nullptr);
        QTest::mouseClick(title, Qt::LeftButton, {}, title->rect().center());
        EXPECT_EQ(model.activeTab(), &tab);
    }
}

TEST_F(PlainTexts, SidebarNamesPathsAndServerRowsReadAsTypedAndTheServerNameConnects)
{
    for (const QString& name : names) {
        SCOPED_TRACE(name.toStdString());
        const QString index = QString::number(names.indexOf(name));
        MacConnection& connection = connect(MacProfile{QStringLiteral("p-") + index, name, {}, 22, {}, {}});
        connection.setProjects({MacProject{name, QStringLiteral("/srv/") + name, QStringLiteral("kq-") + index}});
        connection.setUnreachable(true);
        // ssh would read the host as an option: the connection fails at once, and says so.
        const MacProfile refused{QStringLiteral("q-") + index, name, QStringLiteral("-oProxyCommand=true"), 22, {}, {}};
        model.setProfiles({connection.profile.value(), refused});
        SidebarView sidebar(model);
        sidebar.resize(300, 600);
        showAndPaint(sidebar);
        const QStringList texts = plainLabelTexts(sidebar);
        EXPECT_TRUE(texts.count(name) == 2) << texts.join(u'|').toStdString();

        QWidget* line = nullptr;
        for (QWidget* candidate : sidebar.findChildren<QWidget*>()) {
            if (!candidate->toolTip().isEmpty() && candidate->objectName().isEmpty() && candidate->height() > 0
                && qobject_cast<ProjectRow*>(candidate->parentWidget()))
                line = candidate;
        }
        ASSERT_NE(line, nullptr);
        EXPECT_EQ(hoverToolTip(line, QPoint(40, line->height() / 2)), QStringLiteral("/srv/") + name);

        auto* serverName = sidebar.findChild<QLabel*>(QStringLiteral("serverName"));
        ASSERT_NE(serverName, nullptr);
        QSignalSpy posted(&AppBus::shared(), &AppBus::connectProfile);
        QTest::mouseClick(serverName, Qt::LeftButton, {}, serverName->rect().center());
        ASSERT_TRUE(posted.count() == 1 || posted.wait(5000));
        EXPECT_EQ(posted.at(0).at(0).toString(), refused.id);
        model.removeConnection(&connection);
    }
}

TEST_F(PlainTexts, SheetsBarsAndWindowTitlesShowNamesAsTyped)
{
    SSHLink::setProgramForTests(QStringLiteral("/bin/false"));
    for (const QString& name : names) {
        SCOPED_TRACE(name.toStdString());
        const QString index = QString::number(names.indexOf(name));
        const MacProfile profile{QStringLiteral("p-") + index, name, name, 22, name, name};
        model.setProfiles({profile});

        // The session picker: the folder's name, the sessions' names and their commands.
        const FolderSession session{name, QStringLiteral("/srv/") + name, {}, 0, model.clock->now(), name};
        SessionPicker picker(model, PickerRequest{MacProject{name, QStringLiteral("/srv/") + name, QStringLiteral("kq-") + index}, QStringLiteral("p-") + index, {session}},
                             [] {}, nullptr);
        showAndPaint(picker);
        QStringList texts = plainLabelTexts(picker);
        EXPECT_TRUE(texts.contains(QStringLiteral("Sessions de ") + name) && texts.contains(name)) << texts.join(u'|').toStdString();
        EXPECT_TRUE(texts.filter(name + QStringLiteral(" · active ")).size() == 1) << texts.join(u'|').toStdString();
        picker.close();

        // The servers sheet's row and the first-connection sheet's title.
        ServersView servers(model, std::nullopt, nullptr);
        showAndPaint(servers);
        texts = plainLabelTexts(servers);
        EXPECT_TRUE(texts.contains(name) && texts.contains(serverDetailLine(profile))) << texts.join(u'|').toStdString();
        servers.close();
        ConnectSheet connecting(profile, [](std::shared_ptr<SSHLink>) {}, nullptr);
        showAndPaint(connecting);
        EXPECT_TRUE(plainLabelTexts(connecting).contains(QStringLiteral("Connexion à ") + name));
        EXPECT_EQ(connecting.windowHandle()->title(), QStringLiteral("Connexion à ") + name);
        connecting.reject();

        // The workspace: the window's title, the unreachable server's bar, the update bar.
        MacConnection& connection = connect(profile);
        connection.setUnreachable(true);
        MacTab& tab = open(connection, MacProject{name, QStringLiteral("/srv/") + name, QStringLiteral("kq-") + index});
        model.renameTab(tab, name);
        model.activate(tab);
        update.setAvailable(MacUpdate::Available{name, 99, name, QUrl(QStringLiteral("https://dl.invalid/h"))});
        QWidget window;
        auto* pane = new WorkspaceView(model, update, &window);
        window.resize(900, 500);
        pane->resize(900, 500);
        showAndPaint(window);
        EXPECT_EQ(window.windowHandle()->title(), name + QStringLiteral(" — /srv/") + name);
        texts = plainLabelTexts(*pane);
        EXPECT_TRUE(texts.contains(name + QStringLiteral(" ne répond plus — reconnexion automatique dès qu'il revient.")))
            << texts.join(u'|').toStdString();
        EXPECT_TRUE(texts.contains(QStringLiteral("Halvoren ") + name + QStringLiteral(" est disponible")) && texts.contains(name))
            << texts.join(u'|').toStdString();
        for (MacTab* shown : model.tabs())
            shown->stop();
        model.removeConnection(&connection);
        update.setAvailable(std::nullopt);

        // The settings' and first-run sheet's folders, and a quick command's tooltip.
        prefs.setProjectsRoots({QStringLiteral("/srv/") + name, QStringLiteral("/srv/other")});
        SettingsView settings(model);
        showAndPaint(settings);
        EXPECT_TRUE(plainLabelTexts(settings).contains(QStringLiteral("/srv/") + name));
        ASSERT_FALSE(settings.removeButtons().isEmpty());
        EXPECT_EQ(hoverToolTip(settings.removeButtons().front(), QPoint(2, 2)), QStringLiteral("/srv/") + name);
        settings.close();
        OnboardingView onboarding(model);
        showAndPaint(onboarding);
        EXPECT_TRUE(plainLabelTexts(onboarding).contains(QStringLiteral("/srv/") + name));
        onboarding.close();
        model.setCommands({SavedCommand{name, name}});
        CommandsPanel panel(model);
        panel.resize(300, 400);
        showAndPaint(panel);
        const QRect row = panel.list()->visualItemRect(panel.list()->item(0));
        EXPECT_EQ(hoverToolTip(panel.list()->viewport(), row.center()), name);
        plainLabelTexts(panel);
    }
    SSHLink::setProgramForTests(QStringLiteral("/usr/bin/ssh"));
}

// Whatever the update server sends, the bar draws it as text on one line cut to its width: it
// neither widens the window nor grows taller than for a short release.
TEST_F(PlainTexts, UpdateBarTakesTheSameRoomForMarkupAndAHugeVersionAsForAShortRelease)
{
    const QUrl url(QStringLiteral("https://dl.invalid/h"));
    const QString huge = QStringLiteral("<b>9.9</b><img src=") + fifo + u'>' + QString(10240, u'9');
    const QString notes = QStringLiteral("<a href=x>clic</a> <h1>BIG</h1>");
    QSize sizes[2];
    for (const MacUpdate::Available& release :
         {MacUpdate::Available{QStringLiteral("1.5"), 58, QStringLiteral("Corrections"), url},
          MacUpdate::Available{huge, 59, notes, url}}) {
        MacUpdate source;
        source.setAvailable(release);
        UpdateBar bar(source);
        bar.resize(800, bar.sizeHint().height());
        showAndPaint(bar);
        EXPECT_EQ(bar.title->textFormat(), Qt::PlainText);
        EXPECT_EQ(bar.notesLabel->textFormat(), Qt::PlainText);
        EXPECT_EQ(bar.title->fullText(), QStringLiteral("Halvoren ") + release.version + QStringLiteral(" est disponible"));
        EXPECT_LE(bar.title->width(), bar.width());
        sizes[release.build - 58] = bar.minimumSizeHint();
        if (release.build == 59) {
            EXPECT_TRUE(bar.title->text().startsWith(QStringLiteral("Halvoren <b>9.9</b><img src=")) && bar.title->text().endsWith(u'…'));
            EXPECT_EQ(bar.notesLabel->text(), notes);
        }
    }
    EXPECT_EQ(sizes[1], sizes[0]);
    // A line feed in the version is a symbol on the title's one line.
    MacUpdate source;
    source.setAvailable(MacUpdate::Available{QStringLiteral("2\n0"), 60, {}, url});
    UpdateBar bar(source);
    EXPECT_EQ(bar.title->fullText(), QStringLiteral("Halvoren 2␊0 est disponible"));
}

// `unit` repeated, whole, as long as the name stays within 255 bytes of UTF-8 (a file name's limit).
QString nameOf255Bytes(const QString& unit)
{
    QString name;
    while ((name + unit).toUtf8().size() <= 255)
        name += unit;
    return name;
}

// The tooltip Qt shows for `tip` with the pointer at `at`: its window, its screen, and its
// lines as the label lays its text out at its width, each without the break that ends it.
struct ShownTip {
    QRect geometry, screen;
    QFont font;
    QStringList lines;
    qreal widestLine = 0, room = 0;
};

ShownTip showToolTip(const QString& tip, QPoint at)
{
    QToolTip::showText(at, tip);
    settle();
    ShownTip shown;
    QLabel* label = nullptr;
    for (QWidget* top : QApplication::topLevelWidgets()) {
        if (top->objectName() == u"qtooltip_label" && top->isVisible())
            label = qobject_cast<QLabel*>(top);
    }
    if (label == nullptr) {
        ADD_FAILURE() << "no tooltip shown";
        return shown;
    }
    shown.geometry = label->geometry();
    shown.screen = label->screen()->availableGeometry();
    shown.font = label->font();
    QTextDocument document;
    document.setDefaultFont(label->font());
    document.setDocumentMargin(0);
    document.setHtml(label->text());
    shown.room = label->contentsRect().width() - 2 * label->margin() - std::max(label->indent(), 0);
    document.setTextWidth(shown.room);
    shown.widestLine = document.idealWidth();
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
        const QTextLayout& layout = *block.layout();
        for (int i = 0; i < layout.lineCount(); ++i) {
            const QTextLine line = layout.lineAt(i);
            shown.lines << block.text().mid(line.textStart(), line.textLength()).remove(QChar::LineSeparator);
        }
    }
    // Gone at once, so that the next tip is placed afresh.
    label->hide();
    settle();
    return shown;
}

// The width of `text` on one line in `font`, its trailing spaces left out as a wrapped line
// leaves them.
qreal lineWidth(QString text, const QFont& font)
{
    while (!text.isEmpty() && text.back().isSpace())
        text.chop(1);
    QTextLayout layout(text, font);
    layout.beginLayout();
    const QTextLine line = layout.createLine();
    layout.endLayout();
    return line.isValid() ? line.naturalTextWidth() : 0;
}

// A tooltip that holds a name is as wide as its longest line, up to 80 average characters of
// its font (the narrower bound on the offscreen screen of 800 pixels: what fits there fits any
// screen of 1280), and wraps only beyond: a short name reads on one line, a long one in as few
// lines as that width allows. It stays within the screen, and reads whole and in order: lines
// break between words or, inside a word too long for a line, between clusters, never inside a
// letter with its marks, an emoji with its modifiers or a pair of halves.
TEST(PlainText, ATooltipIsAsWideAsItsLongestLineAndWrapsOnlyBeyondABound)
{
    const struct {
        const char* label;
        QString name;
        bool oneLine;
    } cases[] = {
        {"server tab", QStringLiteral("moi@127.0.0.1 — projets/api"), true},
        {"40 characters", QStringLiteral("Clients Entreprise — projets/api-backend"), true},
        {"root of 150 characters",
         QStringLiteral("/home/moi/") + QStringLiteral("Clients/Entreprise/Projets/Backend/Services_2024/").repeated(3).left(140), false},
        {"Latin", nameOf255Bytes(QStringLiteral("Clients_Entreprise_Projets_Backend_Services_2024")), false},
        {"words", nameOf255Bytes(QStringLiteral("un projet au nom long ")), false},
        {"marks", nameOf255Bytes(QStringLiteral("e\u0301")), false},
        {"emoji", nameOf255Bytes(QStringLiteral("\U0001F44D\U0001F3FDx")), false},
        {"joined emoji", nameOf255Bytes(QStringLiteral("\U0001F468\u200D\U0001F469\u200D\U0001F467x")), false},
        {"CJK", nameOf255Bytes(QStringLiteral("見つからない長い")), false},
        {"Arabic", nameOf255Bytes(QStringLiteral("أولاأبداأيضا")), false},
        {"path", QStringLiteral("/home/moi/") + nameOf255Bytes(QStringLiteral("Clients_Entreprise_"))
                     + QStringLiteral("/") + nameOf255Bytes(QStringLiteral("x")), false},
    };
    ASSERT_EQ(QString(cases[1].name).size(), 40);
    const QFont font = QToolTip::font();
    const qreal bound = 80 * QFontMetricsF(font).averageCharWidth();
    for (const auto& [label, name, oneLine] : cases) {
        SCOPED_TRACE(label);
        const QString tip = plainToolTip(name);
        for (const QPoint at : {QPoint(10, 10), QPoint(780, 300)}) {
            const ShownTip shown = showToolTip(tip, at);
            ASSERT_EQ(shown.font, font);
            ASSERT_LT(bound, shown.screen.width() - 100) << "the screen is the narrower bound";
            EXPECT_TRUE(shown.screen.contains(shown.geometry))
                << shown.geometry.x() << ',' << shown.geometry.y() << ' ' << shown.geometry.width() << 'x'
                << shown.geometry.height() << " on a screen " << shown.screen.width() << " wide";
            EXPECT_LE(shown.widestLine, shown.room + 1) << "a line runs past the tooltip's edge";
            // Rounded up to a whole pixel, and the one Qt adds.
            EXPECT_LE(shown.room, shown.widestLine + 2) << "the tooltip is wider than its longest line";
            EXPECT_EQ(shown.lines.join(QString()).toStdString(), name.toStdString());
            if (oneLine) {
                EXPECT_EQ(shown.lines.size(), 1) << shown.lines.join(u'|').toStdString();
            }
            // Each line ends where a cluster does, and could not have taken what follows it (the
            // next word, or the next cluster inside a word too long for a line) within the bound.
            QTextBoundaryFinder clusters(QTextBoundaryFinder::Grapheme, name);
            QTextBoundaryFinder words(QTextBoundaryFinder::Line, name);
            qsizetype start = 0;
            for (const QString& line : shown.lines) {
                SCOPED_TRACE(line.toStdString());
                EXPECT_LE(lineWidth(line, font), bound + 1);
                const qsizetype end = start + line.size();
                if (end == name.size())
                    break;
                clusters.setPosition(end);
                EXPECT_TRUE(clusters.isAtBoundary()) << "a break inside a cluster at " << end;
                words.setPosition(end);
                QTextBoundaryFinder& next = words.isAtBoundary() ? words : clusters;
                const qsizetype more = next.toNextBoundary();
                EXPECT_GT(lineWidth(name.mid(start, more - start), font), bound)
                    << "the line had room for " << name.mid(end, more - end).toStdString();
                start = end;
            }
        }
    }
}

// A text taller than the screen shows its start in the lines that fit there, the last one
// ending with "…"; a huge one costs no more than those lines.
TEST(PlainText, ATooltipTallerThanTheScreenShowsWhatFitsAndEndsWithAnEllipsis)
{
    QString lines;
    for (int i = 0; i < 2000; ++i)
        lines += QStringLiteral("ligne ") + QString::number(i) + u'\n';
    const struct {
        const char* label;
        QString text;
    } cases[] = {{"2000 lines", lines}, {"a word of 8 MiB", QString(8 << 20, u'p')}};
    for (const auto& [label, text] : cases) {
        SCOPED_TRACE(label);
        const ShownTip shown = showToolTip(plainToolTip(text), QPoint(10, 10));
        EXPECT_TRUE(shown.screen.contains(shown.geometry))
            << shown.geometry.y() << ' ' << shown.geometry.height() << " on a screen " << shown.screen.height() << " high";
        ASSERT_GT(shown.lines.size(), 10);
        QString read = shown.lines.join(QString());
        ASSERT_TRUE(read.endsWith(u'…')) << shown.lines.back().toStdString();
        read.chop(1);
        EXPECT_TRUE(QString(text).remove(u'\n').startsWith(read)) << read.right(40).toStdString();
    }
}

// A line feed, a line separator and a paragraph separator each end a line of the tooltip, once,
// and the lines are measured as they are drawn: two lines of three quarters of the tooltip's
// widest line each stay two lines, neither wrapped as if they were one. An empty line is kept.
TEST(PlainText, ATooltipBreaksItsLinesAtEachKindOfLineBreak)
{
    const QFontMetricsF metrics(QToolTip::font());
    const QString long_(int(80 * metrics.averageCharWidth() * 3 / 4 / metrics.horizontalAdvance(u'n')), u'n');
    const QString un = QStringLiteral("un"), deux = QStringLiteral("deux");
    for (const QChar separator : {QChar(u'\n'), QChar(QChar::LineSeparator), QChar(QChar::ParagraphSeparator)}) {
        SCOPED_TRACE(testing::Message() << "U+" << std::hex << int(separator.unicode()));
        const struct {
            QString text;
            QStringList lines;
        } cases[] = {
            {un + separator + deux, {un, deux}},
            {long_ + separator + long_, {long_, long_}},
            {un + separator + separator + deux, {un, QString(), deux}},
        };
        for (const auto& [text, lines] : cases) {
            const ShownTip shown = showToolTip(plainToolTip(text), QPoint(10, 10));
            EXPECT_EQ(shown.lines, lines) << shown.lines.join(u'|').toStdString();
        }
    }
    const ShownTip mixed = showToolTip(plainToolTip(QStringLiteral("un\u2029deux\u2028trois\nquatre")), QPoint(10, 10));
    EXPECT_EQ(mixed.lines, (QStringList{un, deux, QStringLiteral("trois"), QStringLiteral("quatre")}));
}

// A text too long to lay out whole is cut to a number of characters first. A run of
// characters of no width takes no room on its lines, so where that cut falls is shown: cut
// inside an emoji, it drops the emoji's first half rather than show half of it.
TEST(PlainText, ATooltipCutForItsLengthNeverSplitsAnEmoji)
{
    const QChar nothing(0x200B); // ZERO WIDTH SPACE
    const auto cut = [](const QString& text) { return drawnToolTip(plainToolTip(text)).endsWith(u'…'); };
    // The longest run shown whole: the first one cut, less one.
    qsizetype whole = 0, longer = qsizetype(1) << 22;
    ASSERT_TRUE(cut(QString(longer, nothing)));
    while (longer - whole > 1) {
        const qsizetype middle = (whole + longer) / 2;
        (cut(QString(middle, nothing)) ? longer : whole) = middle;
    }
    ASSERT_EQ(drawnToolTip(plainToolTip(QString(whole, nothing))), QString(whole, nothing))
        << "a run of characters of no width is shown whole, on one line, up to the cut";
    const QString emoji = QStringLiteral("\U0001F600\U0001F44D");
    // The cut inside the first emoji, right after it, and inside the second.
    for (const qsizetype run : {whole - 1, whole - 2, whole - 3}) {
        SCOPED_TRACE(whole - run);
        const QString text = QString(run, nothing) + emoji;
        const QString tip = plainToolTip(text);
        EXPECT_TRUE(QStringView(tip).isValidUtf16()) << "half an emoji in the tooltip";
        QString shown = drawnToolTip(tip);
        ASSERT_TRUE(shown.endsWith(u'…'));
        shown.chop(1);
        EXPECT_TRUE(text.startsWith(shown)) << shown.right(4).toUtf8().toHex().toStdString();
        EXPECT_EQ(shown.size() % 2, run % 2) << "whole emoji only";
    }
}

TEST(PlainText, HelpersKeepTheTextAsTyped)
{
    // Markup and entities read as typed, not as what they stand for.
    for (const QString& typed : {QStringLiteral("a & b"), QStringLiteral("R&amp;D"), QStringLiteral("&lt;b&gt;"),
                                 QStringLiteral("a&nbsp;b"), QStringLiteral("<b>x</b>"), QStringLiteral("x  <i>y</i>  z"),
                                 QStringLiteral("plain"), QStringLiteral("  deux\n\n  lignes\t!  ")}) {
        EXPECT_EQ(drawnToolTip(plainToolTip(typed)).toStdString(), typed.toStdString());
        QLabel* label = plainLabel(typed, nullptr);
        EXPECT_EQ(label->textFormat(), Qt::PlainText);
        delete label;
    }
    EXPECT_EQ(plainToolTip(QString()), QString());
    QWidget window;
    window.setWindowTitle(plainWindowTitle(QStringLiteral("x [*] y [*][*]")));
    window.show();
    settle();
    EXPECT_EQ(window.windowHandle()->title(), QStringLiteral("x [*] y [*][*]"));
}

} // namespace
} // namespace halvoren
