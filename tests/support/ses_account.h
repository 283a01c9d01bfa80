#pragma once

// A GetAccount answer in the full form SES returns (the emulator replays it as given); tests vary
// only the mode and the quota.

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace quillmere::test {

inline QJsonObject sesAccount(bool production, int maxSendRate, int max24HourSend,
                              int sentLast24Hours) {
    const QJsonObject review{{"CaseId", "c-1"}, {"Status", production ? "GRANTED" : "PENDING"}};
    return QJsonObject{{"DedicatedIpAutoWarmupEnabled", false},
                       {"Details", QJsonObject{{"AdditionalContactEmailAddresses", QJsonArray()},
                                               {"ContactLanguage", "EN"},
                                               {"MailType", "MARKETING"},
                                               {"ReviewDetails", review},
                                               {"UseCaseDescription", "A newsletter."},
                                               {"WebsiteURL", "https://example.com"}}},
                       {"EnforcementStatus", "HEALTHY"},
                       {"ProductionAccessEnabled", production},
                       {"SendingEnabled", true},
                       {"SendQuota", QJsonObject{{"Max24HourSend", max24HourSend},
                                                 {"MaxSendRate", maxSendRate},
                                                 {"SentLast24Hours", sentLast24Hours}}},
                       {"SuppressionAttributes", QJsonObject{{"SuppressedReasons", QJsonArray()}}}};
}

inline QByteArray sesAccountJSON(bool production, int maxSendRate, int max24HourSend,
                                 int sentLast24Hours) {
    return QJsonDocument(sesAccount(production, maxSendRate, max24HourSend, sentLast24Hours))
        .toJson(QJsonDocument::Compact);
}

} // namespace quillmere::test
