#pragma once

// Runs a QCoro task to its end in a nested event loop and hands back its result or rethrows
// its exception. QCoro::waitFor alone never returns when the task throws.

#include <qcoro/qcorotask.h>

#include <exception>
#include <optional>
#include <utility>

namespace quillmere::test {

namespace detail {

template <class T>
struct Settled {
    std::optional<T> value;
    std::exception_ptr error;
};

template <class T>
QCoro::Task<Settled<T>> settle(QCoro::Task<T> task) {
    Settled<T> out;
    try {
        out.value.emplace(co_await task);
    } catch (...) {
        out.error = std::current_exception();
    }
    co_return out;
}

inline QCoro::Task<std::exception_ptr> settleVoid(QCoro::Task<void> task) {
    std::exception_ptr error;
    try {
        co_await task;
    } catch (...) {
        error = std::current_exception();
    }
    co_return error;
}

} // namespace detail

template <class T>
T wait(QCoro::Task<T> task) {
    if constexpr (std::is_void_v<T>) {
        if (std::exception_ptr error = QCoro::waitFor(detail::settleVoid(std::move(task)))) {
            std::rethrow_exception(error);
        }
    } else {
        detail::Settled<T> settled = QCoro::waitFor(detail::settle<T>(std::move(task)));
        if (settled.error) {
            std::rethrow_exception(settled.error);
        }
        return std::move(*settled.value);
    }
}

} // namespace quillmere::test
