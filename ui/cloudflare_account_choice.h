#pragma once

#include "worker/cloudflare_deployer.h"

#include <QHashFunctions>
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

} // namespace quillmere
