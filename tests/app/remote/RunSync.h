// Waits for a task in a nested event loop, for tests only.
#pragma once

#include "remote/Async.h"

#include <QEventLoop>

#include <optional>

namespace halvoren::test {

template <typename T>
T runSync(Task<T> task)
{
    QEventLoop loop;
    std::optional<T> result;
    auto waiter = [&]() -> Task<> {
        result.emplace(co_await task);
        loop.quit();
    };
    auto running = waiter();
    if (!result)
        loop.exec();
    return std::move(*result);
}

} // namespace halvoren::test
