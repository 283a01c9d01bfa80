#pragma once

// What the model tests share: a model on a library of its own in a temporary folder, its
// secrets in memory; and a library of readers with one issue to send them.

#include "app/app_model.h"
#include "core/memory_credential_store.h"
#include "support/run_task.h"

#include <QSettings>

#include <initializer_list>
#include <utility>

namespace quillmere::test {

inline std::shared_ptr<MemoryCredentialStore> memoryCredentials(
    std::initializer_list<std::pair<QString, QString>> entries = {}) { // account, value
    auto store = std::make_shared<MemoryCredentialStore>();
    for (const auto& [account, value] : entries) {
        store->set(value, account);
    }
    return store;
}

// The library is `folder`/library.json, the settings `folder`/settings.ini.
inline AppModel::Dependencies modelDependencies(const QString& folder,
                                                std::shared_ptr<CredentialStore> credentials) {
    return {.store = std::make_shared<LibraryStore>(folder + QStringLiteral("/library.json")),
            .credentials = std::move(credentials),
            .settings = std::make_shared<QSettings>(folder + QStringLiteral("/settings.ini"),
                                                    QSettings::IniFormat),
            .arguments = QStringList{QStringLiteral("quillmere")}};
}

inline std::unique_ptr<AppModel> startedModel(AppModel::Dependencies d) {
    auto model = std::make_unique<AppModel>(std::move(d));
    runTask(model->start());
    return model;
}

// A complete sender profile for a publication named after `name` ("Fault": "Fault Notes" by Ann
// Fault, ann@fault.example, domain fault.example).
inline SenderProfile profileOf(const QString& name) {
    const QString lower = name.toLower();
    return {.publicationName = name + QStringLiteral(" Notes"),
            .fromName = QStringLiteral("Ann ") + name,
            .fromEmail = QStringLiteral("ann@%1.example").arg(lower),
            .postalAddress = QStringLiteral("1 Main St"),
            .domain = lower + QStringLiteral(".example"),
            .workerBaseURL = QStringLiteral("https://postwick.%1.workers.dev").arg(lower)};
}

// `profile`, `readers` active readers r<i>@`domain` and one draft whose subject is `subject`.
inline Library libraryOfReaders(const SenderProfile& profile, int readers, const QString& domain,
                                const QString& subject) {
    Library library{.profile = profile};
    const QDateTime now = QDateTime::currentDateTimeUtc();
    for (int i = 0; i < readers; ++i) {
        library.subscribers.append(
            Subscriber{QUuid::createUuid(), QStringLiteral("r%1@%2").arg(i).arg(domain), QString(),
                       SubscriberStatus::active, QStringLiteral("test"), now, now});
    }
    library.newsletters.append(
        {.id = QUuid::createUuid(),
         .subject = subject,
         .markdown = QStringLiteral("Hi {{name}}, this is *%1*.").arg(subject),
         .createdAt = now});
    return library;
}

} // namespace quillmere::test
