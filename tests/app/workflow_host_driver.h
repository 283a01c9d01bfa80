#pragma once

// Drives a workflow_host process: commands go in as JSON lines, its events come back as JSON
// lines. The process dies with the test.
#include "support/child_process.h"

#include <QDeadlineTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

#include <functional>

namespace quillmere::test {

class WorkflowHostDriver {
public:
    QProcess process;
    QByteArray output;    // every line it printed
    QStringList statuses; // every status message it showed

    void start(const QStringList& arguments,
               const QProcessEnvironment& environment = QProcessEnvironment::systemEnvironment()) {
        process.setProcessEnvironment(environment);
        dieWithTest(process);
        process.start(QStringLiteral(QUILLMERE_BINARY_DIR "/tests/app/workflow_host"), arguments);
        if (!process.waitForStarted(30000)) {
            qFatal("workflow_host did not start");
        }
    }

    // On a library of its own in `folder`, its secrets in memory; returns the library's path.
    QString
    startIn(const QString& folder,
            const QProcessEnvironment& environment = QProcessEnvironment::systemEnvironment()) {
        const QString library = folder + QStringLiteral("/Postwick/library.json");
        start({QStringLiteral("--library"), library, QStringLiteral("--settings"),
               folder + QStringLiteral("/settings.ini"), QStringLiteral("--memory-credentials")},
              environment);
        return library;
    }

    void send(const QJsonArray& command) {
        process.write(QJsonDocument(command).toJson(QJsonDocument::Compact) + '\n');
    }

    // Reads events until `until` holds for one; false when the process ends first or says
    // nothing for `idleMs`.
    bool readUntil(const std::function<bool(const QJsonObject&)>& until, int idleMs = 60000) {
        QDeadlineTimer idle(idleMs);
        while (!idle.hasExpired()) {
            while (process.canReadLine()) {
                const QByteArray line = process.readLine();
                output += line;
                idle.setRemainingTime(idleMs);
                const QJsonObject event = QJsonDocument::fromJson(line).object();
                if (event.contains(QLatin1String("status"))) {
                    statuses.append(event[QLatin1String("status")].toString());
                }
                if (until(event)) {
                    return true;
                }
            }
            if (process.state() != QProcess::Running) {
                return false;
            }
            process.waitForReadyRead(200);
        }
        return false;
    }

    // True once the process has ended (reading its output may already have seen it end).
    bool ended(int timeoutMs) {
        return process.state() == QProcess::NotRunning || process.waitForFinished(timeoutMs);
    }

    bool waitDone(const QString& command, int idleMs = 60000) {
        return readUntil(
            [&](const QJsonObject& event) { return event[QLatin1String("done")] == command; },
            idleMs);
    }
};

} // namespace quillmere::test
