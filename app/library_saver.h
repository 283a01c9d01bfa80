#pragma once

#include "core/library.h"
#include "core/library_store.h"

#include <QObject>
#include <QTimer>
#include <qcoro/qcorotask.h>

#include <functional>
#include <memory>

namespace quillmere {

// Puts the library on disk: 0.4 s after the last change (the last change wins), at once when
// asked, and whatever is still pending in the last moments of the process. A failed save keeps
// the previous file and is reported once, with the system's reason, until a save works again.
class LibrarySaver : public QObject {
    Q_OBJECT

public:
    // `current` gives the library as it stands when a save starts.
    LibrarySaver(std::shared_ptr<LibraryStore> store, std::function<Library()> current,
                 QObject* parent = nullptr);

    // Debounced: one save 0.4 s after the last call.
    void schedule();
    bool isScheduled() const { return m_timer.isActive(); }
    // Hands the current library to the store now, without waiting for it.
    void saveNow();
    // Something changed that is not on disk yet, without a save of its own.
    void markUnsaved() { m_unsaved = true; }
    // Writes what is not on disk yet, now, and waits for a save already running: for quit,
    // logout and SIGTERM, when a debounced save would be lost.
    void flush();
    // Drops a scheduled save (the library it would write is no longer the writer's).
    void cancel();

Q_SIGNALS:
    // "Could not save your library: " and the reason.
    void failed(const QString& message);

private:
    QCoro::Task<void> run(Library library);

    std::shared_ptr<LibraryStore> m_store;
    std::function<Library()> m_current;
    QTimer m_timer;
    bool m_unsaved = false;      // changes not yet handed to the store
    bool m_failureShown = false; // a failure was reported and no save has worked since
};

} // namespace quillmere
