#pragma once

#include <QDateTime>
#include <QString>

#include <optional>

namespace quillmere {

// A failure the worker remembered for the writer: when, and the answer it got.
struct WorkerFailure {
    QDateTime at;
    QString message;

    bool operator==(const WorkerFailure&) const = default;
};

// What the worker says about itself on GET /api/health. Fields a worker of an older version
// does not send stay empty.
struct WorkerHealth {
    bool ok = false;
    // The AWS account whose SNS topics the worker accepts; none means it accepts none.
    std::optional<QString> awsAccountId;
    std::optional<bool> mailConfigured;
    std::optional<WorkerFailure> mailFailure;
    std::optional<WorkerFailure> snsFailure;

    bool operator==(const WorkerHealth&) const = default;
};

} // namespace quillmere
