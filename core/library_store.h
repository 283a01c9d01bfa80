#pragma once

#include "core/library.h"

#include <QString>
#include <qcoro/qcorotask.h>

#include <memory>
#include <optional>

namespace quillmere {

// Keeps the Library in one JSON file. Loads and saves run one at a time, in call order, on a
// background thread of the store's own; the awaiting side (the interface thread) never blocks.
class LibraryStore {
public:
    explicit LibraryStore(QString path = defaultPath());
    ~LibraryStore();
    LibraryStore(const LibraryStore&) = delete;
    LibraryStore& operator=(const LibraryStore&) = delete;

    // "Postwick/library.json" in the per-user data folder (~/.local/share on Linux).
    static QString defaultPath();
    const QString& path() const { return m_path; }

    // A missing file is the empty library; an unreadable or malformed one raises, and the store
    // then keeps that file aside (see unreadableBackupPath) before its next save replaces it.
    QCoro::Task<Library> load();
    QCoro::Task<void> save(Library library);

    // The same operations, blocking the caller; ordered with the background ones.
    Library loadNow();
    void saveNow(const Library& library);

    // Where the file that failed to load is (or will be) kept, until a save has kept it.
    std::optional<QString> unreadableBackupPath() const;

    // Blocks until every load and save handed to the background thread has finished.
    void waitForIdle();

    // Number of completed writes, for tests and benchmarks.
    int saveCount() const;

private:
    struct Shared;
    QString m_path;
    std::shared_ptr<Shared> m_shared;
};

} // namespace quillmere
