#pragma once

// Starts the SES v2 emulator (npm aws-ses-v2-local) on a free loopback port for one test and
// stops it at the end, or when the test dies. Tests reach it through AWS_ENDPOINT_URL_SESV2, as the
// AWS SDKs do.

#include "ses/network_transport.h"
#include "support/child_process.h"
#include "support/run_task.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QMultiMap>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTcpServer>
#include <QUrl>

namespace quillmere::test {

class SESEmulator {
public:
    // `account` is the JSON GetAccount answers with (the emulator has none of its own).
    explicit SESEmulator(const QByteArray& account) {
        const QString script =
            QStringLiteral(QUILLMERE_SOURCE_DIR "/node_modules/aws-ses-v2-local/dist/cli.js");
        if (!QFile::exists(script)) {
            m_error = QStringLiteral("%1 is missing: run scripts/install-deps").arg(script);
            return;
        }
        for (int attempt = 0; attempt < 3 && !m_url.isValid(); ++attempt) {
            start(script, account);
        }
    }

    ~SESEmulator() { stop(); }

    SESEmulator(const SESEmulator&) = delete;
    SESEmulator& operator=(const SESEmulator&) = delete;

    bool isRunning() const { return m_url.isValid(); }
    const QString& error() const { return m_error; }
    // http://127.0.0.1:<port>, no trailing slash.
    const QUrl& url() const { return m_url; }
    qint64 processId() const { return m_process.processId(); }

    // The messages it holds with this subject: recipient to plain-text body, one per message.
    QMultiMap<QString, QString> stored(const QString& subject) const {
        NetworkTransport transport;
        const HTTPResponse store = runTask(transport.send(
            {QStringLiteral("GET"), QUrl(m_url.toString() + QStringLiteral("/store")), {}, {}}));
        QMultiMap<QString, QString> out;
        const QJsonArray emails = QJsonDocument::fromJson(store.body)["emails"].toArray();
        for (const QJsonValue& email : emails) {
            if (email["subject"].toString() == subject) {
                out.insert(email["destination"]["to"][0].toString(),
                           email["body"]["text"].toString());
            }
        }
        return out;
    }

private:
    static quint16 freePort() {
        QTcpServer probe;
        probe.listen(QHostAddress::LocalHost);
        return probe.serverPort();
    }

    void start(const QString& script, const QByteArray& account) {
        stop();
        const quint16 port = freePort();
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("AWS_SES_ACCOUNT"), QString::fromUtf8(account));
        environment.remove(QStringLiteral("SMTP_TRANSPORT")); // never relay anywhere
        m_process.setProcessEnvironment(environment);
        m_process.setProcessChannelMode(QProcess::MergedChannels);
        dieWithTest(m_process);
        m_process.start(QStringLiteral("node"),
                        {script, QStringLiteral("--host"), QStringLiteral("127.0.0.1"),
                         QStringLiteral("--port"), QString::number(port)});
        if (!m_process.waitForStarted(10000)) {
            m_error = QStringLiteral("cannot start node: ") + m_process.errorString();
            return;
        }
        // It prints "server running at ..." once it listens.
        QByteArray output;
        const QDeadlineTimer deadline(20000);
        while (!output.contains("server running") && !deadline.hasExpired() &&
               m_process.state() == QProcess::Running) {
            m_process.waitForReadyRead(int(qMax<qint64>(1, deadline.remainingTime())));
            output += m_process.readAll();
        }
        if (!output.contains("server running")) {
            m_error =
                QStringLiteral("the SES emulator did not start: ") + QString::fromUtf8(output);
            stop();
            return;
        }
        m_url = QUrl(QStringLiteral("http://127.0.0.1:%1").arg(port));
    }

    void stop() {
        m_url = QUrl();
        killGroup(m_process);
    }

    QProcess m_process;
    QUrl m_url;
    QString m_error;
};

} // namespace quillmere::test
