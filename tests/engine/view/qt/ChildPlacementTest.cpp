// A child of a view that paints all of itself, placed while a sibling of the view is shown over
// it and the view redraws under that sibling in the same frame: the sibling stays in the
// window's pixels, and the child lands where it was put, as opaque as it was.
#include "view/qt/ChildPlacement.h"

#include <QCoreApplication>
#include <QPainter>
#include <QScreen>
#include <QWidget>

#include <gtest/gtest.h>

#include <string>

namespace corvantix {
namespace {

const QColor viewColour(10, 10, 12), childColour(30, 60, 200), aboveColour(40, 160, 60);

// Fills itself with one colour; `opaque` tells Qt so, as the terminal view does.
class Filled : public QWidget {
public:
    Filled(QColor colour, bool opaque, QWidget* parent) : QWidget(parent), colour(colour)
    {
        setAttribute(Qt::WA_OpaquePaintEvent, opaque);
    }

protected:
    void paintEvent(QPaintEvent*) override { QPainter(this).fillRect(rect(), colour); }

private:
    QColor colour;
};

enum class Child { fillsItsBackground, paintsAllOfItself, seeThrough, hidden };

struct Scene {
    QWidget window;
    Filled* view = new Filled(viewColour, true, &window);
    QWidget* child;
    // Drawn over the view and not opaque, as a banner is.
    Filled* above = new Filled(aboveColour, false, &window);

    explicit Scene(Child kind)
    {
        window.resize(300, 200);
        view->setGeometry(0, 0, 300, 200);
        above->setGeometry(100, 60, 100, 40);
        if (kind == Child::fillsItsBackground) {
            child = new QWidget(view);
            child->setAutoFillBackground(true);
            QPalette colours = child->palette();
            colours.setColor(QPalette::Window, childColour);
            child->setPalette(colours);
        } else {
            child = new Filled(childColour, kind == Child::paintsAllOfItself, view);
        }
        child->setGeometry(10, 150, 60, 20);
        child->setVisible(kind != Child::hidden);
        window.show();
        settle();
    }
    static void settle()
    {
        for (int i = 0; i < 3; ++i)
            QCoreApplication::processEvents();
    }
    QImage shown() const { return window.screen()->grabWindow(window.winId()).toImage(); }
};

std::string name(QColor colour)
{
    return colour.name().toStdString();
}

TEST(PlaceChild, ASiblingOverTheViewStaysInThePixelsWhateverTheChild)
{
    const struct {
        const char* label;
        Child kind;
        QRect to;
    } cases[] = {
        {"filled background, moved", Child::fillsItsBackground, QRect(10, 170, 60, 20)},
        {"painting all of itself, moved", Child::paintsAllOfItself, QRect(10, 170, 60, 20)},
        {"see-through, moved", Child::seeThrough, QRect(10, 170, 60, 20)},
        {"hidden, moved", Child::hidden, QRect(10, 170, 60, 20)},
        {"filled background, moved and resized", Child::fillsItsBackground, QRect(10, 170, 80, 24)},
        {"filled background, resized in place", Child::fillsItsBackground, QRect(10, 150, 80, 20)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        Scene scene(c.kind);
        const bool fills = scene.child->autoFillBackground();
        const bool paintsAll = scene.child->testAttribute(Qt::WA_OpaquePaintEvent);
        placeChild(*scene.child, c.to);
        // The view draws under the sibling before the window is next painted.
        scene.view->update(scene.above->geometry());
        Scene::settle();
        EXPECT_EQ(scene.child->geometry(), c.to);
        EXPECT_EQ(scene.child->autoFillBackground(), fills);
        EXPECT_EQ(scene.child->testAttribute(Qt::WA_OpaquePaintEvent), paintsAll);
        const QImage shown = scene.shown();
        EXPECT_EQ(name(shown.pixelColor(scene.above->geometry().center())), name(aboveColour));
        EXPECT_EQ(name(shown.pixelColor(c.to.center())), name(c.kind == Child::hidden ? viewColour : childColour));
        // The place it left shows the view again.
        const QPoint left(40, 152);
        if (!c.to.contains(left)) {
            EXPECT_EQ(name(shown.pixelColor(left)), name(viewColour));
        }
    }
}

} // namespace
} // namespace corvantix
