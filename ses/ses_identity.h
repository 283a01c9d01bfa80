#pragma once

#include "core/enum_traits.h"

#include <QHashFunctions>
#include <QStringList>

namespace quillmere {

enum class DKIMStatus { pending, success, failed, temporaryFailure, notStarted };

template <>
struct EnumTraits<DKIMStatus> {
    static constexpr std::array cases{
        std::pair{DKIMStatus::pending, "PENDING"},
        std::pair{DKIMStatus::success, "SUCCESS"},
        std::pair{DKIMStatus::failed, "FAILED"},
        std::pair{DKIMStatus::temporaryFailure, "TEMPORARY_FAILURE"},
        std::pair{DKIMStatus::notStarted, "NOT_STARTED"},
    };
};

// A domain identity's verification and DKIM state.
struct SESIdentity {
    QString identity; // the domain as asked
    bool verifiedForSending = false;
    DKIMStatus dkimStatus = DKIMStatus::notStarted;
    QStringList dkimTokens; // in the order SES returns them

    bool operator==(const SESIdentity&) const = default;
};

inline size_t qHash(const SESIdentity& i, size_t seed = 0) {
    return qHashMulti(seed, i.identity, i.verifiedForSending, i.dkimStatus, i.dkimTokens);
}

} // namespace quillmere
