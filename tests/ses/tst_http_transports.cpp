// Both production transports (Qt Network for the services, libcurl for sending mail) against an
// HTTP server on the loopback interface, run by the test: each case runs on both.

#include "ses/curl_transport.h"
#include "ses/network_transport.h"
#include "ses/transport_error.h"
#include "support/run_task.h"

#include <QElapsedTimer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

using namespace quillmere;
using namespace Qt::StringLiterals;
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
        return u"http://127.0.0.1:%1%2"_s.arg(m_server.serverPort()).arg(path);
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

using Factory = std::function<std::unique_ptr<HTTPTransport>(std::chrono::milliseconds)>;

template <class T>
std::unique_ptr<HTTPTransport> create(std::chrono::milliseconds timeout) {
    return std::make_unique<T>(timeout);
}

void bothTransports() {
    QTest::addColumn<Factory>("make");
    QTest::newRow("Qt Network") << Factory(create<NetworkTransport>);
    QTest::newRow("libcurl") << Factory(create<CurlTransport>);
}

} // namespace

class TestHTTPTransports : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void requestOnTheWire_data() { bothTransports(); }
    void requestOnTheWire();
    void statusesPassThrough_data() { bothTransports(); }
    void statusesPassThrough();
    void transportFailures_data() { bothTransports(); }
    void transportFailures();
};

void TestHTTPTransports::requestOnTheWire() {
    QFETCH(Factory, make);
    LoopbackServer server(answer("200 OK", "X-Amzn-ErrorType: none\r\n", "{}"));
    const std::unique_ptr<HTTPTransport> transport = make(60000ms);

    // An empty POST carries no body at all: no Content-Length, no chunked encoding.
    HTTPRequest post{u"POST"_s,
                     QUrl(server.url(u"/v2/email/x?a=1"_s)),
                     {{u"X-Mixed-CASE-Header"_s, u"Value  kept"_s},
                      {u"authorization"_s, u"AWS4-HMAC-SHA256 x"_s}},
                     {}};
    const HTTPResponse response = test::runTask(transport->send(post));
    QCOMPARE(response.status, 200);
    QCOMPARE(response.body, QByteArray("{}"));
    QCOMPARE(response.headerValue(u"X-AMZN-ERRORTYPE"_s), u"none"_s);
    QVERIFY(!response.headerValue(u"x-absent"_s));

    QCOMPARE(server.requests().size(), 1);
    const QByteArray empty = server.requests()[0];
    QVERIFY2(empty.startsWith("POST /v2/email/x?a=1 HTTP/1.1\r\n"), empty.constData());
    const QByteArray emptyHeaders = empty.left(empty.indexOf("\r\n\r\n") + 2).toLower();
    QVERIFY2(!emptyHeaders.contains("content-length"), empty.constData());
    QVERIFY(!emptyHeaders.contains("transfer-encoding"));
    // Header names travel in the case the caller gave.
    QVERIFY(empty.contains("\r\nX-Mixed-CASE-Header: Value  kept\r\n"));
    QVERIFY(empty.contains("\r\nauthorization: AWS4-HMAC-SHA256 x\r\n"));

    // A header that would smuggle a second one onto the wire is refused before sending.
    HTTPRequest smuggling{
        u"GET"_s, QUrl(server.url(u"/"_s)), {{u"X-Token"_s, u"a\r\nX-Evil: 1"_s}}, {}};
    QVERIFY_THROWS_EXCEPTION(TransportError, test::runTask(transport->send(smuggling)));
    HTTPRequest badMethod{u"GET /x"_s, QUrl(server.url(u"/"_s)), {}, {}};
    QVERIFY_THROWS_EXCEPTION(TransportError, test::runTask(transport->send(badMethod)));
    QCOMPARE(server.requests().size(), 1);

    // HEAD: the announced length of a body that never comes is not waited for.
    LoopbackServer headServer("HTTP/1.1 200 OK\r\nContent-Length: 5\r\nConnection: close\r\n\r\n");
    const HTTPResponse head =
        test::runTask(transport->send({u"HEAD"_s, QUrl(headServer.url(u"/h"_s)), {}, {}}));
    QCOMPARE(head.status, 200);
    QVERIFY(head.body.isEmpty());
    QVERIFY(headServer.requests()[0].startsWith("HEAD /h HTTP/1.1\r\n"));
}

void TestHTTPTransports::statusesPassThrough() {
    QFETCH(Factory, make);
    // A redirect is returned, not followed: signed headers never travel to another place.
    const std::tuple<QByteArray, int, QByteArray> rows[] = {
        {"401 Unauthorized", 401, "WWW-Authenticate: Basic realm=\"x\"\r\n"},
        {"302 Found", 302, "Location: http://127.0.0.1:1/elsewhere\r\n"}};
    for (const auto& [statusLine, status, extraHeaders] : rows) {
        LoopbackServer server(answer(statusLine,
                                     extraHeaders + "x-amzn-ErrorType: Throttling:extra\r\n",
                                     "{\"message\":\"m\"}"));
        const HTTPResponse response =
            test::runTask(make(60000ms)->send({u"GET"_s, QUrl(server.url(u"/"_s)), {}, {}}));
        QCOMPARE(response.status, status);
        QCOMPARE(response.body, QByteArray("{\"message\":\"m\"}"));
        QCOMPARE(response.headerValue(u"X-Amzn-ErrorType"_s), u"Throttling:extra"_s);
    }
}

void TestHTTPTransports::transportFailures() {
    QFETCH(Factory, make);
    // Connection refused: a port that was just free (the server is gone at the semicolon).
    const QUrl refusedURL(LoopbackServer().url(u"/"_s));
    try {
        test::runTask(make(60000ms)->send({u"POST"_s, refusedURL, {}, "x"}));
        QFAIL("a refused connection must raise");
    } catch (const TransportError& error) {
        QCOMPARE(error.code(), QNetworkReply::ConnectionRefusedError);
        QVERIFY2(error.description().contains(u"refused"_s, Qt::CaseInsensitive),
                 qPrintable(error.description()));
        QVERIFY(!error.requestSent()); // nothing left: safe to try again
    }

    // A server that never answers: the injected time-out ends the wait.
    LoopbackServer silent;
    const std::unique_ptr<HTTPTransport> impatient = make(300ms);
    QElapsedTimer clock;
    clock.start();
    try {
        test::runTask(impatient->send({u"POST"_s, QUrl(silent.url(u"/"_s)), {}, "x"}));
        QFAIL("a silent server must time out");
    } catch (const TransportError& error) {
        // Qt reports its own transfer time-out as "Operation canceled"; we say what happened.
        QCOMPARE(error.code(), QNetworkReply::TimeoutError);
        QCOMPARE(error.description(), u"The request timed out."_s);
        QVERIFY(error.requestSent()); // it arrived and may have been acted on
    }
    QVERIFY(clock.elapsed() < 30000);
    QCOMPARE(silent.requests().size(), 1);

    // A transport destroyed with a request in flight ends that request instead of leaving its
    // caller suspended for ever.
    std::unique_ptr<HTTPTransport> doomed = make(60000ms);
    QCoro::Task<HTTPResponse> pending = doomed->send({u"GET"_s, QUrl(silent.url(u"/"_s)), {}, {}});
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

QTEST_GUILESS_MAIN(TestHTTPTransports)
#include "tst_http_transports.moc"
