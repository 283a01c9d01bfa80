#pragma once

#include "core/library.h"

#include <QString>
#include <QStringList>
#include <QTimer>
#include <QUuid>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>

class QThreadPool;

namespace quillmere {

// What became of each reader of a list send, recorded the moment it is known, so that a send
// cut short by a crash, a kill or a power cut resumes without mailing anybody twice and without
// skipping anybody. One append-only text file per issue in "sends" beside the library, one line
// per reader ("delivered", "failed" or "uncertain", a space, the reader's id). Lines are handed
// to the system (which keeps them if the process dies) before the event loop turns again, and at
// once when `groupSize` are waiting, so a kill loses fewer than `groupSize` of them however busy
// the machine is; the disk sync (for a power cut) follows on its own thread at most
// `syncInterval` later. The library file itself is written only when a send pauses or ends.
// Folding a journal into the library is idempotent, so a journal is removed only once a save
// holds what it says.
//
// A plain file rather than SQLite: the records are appended and read once, in order, by this
// program only; a torn last line (a crash mid-write) is simply skipped.
class DeliveryJournal {
public:
    enum class Outcome { delivered, failed, uncertain };
    static constexpr int groupSize = 8;
    static constexpr std::chrono::milliseconds syncInterval{100};

    static QString folder(const QString& libraryPath);
    static QString path(const QString& libraryPath, const QUuid& issueID);

    // Opens (creating) the journal for appending; raises FileError.
    explicit DeliveryJournal(QString path);
    // Writes and syncs what is still buffered.
    ~DeliveryJournal();

    DeliveryJournal(const DeliveryJournal&) = delete;
    DeliveryJournal& operator=(const DeliveryJournal&) = delete;

    void record(Outcome outcome, const QUuid& reader);
    // Writes what is buffered now and starts the disk sync in the background.
    void flush();
    // Told when a write fails (disk full): the reason, once.
    void onError(std::function<void(const QString&)> handler) { m_onError = std::move(handler); }

    const QString& path() const { return m_path; }
    qint64 bytesWritten() const { return m_written; }

    // Applies every journal beside the library to it and returns the files read (to remove once
    // a save holds what they say). A journal of an issue no longer in the library is ignored.
    static QStringList foldInto(Library& library, const QString& libraryPath);
    // Applies one outcome to an issue, as a send does: a delivered reader is no longer failed
    // or uncertain, and stays delivered whatever comes later.
    static void apply(Newsletter& issue, Outcome outcome, const QUuid& reader);

private:
    void write();
    void sync();

    QString m_path;
    int m_fd = -1;
    QByteArray m_buffer;
    int m_buffered = 0;
    qint64 m_written = 0;
    QTimer m_writeTimer;
    QTimer m_syncTimer;
    std::unique_ptr<QThreadPool> m_syncer;
    std::shared_ptr<std::atomic<bool>> m_syncPending;
    std::function<void(const QString&)> m_onError;
    bool m_failed = false;
};

} // namespace quillmere
