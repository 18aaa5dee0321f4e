// The panels' and settings' tests use the common views workspace as it is.
#pragma once

#include "app/views/ViewsWorkspace.h"

namespace halvoren::test {

using PanelsWorkspace = ViewsWorkspace;

} // namespace halvoren::test
