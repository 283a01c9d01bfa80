#include "core/keychain_store.h"

#include "core/keychain_error.h"

#include <QObject>
#include <QSemaphore>
#include <QThread>
#include <qt6keychain/keychain.h>

namespace quillmere {

namespace {

// What one job reports back; shared so that a job finishing after the caller gave up writes
// into memory that is still alive.
struct JobResult {
    QSemaphore done;
    QKeychain::Error error = QKeychain::NoError;
    QString errorString;
    QString text;
};

} // namespace

// One keychain thread for the whole process: the Secret Service client binds itself to the
// thread that first used it, so a second thread after the first has gone never hears back.
struct KeychainStore::Worker {
    QThread thread;
    QObject context; // lives in `thread`; jobs are created and finish there

    Worker() {
        thread.setObjectName(QStringLiteral("keychain"));
        context.moveToThread(&thread);
        thread.start();
    }

    static Worker& shared() {
        // Deliberately never destroyed: the thread serves every store until the process ends.
        static Worker* worker = new Worker;
        return *worker;
    }

    // Starts the job made by `make` on the keychain thread and waits for it at most `timeout`.
    template <class MakeJob>
    std::shared_ptr<JobResult> run(MakeJob make, std::chrono::milliseconds timeout,
                                   bool* finished) {
        auto result = std::make_shared<JobResult>();
        QMetaObject::invokeMethod(
            &context,
            [make, result] {
                QKeychain::Job* job = make();
                job->setAutoDelete(true);
                QObject::connect(job, &QKeychain::Job::finished, job, [result](QKeychain::Job* j) {
                    result->error = j->error();
                    result->errorString = j->errorString();
                    if (auto* read = qobject_cast<QKeychain::ReadPasswordJob*>(j)) {
                        result->text = read->textData();
                    }
                    result->done.release();
                });
                job->start();
            },
            Qt::QueuedConnection);
        *finished = result->done.tryAcquire(1, int(timeout.count()));
        return result;
    }
};

KeychainStore::KeychainStore(std::chrono::milliseconds timeout, QString service)
    : m_service(std::move(service))
    , m_timeout(timeout)
    , m_worker(&Worker::shared()) {}

KeychainStore::~KeychainStore() = default;

std::optional<QString> KeychainStore::get(const QString& account) {
    const QString service = m_service;
    bool finished = false;
    const auto result = m_worker->run(
        [service, account] {
            auto* job = new QKeychain::ReadPasswordJob(service);
            job->setKey(account);
            return job;
        },
        m_timeout, &finished);
    if (!finished || result->error != QKeychain::NoError) {
        return std::nullopt;
    }
    return result->text;
}

void KeychainStore::set(const QString& value, const QString& account) {
    const QString service = m_service;
    bool finished = false;
    const auto result = m_worker->run(
        [service, account, value] {
            auto* job = new QKeychain::WritePasswordJob(service);
            job->setKey(account);
            job->setTextData(value);
            return job;
        },
        m_timeout, &finished);
    if (!finished) {
        throw KeychainError(KeychainError::timedOut,
                            QStringLiteral("The system keychain did not answer within %1 seconds")
                                .arg(double(m_timeout.count()) / 1000.0));
    }
    if (result->error != QKeychain::NoError) {
        throw KeychainError(qint32(result->error), result->errorString);
    }
}

void KeychainStore::remove(const QString& account) {
    const QString service = m_service;
    bool finished = false;
    m_worker->run(
        [service, account] {
            auto* job = new QKeychain::DeletePasswordJob(service);
            job->setKey(account);
            return job;
        },
        m_timeout, &finished);
}

} // namespace quillmere
