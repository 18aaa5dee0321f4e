// The project row's line: where each item goes at every sidebar width and depth, for names
// and branches short and long, and that the painted line keeps to those places.
#include "ui/ProjectRow.h"

#include "ViewsWorkspace.h"

#include <QImage>
#include <QTest>

#include <gtest/gtest.h>

#include <utility>
#include <vector>

namespace halvoren {
namespace {

using test::ViewsWorkspace;

// Texts of a given length, from a long branch name a user met in the wild.
QString textOfLength(int length)
{
    const QString source = QStringLiteral("feature/une-branche-vraiment-tres-longue-pour-voir-ce-qui-se-passe-");
    QString text;
    while (text.size() < length)
        text += source;
    return text.left(length);
}

std::vector<std::pair<const char*, QRectF>> items(const ProjectRowLayout& layout)
{
    return {{"chevron", layout.chevron}, {"icon", layout.icon}, {"star", layout.star}, {"name", layout.name},
            {"git", layout.git},         {"dot", layout.dot}};
}

TEST(ProjectRowLayout, NothingOverlapsFixedItemsStayAndTheNameKeepsHalf)
{
    const int lengths[] = {1, 4, 12, 30, 80};
    const StateDot dots[] = {StateDot::none, StateDot::live, StateDot::attention};
    int checked = 0;
    for (int width = 200; width <= 380; width += 10) {
        for (int depth = 0; depth <= 2; ++depth) {
            for (const StateDot dot : dots) {
                for (const bool favorite : {false, true}) {
                    ProjectRowState reference;
                    reference.favorite = favorite && depth == 0;
                    reference.open = dot == StateDot::live;
                    reference.attention = dot == StateDot::attention;
                    const ProjectRowLayout fixed = layoutProjectRow(width, depth, reference, QStringLiteral("a"));
                    for (const int nameLength : lengths) {
                        for (const int branchLength : {0, 1, 4, 12, 30, 80}) {
                            for (const bool dirty : {false, true}) {
                                if (branchLength == 0 && dirty)
                                    continue;
                                ProjectRowState state = reference;
                                state.active = nameLength % 2 == 0; // the bold name is wider
                                if (branchLength > 0)
                                    state.git = GitInfo{textOfLength(branchLength), dirty};
                                const QString name = textOfLength(nameLength);
                                const ProjectRowLayout layout = layoutProjectRow(width, depth, state, name);
                                SCOPED_TRACE(::testing::Message()
                                             << "width " << width << " depth " << depth << " name " << nameLength
                                             << " branch " << branchLength << " dirty " << dirty << " dot "
                                             << int(dot) << " favourite " << favorite);
                                ++checked;

                                const auto all = items(layout);
                                for (std::size_t i = 0; i < all.size(); ++i) {
                                    if (all[i].second.isEmpty())
                                        continue;
                                    EXPECT_GE(all[i].second.left(), 0) << all[i].first;
                                    EXPECT_LE(all[i].second.right(), width) << all[i].first;
                                    for (std::size_t j = i + 1; j < all.size(); ++j)
                                        EXPECT_FALSE(all[i].second.intersects(all[j].second))
                                            << all[i].first << " and " << all[j].first;
                                }
                                EXPECT_FALSE(layout.dirty.intersects(layout.branch));
                                for (const QRectF& part : {layout.dirty, layout.branch}) {
                                    if (!part.isEmpty()) {
                                        EXPECT_TRUE(layout.git.contains(part));
                                    }
                                }

                                // The fixed items do not move for long texts.
                                EXPECT_EQ(layout.chevron, fixed.chevron);
                                EXPECT_EQ(layout.icon, fixed.icon);
                                EXPECT_EQ(layout.star, fixed.star);
                                EXPECT_EQ(layout.dot, fixed.dot);
                                EXPECT_EQ(layout.shared, fixed.shared);
                                EXPECT_EQ(layout.star.isEmpty(), !(favorite && depth == 0));
                                EXPECT_EQ(layout.dot.isEmpty(), dot == StateDot::none);

                                const double space = layout.shared.width();
                                const int full = QFontMetrics(projectNameFont(state.active)).horizontalAdvance(name);
                                EXPECT_TRUE(layout.name.width() >= space / 2 || layout.name.width() >= full)
                                    << layout.name.width() << " of " << space;
                                EXPECT_GE(layout.name.left(), layout.shared.left());
                                if (layout.git.isEmpty())
                                    continue;
                                EXPECT_GE(layout.git.left() - layout.name.right(), nameGitGap);
                                EXPECT_LE(layout.git.right(), layout.shared.right());
                                // When something is shortened, nothing of the shared space is left unused.
                                const int branchFull =
                                    QFontMetrics(projectBranchFont()).horizontalAdvance(state.git->branch);
                                if (layout.name.width() < full || layout.branch.width() < branchFull) {
                                    EXPECT_DOUBLE_EQ(layout.name.width() + nameGitGap + layout.git.width(), space);
                                }
                            }
                        }
                    }
                }
            }
        }
    }
    EXPECT_GT(checked, 10000);
}

// Which text gives way first: widths are given, not measured.
TEST(ProjectRowLayout, TheBranchIsShortenedBeforeTheName)
{
    // Shared space at width 300, depth 0, no star, no dot: 300 - 6 - (12 + 6 + 14 + 6) = 256.
    struct Case {
        const char* name;
        double nameWidth, branchWidth;
        double expectedName, expectedGit;
    };
    const Case cases[] = {
        {"both fit", 100, 100, 100, 100},
        {"a long branch gives way to the name", 100, 300, 100, 152},
        {"a long name gives way to a short branch", 300, 50, 202, 50},
        {"both long: the name keeps half", 300, 300, 128, 124},
        {"a long name and a branch just too long for it", 300, 140, 128, 124},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const ProjectRowLayout layout =
            layoutProjectRow(300, 0, false, StateDot::none, c.nameWidth, c.branchWidth, false);
        ASSERT_EQ(layout.shared.width(), 256);
        EXPECT_EQ(layout.name.width(), c.expectedName);
        EXPECT_EQ(layout.git.width(), c.expectedGit);
        EXPECT_EQ(layout.git.right(), 294) << "the git group stays against the right edge";
    }
    // Without git information the name has the whole space.
    EXPECT_EQ(layoutProjectRow(300, 0, false, StateDot::none, 400, std::nullopt, false).name.width(), 256);
}

// The painted line draws inside the layout: nothing in the gap between name and branch, and
// the name is there at the narrowest sidebar even beside a long branch.
TEST(ProjectRowLayout, ThePaintKeepsToTheLayout)
{
    ViewsWorkspace w;
    const MacProject project = ViewsWorkspace::project(QStringLiteral("/r/mon-projet-au-nom-assez-long"));
    w.local().setGitInfo({{project.path, GitInfo{textOfLength(80), true}}});
    ProjectRow row(w.model, project, w.local(), 2, {});
    row.resize(200, rowLineHeight);
    row.line()->resize(200, rowLineHeight);
    QImage image(row.line()->size(), QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    row.line()->render(&image, {}, {}, QWidget::DrawChildren);

    const ProjectRowLayout layout = layoutProjectRow(200, 2, *row.state(), project.name);
    ASSERT_FALSE(layout.branch.isEmpty());
    const auto inkIn = [&](int from, int to) {
        int ink = 0;
        for (int x = from; x < to; ++x) {
            for (int y = 0; y < image.height(); ++y)
                ink += qAlpha(image.pixel(x, y)) > 0;
        }
        return ink;
    };
    EXPECT_EQ(inkIn(int(layout.name.right()) + 1, int(layout.git.left()) - 1), 0);
    EXPECT_EQ(inkIn(0, int(layout.chevron.left())), 0) << "nothing left of the chevron";
    EXPECT_GT(inkIn(int(layout.name.left()), int(layout.name.right())), 20) << "the name is drawn";
    EXPECT_GT(inkIn(int(layout.branch.left()), int(layout.branch.right())), 20) << "the branch is drawn";
}

} // namespace
} // namespace halvoren
