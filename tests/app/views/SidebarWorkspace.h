// The sidebar's tests use the common views workspace as it is.
#pragma once

#include "app/views/ViewsWorkspace.h"

namespace halvoren::test {

using SidebarWorkspace = ViewsWorkspace;

} // namespace halvoren::test
