#pragma once

#include <QEventLoop>
#include <QTimer>
#include <qcoro/qcorotask.h>

#include <exception>
#include <optional>
#include <stdexcept>

namespace quillmere::test {

// Runs a task to its end in a nested event loop and returns its result or rethrows its
// failure. (QCoro::waitFor never returns when the task throws.) Gives up after `timeoutMs`.
template <class T>
T runTask(QCoro::Task<T>&& task, int timeoutMs = 60000) {
    QEventLoop loop;
    std::optional<std::conditional_t<std::is_void_v<T>, bool, T>> result;
    std::exception_ptr error;
    bool finished = false;
    auto body = [&]() -> QCoro::Task<void> {
        try {
            if constexpr (std::is_void_v<T>) {
                co_await task;
                result.emplace(true);
            } else {
                result.emplace(co_await task);
            }
        } catch (...) {
            error = std::current_exception();
        }
        finished = true;
        loop.quit();
    };
    auto running = body();
    if (!finished) {
        QTimer::singleShot(timeoutMs, &loop, [&loop] { loop.exit(1); });
        if (loop.exec() != 0) {
            throw std::runtime_error("task did not finish in time");
        }
    }
    if (error) {
        std::rethrow_exception(error);
    }
    if constexpr (!std::is_void_v<T>) {
        return std::move(*result);
    }
}

} // namespace quillmere::test
