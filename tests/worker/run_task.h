#pragma once

#include <QEventLoop>
#include <qcoro/qcorotask.h>

#include <exception>
#include <optional>

namespace quillmere::test {

// Runs a task to its end in a nested event loop and returns its result or rethrows its
// exception. (QCoro::waitFor of QCoro 0.8 never returns when the task throws.)
namespace detail {

template <class T>
QCoro::Task<> capture(QCoro::Task<T> task, std::optional<T>* result, std::exception_ptr* error,
                      bool* done, QEventLoop* loop) {
    try {
        result->emplace(co_await std::move(task));
    } catch (...) {
        *error = std::current_exception();
    }
    *done = true;
    loop->quit();
}

inline QCoro::Task<> captureVoid(QCoro::Task<> task, std::exception_ptr* error, bool* done,
                                 QEventLoop* loop) {
    try {
        co_await std::move(task);
    } catch (...) {
        *error = std::current_exception();
    }
    *done = true;
    loop->quit();
}

} // namespace detail

template <class T>
T runTask(QCoro::Task<T>&& task) {
    QEventLoop loop;
    std::optional<T> result;
    std::exception_ptr error;
    bool done = false;
    detail::capture<T>(std::move(task), &result, &error, &done, &loop);
    if (!done) {
        loop.exec();
    }
    if (error) {
        std::rethrow_exception(error);
    }
    return std::move(*result);
}

inline void runTask(QCoro::Task<>&& task) {
    QEventLoop loop;
    std::exception_ptr error;
    bool done = false;
    detail::captureVoid(std::move(task), &error, &done, &loop);
    if (!done) {
        loop.exec();
    }
    if (error) {
        std::rethrow_exception(error);
    }
}

} // namespace quillmere::test
