#include "core/library_store.h"

#include "core/file_error.h"
#include "core/library_file.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QMutex>
#include <QStandardPaths>
#include <QThreadPool>
#include <QtConcurrent/QtConcurrentRun>
#include <qcoro/qcorofuture.h>

#include <atomic>
#include <exception>

namespace quillmere {

struct LibraryStore::Shared {
    QThreadPool pool; // one thread: jobs run in submission order
    QMutex fileMutex; // orders the blocking calls with the background jobs
    QMutex stateMutex;
    std::optional<QString> backupPending;
    std::optional<LibraryFile::Partial> partial;
    std::atomic<int> saves{0};
    std::atomic<quint64> nextSequence{0};
    quint64 writtenSequence = 0; // under fileMutex

    Library load(const QString& path) {
        QMutexLocker lock(&fileMutex);
        try {
            LibraryFile::Loaded loaded = LibraryFile::load(path);
            QMutexLocker state(&stateMutex);
            partial = loaded.partial;
            if (partial) {
                keepAsideBeforeSaving(path);
            }
            return std::move(loaded.library);
        } catch (const std::exception&) {
            // Whatever the file holds must survive the next save.
            QMutexLocker state(&stateMutex);
            partial.reset();
            keepAsideBeforeSaving(path);
            throw;
        }
    }

    // Under stateMutex: the next save copies the file aside first.
    void keepAsideBeforeSaving(const QString& path) {
        if (!backupPending && QFile::exists(path)) {
            backupPending =
                path + QStringLiteral(".before-") +
                QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyyMMdd'T'HHmmss'Z'"));
        }
    }

    // `sequence` orders the calls: a save handed over earlier never replaces a newer one that
    // got to the disk first (a blocking save at exit overtakes the queue).
    void save(const QString& path, const Library& library, quint64 sequence) {
        QMutexLocker lock(&fileMutex);
        if (sequence < writtenSequence) {
            return;
        }
        std::optional<QString> backup;
        {
            QMutexLocker state(&stateMutex);
            backup = backupPending;
        }
        if (backup && QFile::exists(path)) {
            QFile::remove(*backup);
            if (!QFile::copy(path, *backup)) {
                throw FileError(*backup, QStringLiteral("keep the library as it was as"),
                                QStringLiteral("the copy failed"));
            }
            QFile::setPermissions(*backup, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        }
        LibraryFile::write(path, library);
        writtenSequence = sequence;
        {
            QMutexLocker state(&stateMutex);
            backupPending.reset();
        }
        ++saves;
    }
};

namespace {

template <class T>
struct Outcome {
    std::optional<T> value;
    std::exception_ptr error;
};
struct Nothing {};

} // namespace

LibraryStore::LibraryStore(QString path)
    : m_path(std::move(path))
    , m_shared(std::make_shared<Shared>()) {
    m_shared->pool.setMaxThreadCount(1);
}

LibraryStore::~LibraryStore() {
    m_shared->pool.waitForDone();
}

QString LibraryStore::defaultPath() {
    QString base = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    if (base.isEmpty()) {
        base = QDir::homePath() + QStringLiteral("/Library/Application Support");
    }
    return base + QStringLiteral("/Postwick/library.json");
}

QCoro::Task<Library> LibraryStore::load() {
    auto shared = m_shared;
    const QString path = m_path;
    // Named before awaiting: g++ 12 destroys a lambda temporary of a co_await expression twice.
    auto job = [shared, path] {
        Outcome<Library> o;
        try {
            o.value = shared->load(path);
        } catch (...) {
            o.error = std::current_exception();
        }
        return o;
    };
    auto future = QtConcurrent::run(&shared->pool, std::move(job));
    Outcome<Library> outcome = co_await future;
    if (outcome.error) {
        std::rethrow_exception(outcome.error);
    }
    co_return std::move(*outcome.value);
}

QCoro::Task<void> LibraryStore::save(Library library) {
    auto shared = m_shared;
    const QString path = m_path;
    const quint64 sequence = ++shared->nextSequence;
    auto job = [shared, path, library = std::move(library), sequence] {
        Outcome<Nothing> o;
        try {
            shared->save(path, library, sequence);
            o.value = Nothing{};
        } catch (...) {
            o.error = std::current_exception();
        }
        return o;
    };
    auto future = QtConcurrent::run(&shared->pool, std::move(job));
    Outcome<Nothing> outcome = co_await future;
    if (outcome.error) {
        std::rethrow_exception(outcome.error);
    }
}

Library LibraryStore::loadNow() {
    return m_shared->load(m_path);
}

void LibraryStore::saveNow(const Library& library) {
    m_shared->save(m_path, library, ++m_shared->nextSequence);
}

std::optional<QString> LibraryStore::backupPath() const {
    QMutexLocker state(&m_shared->stateMutex);
    return m_shared->backupPending;
}

std::optional<LibraryFile::Partial> LibraryStore::partial() const {
    QMutexLocker state(&m_shared->stateMutex);
    return m_shared->partial;
}

void LibraryStore::waitForIdle() {
    m_shared->pool.waitForDone();
}

int LibraryStore::saveCount() const {
    return m_shared->saves.load();
}

} // namespace quillmere
