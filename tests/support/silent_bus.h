#pragma once

#include <QLocalServer>
#include <QTemporaryDir>

namespace quillmere::test {

// A D-Bus address whose socket takes connections and never answers: what a hung session bus
// or keyring looks like to a client. Nothing is ever accepted, so there is no process or
// thread to stop; the socket goes with the object.
class SilentBus {
public:
    SilentBus() { m_server.listen(m_dir.filePath(QStringLiteral("bus"))); }
    bool isListening() const { return m_server.isListening(); }
    QByteArray address() const { return "unix:path=" + m_server.fullServerName().toUtf8(); }

private:
    QTemporaryDir m_dir;
    QLocalServer m_server;
};

} // namespace quillmere::test
