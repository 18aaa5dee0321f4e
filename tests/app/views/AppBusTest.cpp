#include "ui/AppBus.h"

#include <gtest/gtest.h>

namespace halvoren {
namespace {

TEST(PickerRequest, OneFolderOnOneConnectionHasOneIdWhateverItsSessions)
{
    const PickerRequest first{{QStringLiteral("web"), QStringLiteral("/p/web"), QStringLiteral("kq-web-1")},
                              QStringLiteral("local"), {}};
    PickerRequest second = first;
    second.sessions.append(FolderSession{});
    EXPECT_EQ(first.id(), second.id());
    EXPECT_EQ(first.id(), QStringLiteral("local/p/web"));
    PickerRequest elsewhere = first;
    elsewhere.connId = QStringLiteral("p17");
    EXPECT_NE(first.id(), elsewhere.id());
}

} // namespace
} // namespace halvoren
