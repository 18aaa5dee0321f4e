// Which edit and find commands a terminal view offers at a moment: the rule behind its menu
// items and shortcuts, kept apart from the widgets so that it can be checked on its own.
#pragma once

#include <string_view>

namespace corvantix {

enum class EditAction {
    copy,
    paste,
    selectAll,
    performFindPanelAction,   // the find panel's items, told apart by their tag
    performTextFinderAction,  // the text finder's items, told apart by their tag
    other,
};

// Whether the item is enabled. An item with an action the view does not know is disabled and
// logged with its description.
bool validateUserInterfaceItem(EditAction action, int tag, bool selectionActive, std::string_view description = {});

} // namespace corvantix
