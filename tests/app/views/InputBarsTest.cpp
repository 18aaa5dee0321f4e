// The key bar and the compose bar: the bytes each cap sends to a real shell, the Return key's
// variants, the send button's states, the field's growth, and chosen files reaching the
// project's "Upload" folder.
#include "WorkspaceFixture.h"
#include "ui/ComposeBar.h"
#include "ui/KeyBar.h"
#include "ui/Palette.h"

#include <QScrollBar>
#include <QTest>
#include <QToolButton>

namespace halvoren {
namespace {

using test::PaneWorkspace;
using test::waitUntil;

QToolButton* capLabelled(KeyBar& bar, const QString& label)
{
    for (QToolButton* button : bar.findChildren<QToolButton*>()) {
        if (button->text() == label)
            return button;
    }
    return nullptr;
}

TEST(KeyBar, EveryCapSendsItsExactBytesEvenInApplicationCursorMode)
{
    // What `cat -vT` prints for the bytes: ^[ is ESC, ^I tab, ^M carriage return.
    const std::pair<QString, QString> caps[] = {
        {"esc", "^["},     {"tab", "^I"},     {"↩", "^M"},       {"^C", "^C"},
        {"^D", "^D"},      {"^Z", "^Z"},      {"^L", "^L"},      {"↑", "^[[A"},
        {"↓", "^[[B"},     {"←", "^[[D"},     {"→", "^[[C"},
    };
    PaneWorkspace w;
    MacTab& tab = w.add(w.local(), QStringLiteral("keys"));
    // Raw, so that no control character is taken by the line discipline; the program asks
    // for application cursor keys first.
    tab.start();
    tab.terminal->send(std::string_view("stty raw -echo; printf '\\033[?1hrea%s\\n' dy; cat -vT\r"));
    ASSERT_TRUE(waitUntil([&] { return w.output.value(&tab).contains(QStringLiteral("ready")); }));
    ASSERT_TRUE(tab.terminal->getTerminal().applicationCursor);

    KeyBar bar;
    bar.setTab(&tab);
    QStringList labels;
    for (const KeyCap& cap : bar.keys)
        labels << cap.label;
    QStringList expectedLabels;
    for (const auto& [label, bytes] : caps)
        expectedLabels << label;
    EXPECT_EQ(labels, expectedLabels);
    for (const auto& [label, bytes] : caps) {
        SCOPED_TRACE(label.toStdString());
        w.output[&tab].clear();
        QToolButton* button = capLabelled(bar, label);
        ASSERT_NE(button, nullptr);
        button->click();
        waitUntil([&] { return w.output.value(&tab).size() >= bytes.size(); }, 5000);
        EXPECT_EQ(w.output.value(&tab), bytes);
    }
}

TEST(KeyBar, NarrowBarKeepsOneRowAndScrollsSideways)
{
    KeyBar bar;
    bar.resize(120, bar.height());
    bar.show();
    QCoreApplication::processEvents();
    const QList<QToolButton*> caps = bar.findChildren<QToolButton*>();
    ASSERT_EQ(caps.size(), 11);
    for (const QToolButton* cap : caps) {
        EXPECT_EQ(cap->y(), caps.front()->y()) << cap->text().toStdString();
        EXPECT_GE(cap->width(), 30);
        EXPECT_GE(cap->height(), 22);
    }
    QScrollBar* sideways = bar.horizontalScrollBar();
    ASSERT_GT(sideways->maximum(), 0);
    EXPECT_GE(sideways->maximum() + bar.viewport()->width(), caps.back()->geometry().right());
    QWheelEvent wheel(QPointF(10, 10), QPointF(10, 10), QPoint(), QPoint(0, -120), Qt::NoButton, Qt::NoModifier,
                      Qt::NoScrollPhase, false);
    QCoreApplication::sendEvent(bar.viewport(), &wheel);
    EXPECT_GT(sideways->value(), 0);
}

struct ReturnCase {
    const char* name;
    Qt::KeyboardModifiers modifiers;
    bool autoRepeat;
    const char* expected;
};

TEST(ComposeBar, ReturnSendsUnlessShiftWhichAppendsALineFeedAtTheEnd)
{
    const ReturnCase cases[] = {
        {"shift", Qt::ShiftModifier, false, "ls\n"},
        {"shift alt", Qt::ShiftModifier | Qt::AltModifier, false, "ls\n"},
        {"shift control", Qt::ShiftModifier | Qt::ControlModifier, false, "ls\n"},
        {"plain", Qt::NoModifier, false, ""},
        {"alt", Qt::AltModifier, false, ""},
        {"control", Qt::ControlModifier, false, ""},
        {"held down", Qt::NoModifier, true, "ls"},
    };
    PaneWorkspace w;
    MacTab& tab = w.add(w.local(), QStringLiteral("compose"));
    for (const ReturnCase& c : cases) {
        SCOPED_TRACE(c.name);
        ComposeBar bar(w.model);
        bar.setTab(&tab);
        bar.field->setPlainText(QStringLiteral("ls"));
        QTextCursor start = bar.field->textCursor();
        start.movePosition(QTextCursor::Start);
        bar.field->setTextCursor(start);
        QKeyEvent press(QEvent::KeyPress, Qt::Key_Return, c.modifiers, QStringLiteral("\r"), c.autoRepeat);
        QCoreApplication::sendEvent(bar.field, &press);
        EXPECT_EQ(bar.text(), QString::fromUtf8(c.expected));
    }
}

TEST(ComposeBar, SendButtonIsGreyAndDisabledExactlyWhileTheMessageIsEmpty)
{
    PaneWorkspace w;
    MacTab& tab = w.add(w.local(), QStringLiteral("button"));
    ComposeBar bar(w.model);
    bar.setTab(&tab);
    EXPECT_FALSE(bar.sendButton->isEnabled());
    QTest::keyClicks(bar.field, QStringLiteral("x"));
    EXPECT_TRUE(bar.sendButton->isEnabled());
    EXPECT_EQ(bar.sendButton->fill(), Palette::accent());
    bar.sendButton->click();
    EXPECT_EQ(bar.text(), QString());
    EXPECT_FALSE(bar.sendButton->isEnabled());
    EXPECT_EQ(bar.sendButton->fill(), Palette::secondaryText());
    // Blanks are a message too.
    QTest::keyClicks(bar.field, QStringLiteral(" "));
    EXPECT_TRUE(bar.sendButton->isEnabled());
}

TEST(ComposeBar, FieldGrowsUpToEightLinesThenStops)
{
    PaneWorkspace w;
    ComposeBar bar(w.model);
    bar.resize(600, 200);
    bar.show();
    QCoreApplication::processEvents();
    const int line = bar.field->fontMetrics().lineSpacing();
    const int one = bar.field->height();
    QList<int> heights;
    for (int lines = 2; lines <= 12; ++lines) {
        bar.field->setPlainText(QStringList(lines, QStringLiteral("x")).join(u'\n'));
        QCoreApplication::processEvents();
        heights << bar.field->height();
    }
    EXPECT_EQ(heights.at(0), one + line);  // two lines
    EXPECT_EQ(heights.at(6), one + 7 * line); // eight lines
    EXPECT_EQ(heights.at(10), heights.at(6)); // twelve lines: no taller
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

} // namespace
} // namespace halvoren
