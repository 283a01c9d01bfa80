#include "app/library_saver.h"

#include "core/error.h"

#include <QPointer>

namespace quillmere {

namespace {

constexpr int saveDelayMilliseconds = 400;

} // namespace

LibrarySaver::LibrarySaver(std::shared_ptr<LibraryStore> store, std::function<Library()> current,
                           QObject* parent)
    : QObject(parent)
    , m_store(std::move(store))
    , m_current(std::move(current)) {
    m_timer.setSingleShot(true);
    m_timer.setInterval(saveDelayMilliseconds);
    connect(&m_timer, &QTimer::timeout, this, &LibrarySaver::saveNow);
}

void LibrarySaver::schedule() {
    m_unsaved = true;
    m_timer.start(); // restarting drops the pending one: the last change wins
}

void LibrarySaver::saveNow() {
    m_timer.stop();
    m_unsaved = false;
    run(m_current());
}

void LibrarySaver::cancel() {
    m_timer.stop();
    m_unsaved = false;
}

QCoro::Task<void> LibrarySaver::run(Library library) {
    QPointer<LibrarySaver> self(this);
    try {
        co_await m_store->save(std::move(library));
        if (self) {
            m_failureShown = false;
        }
    } catch (const std::exception& error) {
        // The previous file stays intact. Say so once, not on every keystroke; the next change
        // (or quitting) tries again.
        if (self) {
            m_unsaved = true;
            if (!m_failureShown) {
                m_failureShown = true;
                const auto* known = dynamic_cast<const Error*>(&error);
                Q_EMIT failed(
                    QStringLiteral("Could not save your library: ") +
                    (known ? known->description() : QString::fromLocal8Bit(error.what())));
            }
        }
    }
}

void LibrarySaver::flush() {
    m_timer.stop();
    if (m_unsaved) {
        m_unsaved = false;
        try {
            m_store->saveNow(m_current()); // ordered after, and never overtaken by, queued saves
        } catch (const std::exception&) {
            m_unsaved = true;
        }
    }
    m_store->waitForIdle();
}

} // namespace quillmere
