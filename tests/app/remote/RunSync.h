// Waits for a task in a nested event loop, for tests only.
#pragma once

#include "remote/Async.h"

#include <qcoro/qcorotask.h>

namespace halvoren::test {

template <typename T>
T runSync(Task<T> task) { return QCoro::waitFor(std::move(task)); }

} // namespace halvoren::test
