#pragma once

#include "core/library.h"
#include "core/library_file.h"

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

    // A missing file is the empty library; an unreadable or malformed one raises. The store keeps
    // such a file, and one that loaded only in part (see partial), aside before its next save
    // replaces it (see backupPath).
    QCoro::Task<Library> load();
    QCoro::Task<void> save(Library library);

    // The same operations, blocking the caller; ordered with the background ones.
    Library loadNow();
    void saveNow(const Library& library);

    // Where the file as it was before this process is (or will be) kept: "library.json.before-"
    // and the UTC time of the load. None once a save has kept it, or when nothing needs keeping.
    std::optional<QString> backupPath() const;
    // What the last load could not place, when it read the file only in part.
    std::optional<LibraryFile::Partial> partial() const;

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
