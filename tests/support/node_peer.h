#pragma once

#include "support/child_process.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStringList>

#include <stdexcept>

namespace quillmere::test {

// A node script from tests/support/ that prints one JSON line when it is ready and stops when
// its standard input closes.
class NodePeer {
public:
    NodePeer(const QString& script, const QStringList& arguments) {
        const QString node = qEnvironmentVariable("QUILLMERE_NODE", QStringLiteral("node"));
        // Its logs go to the test's own output, where a failure shows them.
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.setWorkingDirectory(QStringLiteral(QUILLMERE_SOURCE_DIR));
        dieWithTest(m_process);
        m_process.start(
            node, QStringList{QStringLiteral(QUILLMERE_SOURCE_DIR "/tests/support/") + script} +
                      arguments);
        if (!m_process.waitForStarted(10000)) {
            throw std::runtime_error("could not start node: " +
                                     m_process.errorString().toStdString());
        }
        while (!m_process.canReadLine()) {
            if (!m_process.waitForReadyRead(30000)) {
                throw std::runtime_error("node peer " + script.toStdString() + " did not start");
            }
        }
        m_ready = QJsonDocument::fromJson(m_process.readLine()).object();
    }

    // With `config` as its one argument, as compact JSON.
    NodePeer(const QString& script, const QJsonObject& config)
        : NodePeer(script, QStringList{QString::fromUtf8(
                               QJsonDocument(config).toJson(QJsonDocument::Compact))}) {}

    ~NodePeer() {
        m_process.closeWriteChannel();
        if (!m_process.waitForFinished(10000)) {
            m_process.kill();
            m_process.waitForFinished(5000);
        }
    }

    NodePeer(const NodePeer&) = delete;
    NodePeer& operator=(const NodePeer&) = delete;

    QString value(const QString& key) const { return m_ready.value(key).toString(); }

private:
    QProcess m_process;
    QJsonObject m_ready;
};

} // namespace quillmere::test
