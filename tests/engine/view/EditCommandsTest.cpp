// Which edit and find items a terminal view enables.
#include "view/EditCommands.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>

namespace corvantix {
namespace {

struct ItemCase {
    const char* name;
    EditAction action;
    int tag;
    bool selectionActive;
    bool enabled;
};

void PrintTo(const ItemCase& c, std::ostream* out) { *out << c.name; }

class MenuValidation : public ::testing::TestWithParam<ItemCase> {};

TEST_P(MenuValidation, EnablesItemsByActionTagAndSelection)
{
    const ItemCase& c = GetParam();
    EXPECT_EQ(validateUserInterfaceItem(c.action, c.tag, c.selectionActive), c.enabled);
}

INSTANTIATE_TEST_SUITE_P(
    Items, MenuValidation,
    ::testing::Values(ItemCase{"CopyWithoutASelection", EditAction::copy, 0, false, false},
                      ItemCase{"CopyWithASelection", EditAction::copy, 0, true, true},
                      ItemCase{"Paste", EditAction::paste, 0, false, true},
                      ItemCase{"FindPanelShow", EditAction::performFindPanelAction, 1, false, true},
                      ItemCase{"FindPanelUseSelectionWithoutOne", EditAction::performFindPanelAction, 7, false, false},
                      ItemCase{"FindPanelUseSelection", EditAction::performFindPanelAction, 7, true, true},
                      ItemCase{"FindPanelReplace", EditAction::performFindPanelAction, 12, true, false},
                      ItemCase{"TextFinderTag14", EditAction::performTextFinderAction, 14, true, false},
                      ItemCase{"TextFinderUseSelection", EditAction::performTextFinderAction, 7, true, true},
                      ItemCase{"AnUnknownItem", EditAction::other, 0, true, false}),
    [](const ::testing::TestParamInfo<ItemCase>& info) { return std::string(info.param.name); });

} // namespace
} // namespace corvantix
