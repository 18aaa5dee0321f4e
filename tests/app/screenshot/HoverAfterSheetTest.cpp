// A tab chip's hover after its menu and rename sheet, on a real X server (tests/with-xvfb) with
// the pointer driven by xdotool: the chip hears of no leave while they are open, and would stay
// drawn as hovered once they close, the pointer long gone.
#include "ui/TabBar.h"
#include "ui/TabChip.h"

#include "app/ui/ViewsWorkspace.h"

#include <QApplication>
#include <QCursor>
#include <QDialog>
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

} // namespace
} // namespace halvoren
