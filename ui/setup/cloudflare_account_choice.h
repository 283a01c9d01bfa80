#pragma once

#include "worker/cloudflare_deployer.h"

#include <QComboBox>
#include <QHashFunctions>
#include <QList>
#include <QString>

namespace quillmere {

// One Cloudflare account the writer can deploy into; identified by its id.
struct CloudflareAccountChoice {
    QString id;
    QString name;

    static CloudflareAccountChoice from(const CloudflareAccount& account) {
        return {account.id, account.name};
    }

    bool operator==(const CloudflareAccountChoice&) const = default;
};

inline size_t qHash(const CloudflareAccountChoice& choice, size_t seed = 0) {
    return qHashMulti(seed, choice.id, choice.name);
}

// The accounts a token can see, first one chosen, as both Cloudflare screens list them.
inline QList<CloudflareAccountChoice> accountChoices(const QList<CloudflareAccount>& accounts) {
    QList<CloudflareAccountChoice> choices;
    choices.reserve(accounts.size());
    for (const CloudflareAccount& account : accounts) {
        choices.append(CloudflareAccountChoice::from(account));
    }
    return choices;
}

inline void showAccountChoices(QComboBox* picker, const QList<CloudflareAccountChoice>& accounts,
                               const QString& chosenID) {
    picker->clear();
    for (const CloudflareAccountChoice& account : accounts) {
        picker->addItem(account.name, account.id);
    }
    picker->setCurrentIndex(picker->findData(chosenID));
}

} // namespace quillmere
