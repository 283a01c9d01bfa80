// The production transport against an HTTP server on the loopback interface, run by the test.

#include "ses/network_transport.h"
#include "ses/transport_error.h"
#include "support/run_task.h"

#include <QElapsedTimer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

using namespace quillmere;
using namespace std::chrono_literals;

namespace {

// Records every request exactly as it arrived and answers each with the scripted bytes, or
// never answers when there are none.
class LoopbackServer : public QObject {
public:
    explicit LoopbackServer(QByteArray answer = {})
        : m_answer(std::move(answer)) {
        QVERIFY(m_server.listen(QHostAddress::LocalHost));
        connect(&m_server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* socket = m_server.nextPendingConnection()) {
                connect(socket, &QTcpSocket::readyRead, this, [this, socket] { read(socket); });
                connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            }
        });
    }

    QString url(const QString& path) const {
        return QStringLiteral("http://127.0.0.1:%1%2").arg(m_server.serverPort()).arg(path);
    }
    const QList<QByteArray>& requests() const { return m_requests; }

private:
    void read(QTcpSocket* socket) {
        QByteArray& buffer = m_buffers[socket];
        buffer += socket->readAll();
        const qsizetype headerEnd = buffer.indexOf("\r\n\r\n");
        if (headerEnd < 0) {
            return;
        }
        qsizetype length = 0;
        for (const QByteArray& line : buffer.left(headerEnd).split('\n')) {
            if (line.toLower().startsWith("content-length:")) {
                length = line.mid(15).trimmed().toLongLong();
            }
        }
        if (buffer.size() < headerEnd + 4 + length) {
            return;
        }
        m_requests.append(buffer);
        m_buffers.remove(socket);
        if (!m_answer.isEmpty()) {
            socket->write(m_answer);
            socket->disconnectFromHost();
        }
    }

    QTcpServer m_server;
    QByteArray m_answer;
    QHash<QTcpSocket*, QByteArray> m_buffers;
    QList<QByteArray> m_requests;
};

QByteArray answer(const QByteArray& statusLine, const QByteArray& headers, const QByteArray& body) {
    return "HTTP/1.1 " + statusLine + "\r\n" + headers +
           "Content-Length: " + QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n" +
           body;
}

QByteArray headerBlock(const QByteArray& raw) {
    return raw.left(raw.indexOf("\r\n\r\n") + 2);
}

} // namespace

class TestNetworkTransport : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void requestOnTheWire();
    void statusesPassThrough_data();
    void statusesPassThrough();
    void transportFailures();
    void nonHTTPAnswer();
};

void TestNetworkTransport::requestOnTheWire() {
    LoopbackServer server(answer("200 OK", "X-Amzn-ErrorType: none\r\n", "{}"));
    NetworkTransport transport;
    QCOMPARE(transport.timeout(), 60000ms);

    // An empty POST carries no body at all: no Content-Length, no chunked encoding.
    HTTPRequest post{QStringLiteral("POST"),
                     QUrl(server.url(QStringLiteral("/v2/email/x?a=1"))),
                     {{QStringLiteral("X-Mixed-CASE-Header"), QStringLiteral("Value  kept")},
                      {QStringLiteral("authorization"), QStringLiteral("AWS4-HMAC-SHA256 x")}},
                     {}};
    const HTTPResponse response = test::runTask(transport.send(post));
    QCOMPARE(response.status, 200);
    QCOMPARE(response.body, QByteArray("{}"));
    QCOMPARE(response.headerValue(QStringLiteral("x-amzn-errortype")), QStringLiteral("none"));
    QCOMPARE(response.headerValue(QStringLiteral("X-AMZN-ERRORTYPE")), QStringLiteral("none"));
    QVERIFY(!response.headerValue(QStringLiteral("x-absent")));

    QCOMPARE(server.requests().size(), 1);
    const QByteArray empty = server.requests()[0];
    QVERIFY2(empty.startsWith("POST /v2/email/x?a=1 HTTP/1.1\r\n"), empty.constData());
    QVERIFY(empty.endsWith("\r\n\r\n"));
    const QByteArray emptyHeaders = headerBlock(empty).toLower();
    QVERIFY2(!emptyHeaders.contains("content-length"), empty.constData());
    QVERIFY(!emptyHeaders.contains("transfer-encoding"));
    // Header names travel in the case the caller gave.
    QVERIFY(empty.contains("\r\nX-Mixed-CASE-Header: Value  kept\r\n"));
    QVERIFY(empty.contains("\r\nauthorization: AWS4-HMAC-SHA256 x\r\n"));

    // A body goes out byte for byte, with its length; the method is sent as given.
    const QByteArray body("\x00\x01 {\"k\":\"\xc3\xa9\"}", 12);
    HTTPRequest put{QStringLiteral("PUT"), QUrl(server.url(QStringLiteral("/b"))), {}, body};
    QCOMPARE(test::runTask(transport.send(put)).status, 200);
    const QByteArray withBody = server.requests()[1];
    QVERIFY(withBody.startsWith("PUT /b HTTP/1.1\r\n"));
    QVERIFY(headerBlock(withBody).contains("Content-Length: 12\r\n"));
    QVERIFY(withBody.endsWith("\r\n\r\n" + body));

    // A header that would smuggle a second one onto the wire is refused before sending.
    HTTPRequest smuggling{QStringLiteral("GET"),
                          QUrl(server.url(QStringLiteral("/"))),
                          {{QStringLiteral("X-Token"), QStringLiteral("a\r\nX-Evil: 1")}},
                          {}};
    QVERIFY_THROWS_EXCEPTION(TransportError, test::runTask(transport.send(smuggling)));
    HTTPRequest badMethod{QStringLiteral("GET /x"), QUrl(server.url(QStringLiteral("/"))), {}, {}};
    QVERIFY_THROWS_EXCEPTION(TransportError, test::runTask(transport.send(badMethod)));
    QCOMPARE(server.requests().size(), 2);

    // HEAD: the announced length of a body that never comes is not waited for.
    LoopbackServer headServer("HTTP/1.1 200 OK\r\nContent-Length: 5\r\nConnection: close\r\n\r\n");
    const HTTPResponse head = test::runTask(transport.send(
        {QStringLiteral("HEAD"), QUrl(headServer.url(QStringLiteral("/h"))), {}, {}}));
    QCOMPARE(head.status, 200);
    QVERIFY(head.body.isEmpty());
    QVERIFY(headServer.requests()[0].startsWith("HEAD /h HTTP/1.1\r\n"));
}

void TestNetworkTransport::statusesPassThrough_data() {
    QTest::addColumn<QByteArray>("statusLine");
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("extraHeaders");
    QTest::newRow("400") << QByteArray("400 Bad Request") << 400 << QByteArray();
    QTest::newRow("401") << QByteArray("401 Unauthorized") << 401
                         << QByteArray("WWW-Authenticate: Basic realm=\"x\"\r\n");
    QTest::newRow("403") << QByteArray("403 Forbidden") << 403 << QByteArray();
    QTest::newRow("404") << QByteArray("404 Not Found") << 404 << QByteArray();
    QTest::newRow("429") << QByteArray("429 Too Many Requests") << 429 << QByteArray();
    QTest::newRow("500") << QByteArray("500 Internal Server Error") << 500 << QByteArray();
    QTest::newRow("503") << QByteArray("503 Service Unavailable") << 503 << QByteArray();
    // A redirect is returned, not followed: signed headers never travel to another place.
    QTest::newRow("302") << QByteArray("302 Found") << 302
                         << QByteArray("Location: http://127.0.0.1:1/elsewhere\r\n");
}

void TestNetworkTransport::statusesPassThrough() {
    QFETCH(QByteArray, statusLine);
    QFETCH(int, status);
    QFETCH(QByteArray, extraHeaders);
    LoopbackServer server(answer(statusLine,
                                 extraHeaders + "x-amzn-ErrorType: Throttling:extra\r\n",
                                 "{\"message\":\"m\"}"));
    NetworkTransport transport;
    const HTTPResponse response = test::runTask(
        transport.send({QStringLiteral("GET"), QUrl(server.url(QStringLiteral("/"))), {}, {}}));
    QCOMPARE(response.status, status);
    QCOMPARE(response.body, QByteArray("{\"message\":\"m\"}"));
    QCOMPARE(response.headerValue(QStringLiteral("X-Amzn-ErrorType")),
             QStringLiteral("Throttling:extra"));
    QCOMPARE(server.requests().size(), 1);
}

void TestNetworkTransport::transportFailures() {
    // Connection refused: a port that was just free.
    quint16 closedPort = 0;
    {
        QTcpServer probe;
        QVERIFY(probe.listen(QHostAddress::LocalHost));
        closedPort = probe.serverPort();
    }
    NetworkTransport transport;
    const QUrl refusedURL(QStringLiteral("http://127.0.0.1:%1/").arg(closedPort));
    try {
        test::runTask(transport.send({QStringLiteral("GET"), refusedURL, {}, {}}));
        QFAIL("a refused connection must raise");
    } catch (const TransportError& error) {
        QCOMPARE(error.code(), QNetworkReply::ConnectionRefusedError);
        QVERIFY2(error.description().contains(QStringLiteral("refused")),
                 qPrintable(error.description()));
    }

    // A server that never answers: the injected time-out ends the wait.
    LoopbackServer silent;
    NetworkTransport impatient(300ms);
    QElapsedTimer clock;
    clock.start();
    try {
        test::runTask(impatient.send(
            {QStringLiteral("POST"), QUrl(silent.url(QStringLiteral("/"))), {}, "x"}));
        QFAIL("a silent server must time out");
    } catch (const TransportError& error) {
        // Qt reports its own transfer time-out as "Operation canceled"; we say what happened.
        QCOMPARE(error.code(), QNetworkReply::TimeoutError);
        QCOMPARE(error.description(), QStringLiteral("The request timed out."));
    }
    QVERIFY(clock.elapsed() < 30000);
    QCOMPARE(silent.requests().size(), 1);

    // A transport destroyed with a request in flight ends that request instead of leaving its
    // caller suspended for ever.
    auto doomed = std::make_unique<NetworkTransport>();
    QCoro::Task<HTTPResponse> pending =
        doomed->send({QStringLiteral("GET"), QUrl(silent.url(QStringLiteral("/"))), {}, {}});
    QTRY_COMPARE(silent.requests().size(), 2);
    doomed.reset();
    QVERIFY(pending.isReady());
    try {
        test::runTask(std::move(pending));
        QFAIL("an aborted request must raise");
    } catch (const TransportError& error) {
        QCOMPARE(error.code(), QNetworkReply::OperationCanceledError);
    }
}

void TestNetworkTransport::nonHTTPAnswer() {
    NetworkTransport transport;
    const HTTPResponse response = test::runTask(transport.send(
        {QStringLiteral("GET"), QUrl(QStringLiteral("data:text/plain,hello%20there")), {}, {}}));
    QCOMPARE(response.status, 0);
    QVERIFY(response.headers.isEmpty());
    QCOMPARE(response.body, QByteArray("hello there"));
}

QTEST_GUILESS_MAIN(TestNetworkTransport)
#include "tst_network_transport.moc"
