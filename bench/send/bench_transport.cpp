// Which HTTP client the list send can trust, measured against the SES emulator behind the fault
// proxy (tests/support/fault_proxy.mjs), with real ~20 KB SES raw sends of the longest sample
// issue:
//   1. 40 sends, one at a time, while the proxy lets every fifth reach SES and then drops the
//      connection: how many messages SES stored, how many readers got two, what the client said;
//   2. 200 sends one after the other with no fault: the time each takes.
// For Qt Network as it is, Qt Network with a sequential upload that it cannot rewind, and
// libcurl (the transport the list send uses).
//   build-release/bench/send/bench_transport
#include "core/sample_data.h"
#include "render/reader_message.h"
#include "ses/curl_transport.h"
#include "ses/network_transport.h"
#include "ses/ses_client.h"
#include "ses/transport_error.h"
#include "support/node_peer.h"
#include "support/run_task.h"
#include "support/ses_account.h"
#include "support/ses_emulator.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <qcoro/qcoronetworkreply.h>

#include <cstdio>
#include <cstring>

using namespace quillmere;

namespace {

// A body Qt can read once only: with DoNotBufferUploadDataAttribute it cannot rewind it.
class OnceDevice : public QIODevice {
public:
    explicit OnceDevice(QByteArray data)
        : m_data(std::move(data)) {
        open(QIODevice::ReadOnly);
    }
    bool isSequential() const override { return true; }
    bool reset() override { return false; }
    bool seek(qint64) override { return false; }
    qint64 bytesAvailable() const override {
        return m_data.size() - m_at + QIODevice::bytesAvailable();
    }
    bool atEnd() const override { return m_at >= m_data.size(); }

protected:
    qint64 readData(char* out, qint64 max) override {
        const qint64 n = std::min<qint64>(max, m_data.size() - m_at);
        std::memcpy(out, m_data.constData() + m_at, size_t(n));
        m_at += n;
        return n;
    }
    qint64 writeData(const char*, qint64) override { return -1; }

private:
    QByteArray m_data;
    qint64 m_at = 0;
};

class SequentialQtTransport : public HTTPTransport {
public:
    QCoro::Task<HTTPResponse> send(HTTPRequest request) override {
        QNetworkRequest r(request.url);
        r.setAttribute(QNetworkRequest::DoNotBufferUploadDataAttribute, true);
        for (auto it = request.headers.cbegin(); it != request.headers.cend(); ++it) {
            r.setRawHeader(it.key().toLatin1(), it.value().toUtf8());
        }
        r.setHeader(QNetworkRequest::ContentLengthHeader, request.body.size());
        auto* device = new OnceDevice(request.body);
        QNetworkReply* reply = m_manager.sendCustomRequest(r, request.method.toLatin1(), device);
        device->setParent(reply);
        co_await reply;
        reply->deleteLater();
        const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
        if (!status.isValid()) {
            throw TransportError(reply->errorString(), reply->error(), true);
        }
        co_return HTTPResponse{status.toInt(), {}, reply->readAll()};
    }

private:
    QNetworkAccessManager m_manager;
};

HTTPResponse call(HTTPTransport& transport, const QString& method, const QString& url,
                  const QByteArray& body = {}) {
    return test::runTask(transport.send({method, QUrl(url), {}, body}));
}

QMap<QString, int> stored(HTTPTransport& http, const QString& ses, const QString& prefix) {
    QMap<QString, int> count;
    const QJsonArray emails =
        QJsonDocument::fromJson(call(http, QStringLiteral("GET"), ses + "/store").body)["emails"]
            .toArray();
    for (const QJsonValue& email : emails) {
        const QString to = email["destination"]["to"][0].toString();
        if (to.startsWith(prefix)) {
            ++count[to];
        }
    }
    return count;
}

void measure(const char* name, std::shared_ptr<HTTPTransport> transport, const QString& proxy,
             const QString& ses, HTTPTransport& control) {
    qputenv("AWS_ENDPOINT_URL_SESV2", proxy.toUtf8());
    const SESClient client(AWSCredentials{QStringLiteral("AKIDBENCH"), QStringLiteral("s"), {}},
                           QStringLiteral("us-east-1"), transport);
    const Library library = SampleData::library();
    const Newsletter& issue = library.newsletters[2];
    const ReaderMessage::Batch batch(issue, library.profile, QString(64, u'a'));
    const auto sendTo = [&](const QString& to) {
        Subscriber reader = ReaderMessage::previewReader(QDateTime::currentDateTimeUtc());
        reader.email = to;
        return test::runTask(
            client.sendRaw(batch.build(reader, QDateTime::currentDateTimeUtc(), {}),
                           library.profile.fromEmail, to));
    };

    call(control, QStringLiteral("PUT"), proxy + "/__faults",
         R"({"faults":[{"kind":"acceptThenDrop","every":5,"offset":4}]})");
    const QString tag = QString::fromLatin1(name).toLower().remove(u' ').remove(u',');
    const QString prefix = tag + QStringLiteral("-drop-");
    int accepted = 0;
    int errors = 0;
    int requestSent = 0;
    for (int i = 0; i < 40; ++i) {
        try {
            sendTo(QStringLiteral("%1%2@bench.example").arg(prefix).arg(i));
            ++accepted;
        } catch (const TransportError& error) {
            ++errors;
            requestSent += error.requestSent() ? 1 : 0;
        } catch (const std::exception&) {
            ++errors;
        }
    }
    const QMap<QString, int> dropped = stored(control, ses, prefix);
    int messages = 0;
    int twice = 0;
    for (int n : dropped) {
        messages += n;
        twice += n > 1 ? 1 : 0;
    }
    const QJsonObject stats =
        QJsonDocument::fromJson(call(control, QStringLiteral("GET"), proxy + "/__stats").body)
            .object();
    std::printf("%-22s accept-then-drop every 5th of 40: client counted %d sent, %d failed "
                "(%d after the request went out); proxy saw %d requests; SES stored %d "
                "messages, %d readers twice\n",
                name, accepted, errors, requestSent, stats["matching"].toInt(), messages, twice);

    call(control, QStringLiteral("PUT"), proxy + "/__faults", "{}");
    QElapsedTimer clock;
    clock.start();
    const int sends = 200;
    for (int i = 0; i < sends; ++i) {
        sendTo(QStringLiteral("%1-pace-%2@bench.example").arg(tag).arg(i));
    }
    const double each = double(clock.elapsed()) / sends;
    std::printf("%-22s %d sends one at a time: %.1f ms each, at most %.0f per second\n", name,
                sends, each, 1000.0 / each);
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    test::SESEmulator ses(test::sesAccountJSON(true, 100, 1000000, 0));
    if (!ses.isRunning()) {
        std::printf("%s\n", qPrintable(ses.error()));
        return 1;
    }
    test::NodePeer proxy(QStringLiteral("fault_proxy.mjs"), {ses.url().toString()});
    const QString proxyURL = proxy.value(QStringLiteral("url"));
    NetworkTransport control;
    measure("Qt Network", std::make_shared<NetworkTransport>(), proxyURL, ses.url().toString(),
            control);
    measure("Qt, sequential body", std::make_shared<SequentialQtTransport>(), proxyURL,
            ses.url().toString(), control);
    measure("libcurl", std::make_shared<CurlTransport>(), proxyURL, ses.url().toString(), control);
    return 0;
}
