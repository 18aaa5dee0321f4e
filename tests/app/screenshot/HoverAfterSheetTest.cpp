// Hover after a menu and the sheet it opens, on a real X server (tests/with-xvfb) with
// the pointer driven by xdotool. A tab chip hears of no leave while they are open and must ask
// where the pointer is once they close; a quick-command row leaves it to its list.
#include "ui/CommandsPanel.h"
#include "ui/TabBar.h"
#include "ui/TabChip.h"

#include "app/ui/ViewsWorkspace.h"

#include <QApplication>
#include <QCursor>
#include <QDialog>
#include <QListWidget>
#include <QMenu>
#include <QProcess>
#include <QStandardPaths>
#include <QTest>
#include <QWindow>

#include <gtest/gtest.h>

namespace halvoren {
namespace {

// Runs one xdotool command line to its end.
bool xdotool(const QString& arguments)
{
    QProcess process;
    process.start(QStringLiteral("xdotool"), arguments.split(u' '));
    return process.waitForFinished(30000) && process.exitCode() == 0;
}

TEST(TabChipHover, GoesWhenItsRenameSheetClosesWithThePointerElsewhere)
{
    ASSERT_FALSE(QStandardPaths::findExecutable(QStringLiteral("xdotool")).isEmpty())
        << "xdotool is missing: install the Debian package xdotool";
    test::TabViewsWorkspace w;
    w.open(w.local(), QStringLiteral("/r/app"));
    TabBar bar(w.model);
    bar.setWindowFlag(Qt::FramelessWindowHint);
    bar.setGeometry(40, 40, 600, TabBar::barHeight);
    bar.show();
    ASSERT_TRUE(QTest::qWaitFor([&] { return bar.windowHandle() && bar.windowHandle()->isExposed(); }, 10000));
    TabChip* chip = bar.chips().front();
    const QPoint on = chip->mapToGlobal(chip->rect().center());
    // Where the pointer is when the sheet closes, and the hover then.
    for (const auto& [away, hovered] : {std::pair{true, false}, {false, true}}) {
        SCOPED_TRACE(away ? "pointer elsewhere" : "pointer on the chip");
        ASSERT_TRUE(xdotool(QStringLiteral("mousemove %1 %2").arg(on.x() + 200).arg(on.y() + 300)));
        ASSERT_TRUE(xdotool(QStringLiteral("mousemove %1 %2").arg(on.x()).arg(on.y())));
        ASSERT_TRUE(QTest::qWaitFor([&] { return chip->hover(); }, 10000));
        ASSERT_TRUE(xdotool(QStringLiteral("click 3")));
        ASSERT_TRUE(QTest::qWaitFor([] { return qobject_cast<QMenu*>(QApplication::activePopupWidget()) != nullptr; }, 10000));
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        const QPoint item = menu->mapToGlobal(menu->actionGeometry(menu->actions().front()).center());
        ASSERT_TRUE(xdotool(QStringLiteral("mousemove %1 %2 click 1").arg(item.x()).arg(item.y())));
        ASSERT_TRUE(QTest::qWaitFor([&] { return chip->renameSheet() != nullptr && chip->renameSheet()->isVisible(); }, 10000));
        QDialog* sheet = chip->renameSheet();
        const QPoint inSheet = sheet->mapToGlobal(QPoint(sheet->width() / 2, 8));
        ASSERT_TRUE(xdotool(QStringLiteral("mousemove %1 %2").arg(inSheet.x()).arg(inSheet.y())));
        if (!away) {
            ASSERT_TRUE(xdotool(QStringLiteral("mousemove %1 %2").arg(on.x()).arg(on.y())));
        }
        const QPoint last = away ? inSheet : on;
        ASSERT_TRUE(QTest::qWaitFor([&] { return QCursor::pos() == last; }, 10000));
        QTest::keyClick(sheet->focusWidget(), Qt::Key_Escape);
        ASSERT_TRUE(QTest::qWaitFor([&] { return chip->renameSheet() == nullptr; }, 10000));
        EXPECT_TRUE(QTest::qWaitFor([&] { return chip->hover() == hovered; }, 5000));
    }
}

TEST(CommandRowHover, GoesWhenItsEditSheetClosesWithThePointerElsewhere)
{
    test::TabViewsWorkspace w;
    w.model.setCommands({{QStringLiteral("a"), QStringLiteral("x")}, {QStringLiteral("b"), QStringLiteral("y")}});
    w.model.activate(w.open(w.local(), QStringLiteral("/r/app")));
    CommandsPanel panel(w.model);
    panel.setWindowFlag(Qt::FramelessWindowHint);
    panel.setGeometry(40, 40, 240, 300);
    panel.show();
    ASSERT_TRUE(QTest::qWaitFor([&] { return panel.windowHandle() && panel.windowHandle()->isExposed(); }, 10000));
    ASSERT_TRUE(panel.rowRunnable(0));
    QWidget* rows = panel.list()->viewport();
    const QPoint on = rows->mapToGlobal(panel.list()->visualItemRect(panel.list()->item(0)).center());
    const QPoint away(on.x() + 400, on.y() + 400);
    ASSERT_TRUE(xdotool(QStringLiteral("mousemove %1 %2").arg(away.x()).arg(away.y())));
    ASSERT_TRUE(QTest::qWaitFor([&] { return QCursor::pos() == away; }, 10000));
    QTest::qWait(100);
    const QImage plain = rows->grab().toImage();
    ASSERT_TRUE(xdotool(QStringLiteral("mousemove %1 %2").arg(on.x()).arg(on.y())));
    ASSERT_TRUE(QTest::qWaitFor([&] { return rows->grab().toImage() != plain; }, 10000)) << "no hover at all";
    ASSERT_TRUE(xdotool(QStringLiteral("click 3")));
    ASSERT_TRUE(QTest::qWaitFor([] { return qobject_cast<QMenu*>(QApplication::activePopupWidget()) != nullptr; }, 10000));
    auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
    const QPoint item = menu->mapToGlobal(menu->actionGeometry(menu->actions().front()).center());
    ASSERT_TRUE(xdotool(QStringLiteral("mousemove %1 %2 click 1").arg(item.x()).arg(item.y())));
    ASSERT_TRUE(QTest::qWaitFor([&] { return panel.alert() != nullptr && panel.alert()->isVisible(); }, 10000));
    QDialog* sheet = panel.alert();
    const QPoint inSheet = sheet->mapToGlobal(QPoint(sheet->width() / 2, 4));
    ASSERT_TRUE(xdotool(QStringLiteral("mousemove %1 %2").arg(inSheet.x()).arg(inSheet.y())));
    ASSERT_TRUE(QTest::qWaitFor([&] { return QCursor::pos() == inSheet; }, 10000));
    QTest::keyClick(sheet, Qt::Key_Escape);
    ASSERT_TRUE(QTest::qWaitFor([&] { return panel.alert() == nullptr; }, 10000));
    ASSERT_TRUE(xdotool(QStringLiteral("mousemove %1 %2").arg(away.x()).arg(away.y())));
    EXPECT_TRUE(QTest::qWaitFor([&] { return rows->grab().toImage() == plain; }, 5000));
}

} // namespace
} // namespace halvoren
