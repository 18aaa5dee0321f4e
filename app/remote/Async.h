// The application's asynchronous plumbing. Awaitable work is a coroutine returning a
// `Task`, started and resumed on the Qt main thread; a cancellable delay is a QTimer owned
// by whoever may cancel it; a coroutine or callback that outlives the object it works for
// holds it as a QPointer and does nothing once it is gone.
#pragma once

#include <QCoreApplication>
#include <QTimer>

#include <qcoro/qcorotask.h>
#include <qcoro/qcorotimer.h>

#include <coroutine>

namespace halvoren {

template <typename T = void>
using Task = QCoro::Task<T>;

// Continues a suspended coroutine on the next turn of the main thread's event loop, so that
// it never runs inside the signal handler (or on the thread) that reported the event.
inline void resumeOnMainThread(std::coroutine_handle<> handle)
{
    QTimer::singleShot(0, QCoreApplication::instance(), [handle] { handle.resume(); });
}

} // namespace halvoren
