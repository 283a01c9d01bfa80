// The issue's own images: where they live on this computer, and putting the ones the worker
// lacks onto it before anything that shows them to readers goes out.
#include "app/app_model.h"
#include "core/keychain_error.h"
#include "render/media_reference.h"
#include "worker/worker_client_error.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPointer>

namespace quillmere {

QString AppModel::mediaFolder() const {
    return QFileInfo(m_store->path()).absolutePath() + QStringLiteral("/media");
}

QCoro::Task<bool> AppModel::hostImages(Newsletter issue) {
    const QStringList names = MediaReference::names(issue.markdown);
    if (names.isEmpty() || m_isDemo) {
        co_return true;
    }
    QPointer<AppModel> self(this);
    try {
        co_await m_keychain->read(CredentialStore::Key::workerAPIToken);
    } catch (const KeychainError& error) {
        if (self) {
            showStatus(error.description());
        }
        co_return false;
    }
    if (!self) {
        co_return false;
    }
    const auto client = makeWorkerClient();
    if (!client) {
        showStatus(QStringLiteral("Deploy the signup worker to host this issue's images."));
        co_return false;
    }
    const QString folder = mediaFolder();
    const BusyScope busy(*this);
    bool hosted = true;
    try {
        for (const QString& name : names) {
            QFile file(folder + QLatin1Char('/') + name);
            if (file.size() > MediaReference::maxHostedBytes) {
                showStatus(QStringLiteral("This image is too large to host; use a smaller one."));
                hosted = false;
                break;
            }
            if (!file.open(QIODevice::ReadOnly)) {
                showStatus(QStringLiteral("The image %1 is missing from %2; add it again.")
                               .arg(name, QDir::toNativeSeparators(folder)));
                hosted = false;
                break;
            }
            QByteArray bytes = file.readAll();
            if (!co_await client->hasMedia(name)) {
                co_await client->uploadMedia(name, std::move(bytes));
            }
            if (!self) {
                co_return false;
            }
        }
    } catch (const WorkerClientError& error) {
        hosted = false;
        // A worker deployed before images existed has no place for them.
        if (self) {
            showStatus(error.status() == 404
                           ? QStringLiteral("Deploy the signup worker again so it can host "
                                            "this issue's images.")
                           : QStringLiteral("Could not upload this issue's images: ") +
                                 errorText(error));
        }
    } catch (const std::exception& error) {
        hosted = false;
        if (self) {
            showStatus(QStringLiteral("Could not upload this issue's images: ") + errorText(error));
        }
    }
    co_return hosted;
}

QCoro::Task<void> AppModel::hostImagesThenSend(Newsletter issue, std::optional<double> rate,
                                               bool failedOnly) {
    QPointer<AppModel> self(this);
    if (co_await hostImages(issue) && self) {
        co_await startListSend(issue, rate, failedOnly, true);
    }
}

} // namespace quillmere
