#include "app/delivery_journal.h"

#include "core/file_error.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QThreadPool>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace quillmere {

namespace {

const QByteArray deliveredWord = QByteArrayLiteral("delivered");
const QByteArray failedWord = QByteArrayLiteral("failed");
const QByteArray uncertainWord = QByteArrayLiteral("uncertain");

const QByteArray& word(DeliveryJournal::Outcome outcome) {
    switch (outcome) {
    case DeliveryJournal::Outcome::delivered:
        return deliveredWord;
    case DeliveryJournal::Outcome::failed:
        return failedWord;
    case DeliveryJournal::Outcome::uncertain:
        break;
    }
    return uncertainWord;
}

QString systemReason() {
    return QString::fromLocal8Bit(std::strerror(errno));
}

} // namespace

QString DeliveryJournal::folder(const QString& libraryPath) {
    return QFileInfo(libraryPath).dir().filePath(QStringLiteral("sends"));
}

QString DeliveryJournal::path(const QString& libraryPath, const QUuid& issueID) {
    return folder(libraryPath) + u'/' + issueID.toString(QUuid::WithoutBraces).toUpper() +
           QStringLiteral(".journal");
}

DeliveryJournal::DeliveryJournal(QString path)
    : m_path(std::move(path))
    , m_syncer(std::make_unique<QThreadPool>())
    , m_syncPending(std::make_shared<std::atomic<bool>>(false)) {
    if (!QDir().mkpath(QFileInfo(m_path).absolutePath())) {
        throw FileError(m_path, QStringLiteral("create the folder of"),
                        QStringLiteral("permission denied or no space"));
    }
    m_fd = ::open(QFile::encodeName(m_path).constData(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC,
                  0600);
    if (m_fd < 0) {
        throw FileError(m_path, QStringLiteral("open"), systemReason());
    }
    m_syncer->setMaxThreadCount(1);
    m_writeTimer.setSingleShot(true);
    m_writeTimer.setInterval(0);
    QObject::connect(&m_writeTimer, &QTimer::timeout, [this] { write(); });
    m_syncTimer.setSingleShot(true);
    m_syncTimer.setInterval(syncInterval);
    QObject::connect(&m_syncTimer, &QTimer::timeout, [this] { sync(); });
}

DeliveryJournal::~DeliveryJournal() {
    flush();
    m_syncer->waitForDone();
    ::fdatasync(m_fd);
    ::close(m_fd);
}

void DeliveryJournal::record(Outcome outcome, const QUuid& reader) {
    m_buffer += word(outcome);
    m_buffer += ' ';
    m_buffer += reader.toByteArray(QUuid::WithoutBraces).toUpper();
    m_buffer += '\n';
    // A timer of its own would let a group grow with the machine's load (late timers, bursts
    // of answers): the size caps it, and what is left goes out before the next turn.
    if (++m_buffered >= groupSize) {
        write();
    } else if (!m_writeTimer.isActive()) {
        m_writeTimer.start();
    }
}

void DeliveryJournal::flush() {
    write();
    if (m_syncTimer.isActive()) { // something written is not synced yet
        sync();
    }
}

void DeliveryJournal::write() {
    m_writeTimer.stop();
    m_buffered = 0;
    qsizetype done = 0;
    while (done < m_buffer.size()) {
        const ssize_t n =
            ::write(m_fd, m_buffer.constData() + done, size_t(m_buffer.size() - done));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            if (!m_failed && m_onError) {
                m_failed = true;
                m_onError(FileError(m_path, QStringLiteral("write"), systemReason()).description());
            }
            break;
        }
        done += n;
    }
    m_written += done;
    m_buffer.remove(0, done);
    if (done > 0 && !m_syncTimer.isActive()) {
        m_syncTimer.start();
    }
}

void DeliveryJournal::sync() {
    m_syncTimer.stop();
    // A write survives the process at once; the sync makes it survive a power cut too. It runs
    // on its own thread so a slow disk never stalls the interface, one at a time: a sync covers
    // everything written before it started.
    if (!m_syncPending->exchange(true)) {
        const int fd = m_fd;
        const std::shared_ptr<std::atomic<bool>> pending = m_syncPending;
        m_syncer->start([fd, pending] {
            pending->store(false);
            ::fdatasync(fd);
        });
    }
}

void DeliveryJournal::apply(Newsletter& issue, Outcome outcome, const QUuid& reader) {
    switch (outcome) {
    case Outcome::delivered:
        issue.deliveredIDs.insert(reader);
        issue.failedIDs.remove(reader);
        issue.uncertainIDs.remove(reader);
        break;
    case Outcome::failed:
        if (!issue.deliveredIDs.contains(reader)) {
            issue.failedIDs.insert(reader);
        }
        break;
    case Outcome::uncertain:
        if (!issue.deliveredIDs.contains(reader)) {
            issue.failedIDs.remove(reader);
            issue.uncertainIDs.insert(reader);
        }
        break;
    }
    issue.stats.sent = issue.deliveredIDs.size();
    issue.stats.failed = issue.failedIDs.size();
}

QStringList DeliveryJournal::foldInto(Library& library, const QString& libraryPath) {
    const QDir dir(folder(libraryPath));
    QStringList read;
    const QStringList names = dir.entryList({QStringLiteral("*.journal")}, QDir::Files, QDir::Name);
    for (const QString& name : names) {
        QFile file(dir.filePath(name));
        if (!file.open(QIODevice::ReadOnly)) {
            continue; // kept for a later start; nothing is lost by waiting
        }
        read.append(file.fileName());
        Newsletter* issue = library.issue(QUuid::fromString(QFileInfo(name).completeBaseName()));
        if (!issue) {
            continue;
        }
        const QByteArray bytes = file.readAll();
        for (const QByteArray& line : bytes.split('\n')) {
            const qsizetype space = line.indexOf(' ');
            const QUuid reader = QUuid::fromString(QLatin1String(line.mid(space + 1)));
            if (space < 0 || reader.isNull()) {
                continue; // a line cut short by a crash
            }
            const QByteArray kind = line.left(space);
            if (kind == deliveredWord) {
                apply(*issue, Outcome::delivered, reader);
            } else if (kind == failedWord) {
                apply(*issue, Outcome::failed, reader);
            } else if (kind == uncertainWord) {
                apply(*issue, Outcome::uncertain, reader);
            }
        }
    }
    return read;
}

} // namespace quillmere
