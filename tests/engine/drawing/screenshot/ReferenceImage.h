// The comparison of a grabbed picture with its reference image, shared by the pixel tests.
#pragma once

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QImage>
#include <QString>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace corvantix::testing {

// A difference up to `channelTolerance` in any channel counts as the same pixel (rounding of
// blends), and up to `differingPixelLimit` pixels may differ (glyph edges land a little
// differently with another FreeType or fontconfig build). With HALVOREN_UPDATE_SCREENSHOTS set
// the picture becomes the reference instead: look at it before keeping it. On a mismatch the
// picture and a map of the differing pixels are written to the working directory.
inline ::testing::AssertionResult matchesReference(const QImage& picture, const QString& directory,
                                                   const QString& name)
{
    constexpr int channelTolerance = 24, differingPixelLimit = 100;
    const QImage image = picture.convertToFormat(QImage::Format_RGB32);
    const QString reference = directory + u'/' + name + QStringLiteral(".png");
    if (std::getenv("HALVOREN_UPDATE_SCREENSHOTS") != nullptr) {
        QDir().mkpath(directory);
        if (!image.save(reference))
            return ::testing::AssertionFailure() << "cannot write " << reference.toStdString();
        std::fprintf(stderr, "reference written to %s\n", qPrintable(reference));
        return ::testing::AssertionSuccess();
    }
    if (!QFile::exists(reference))
        return ::testing::AssertionFailure()
               << reference.toStdString() << " is missing; run once with HALVOREN_UPDATE_SCREENSHOTS=1 and check it";
    const QImage expected = QImage(reference).convertToFormat(QImage::Format_RGB32);
    if (expected.size() != image.size())
        return ::testing::AssertionFailure() << "the picture's size differs from " << reference.toStdString();
    QImage difference(image.size(), QImage::Format_RGB32);
    difference.fill(Qt::black);
    int differing = 0, worst = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QRgb a = image.pixel(x, y), b = expected.pixel(x, y);
            const int delta = std::max({std::abs(qRed(a) - qRed(b)), std::abs(qGreen(a) - qGreen(b)),
                                        std::abs(qBlue(a) - qBlue(b))});
            worst = std::max(worst, delta);
            if (delta > channelTolerance) {
                ++differing;
                difference.setPixel(x, y, qRgb(255, 0, 255));
            }
        }
    }
    if (differing <= differingPixelLimit)
        return ::testing::AssertionSuccess();
    image.save(name + QStringLiteral(".actual.png"));
    difference.save(name + QStringLiteral(".diff.png"));
    return ::testing::AssertionFailure() << differing << " pixels differ, by up to " << worst << " in a channel; see "
                                         << name.toStdString() << ".actual.png and .diff.png in "
                                         << QDir::currentPath().toStdString();
}

} // namespace corvantix::testing
