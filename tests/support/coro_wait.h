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

// A task cannot carry a bare exception_ptr as its value (QCoro keeps its own in a variant).
struct SettledVoid {
    std::exception_ptr error;
};

inline QCoro::Task<SettledVoid> settleVoid(QCoro::Task<void> task) {
    SettledVoid out;
    try {
        co_await task;
    } catch (...) {
        out.error = std::current_exception();
    }
    co_return out;
}

} // namespace detail

template <class T>
T wait(QCoro::Task<T> task) {
    if constexpr (std::is_void_v<T>) {
        if (std::exception_ptr error = QCoro::waitFor(detail::settleVoid(std::move(task))).error) {
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
