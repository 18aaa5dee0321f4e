// Which edit and find items a terminal view enables.
#include "view/EditCommands.h"

#include <gtest/gtest.h>

#include <ostream>

namespace corvantix {
namespace {

struct ItemCase {
    const char* name;
    EditAction action;
    int tag;
    bool selectionActive;
    bool enabled;
};

void PrintTo(const ItemCase& c, std::ostream* out)
{
    *out << c.name;
}

class MenuValidation : public ::testing::TestWithParam<ItemCase> {};

TEST_P(MenuValidation, EnablesItemsByActionTagAndSelection)
{
    const ItemCase& c = GetParam();
    EXPECT_EQ(validateUserInterfaceItem(c.action, c.tag, c.selectionActive), c.enabled);
}

INSTANTIATE_TEST_SUITE_P(
    Items, MenuValidation,
    ::testing::Values(ItemCase{"copy without a selection", EditAction::copy, 0, false, false},
                      ItemCase{"copy with a selection", EditAction::copy, 0, true, true},
                      ItemCase{"paste", EditAction::paste, 0, false, true},
                      ItemCase{"find panel, show", EditAction::performFindPanelAction, 1, false, true},
                      ItemCase{"find panel, use selection without one", EditAction::performFindPanelAction, 7, false, false},
                      ItemCase{"find panel, use selection", EditAction::performFindPanelAction, 7, true, true},
                      ItemCase{"find panel, replace", EditAction::performFindPanelAction, 12, true, false},
                      ItemCase{"text finder, tag 14", EditAction::performTextFinderAction, 14, true, false},
                      ItemCase{"text finder, use selection", EditAction::performTextFinderAction, 7, true, true},
                      ItemCase{"an unknown item", EditAction::other, 0, true, false}));

} // namespace
} // namespace corvantix
