#include "view/EditCommands.h"

#include "platform/Log.h"

#include <string>

namespace corvantix {

bool validateUserInterfaceItem(EditAction action, int tag, bool selectionActive, std::string_view description)
{
    switch (action) {
    case EditAction::performFindPanelAction:
        if (tag == 1 || tag == 2 || tag == 3)
            return true;
        return tag == 7 && selectionActive;
    case EditAction::performTextFinderAction:
        if (tag == 1 || tag == 2 || tag == 3 || tag == 11 || tag == 12 || tag == 13)
            return true;
        return tag == 7 && selectionActive;
    case EditAction::paste:
    case EditAction::selectAll:
        return true;
    case EditAction::copy:
        return selectionActive;
    case EditAction::other:
        break;
    }
    printLine(std::string("Validating User Interface Item: ") + std::string(description));
    return false;
}

} // namespace corvantix
