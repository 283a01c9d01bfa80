// Sending throughput on this machine:
//   1. requests signed per second (a bodiless GetAccount and a SendEmail carrying a 30 KB
//      message), and the whole SES raw send path (JSON, Base64, signing) on an instant transport;
//   2. the bulk sender's achieved rate against its configured rate with instant deliveries,
//      real clock and real (precise QTimer) sleeps, and the CPU it used meanwhile.
// Run a Release build:  BUILD_DIR=build-release BUILD_TYPE=Release scripts/build
//                       build-release/bench/ses/bench_ses [--quick]

#include "ses/bulk_sender.h"
#include "ses/ses_client.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <qcoro/qcorotask.h>

#include <cstdio>
#include <sys/resource.h>

using namespace quillmere;

namespace {

double cpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto seconds = [](const timeval& t) {
        return double(t.tv_sec) + double(t.tv_usec) / 1e6;
    };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

QByteArray message(qsizetype size) {
    QByteArray raw = "From: Ada <ada@example.com>\r\nTo: reader@example.org\r\nSubject: x\r\n\r\n";
    while (raw.size() < size) {
        raw += "Lorem ipsum dolor sit amet, consectetur adipiscing elit, sed do eiusmod.\r\n";
    }
    return raw;
}

const AWSCredentials credentials{QStringLiteral("AKIDEXAMPLE"),
                                 QStringLiteral("wJalrXUtnFEMI/K7MDENG+bPxRfiCYEXAMPLEKEY"),
                                 std::nullopt};

void signing(int rounds) {
    const SigV4Signer signer(credentials, QStringLiteral("us-east-1"), QStringLiteral("ses"));
    const QDateTime date = QDateTime::currentDateTimeUtc();
    const HTTPRequest account{
        QStringLiteral("GET"),
        QUrl(QStringLiteral("https://email.us-east-1.amazonaws.com/v2/email/account")),
        {{QStringLiteral("Accept"), QStringLiteral("application/json")}},
        {}};
    HTTPRequest send = account;
    send.method = QStringLiteral("POST");
    send.url =
        QUrl(QStringLiteral("https://email.us-east-1.amazonaws.com/v2/email/outbound-emails"));
    send.headers.insert(QStringLiteral("Content-Type"), QStringLiteral("application/json"));
    send.body = message(30 * 1024).toBase64();

    for (const auto& [label, request] :
         {std::pair{"GetAccount, no body", &account},
          std::pair{"SendEmail, 40 KB body", &std::as_const(send)}}) {
        QElapsedTimer timer;
        timer.start();
        qsizetype check = 0;
        for (int i = 0; i < rounds; ++i) {
            check += signer.sign(*request, date).headers.size();
        }
        const double seconds = double(timer.nsecsElapsed()) / 1e9;
        std::printf("sign %-24s %9.0f requests/s  (%d in %.2f s)\n", label, rounds / seconds,
                    rounds, seconds);
        Q_ASSERT(check > 0);
    }
}

// Answers every request at once, so only the client's own work is measured.
class InstantTransport : public HTTPTransport {
public:
    QCoro::Task<HTTPResponse> send(HTTPRequest) override {
        co_return HTTPResponse{200, {}, QByteArrayLiteral(R"({"MessageId":"0100018e-bench"})")};
    }
};

QCoro::Task<int> sendRawPath(int rounds) {
    const SESClient client(credentials, QStringLiteral("us-east-1"),
                           std::make_shared<InstantTransport>());
    const QByteArray raw = message(30 * 1024);
    int ok = 0;
    for (int i = 0; i < rounds; ++i) {
        const QString id = co_await client.sendRaw(raw, QStringLiteral("ada@example.com"),
                                                   QStringLiteral("reader@example.org"));
        ok += !id.isEmpty();
    }
    co_return ok;
}

struct RateResult {
    double achieved = 0;
    double cpuShare = 0;
};

QCoro::Task<RateResult> bulkRate(double rate, int count) {
    QList<Subscriber> recipients;
    for (int i = 0; i < count; ++i) {
        Subscriber s;
        s.id = QUuid::createUuid();
        s.email = QStringLiteral("r%1@example.org").arg(i);
        recipients.append(s);
    }
    QList<std::chrono::steady_clock::time_point> times;
    times.reserve(count);
    BulkSender::Callbacks callbacks;
    callbacks.deliver = [&times](const Subscriber&) -> QCoro::Task<DeliveryResult> {
        times.append(std::chrono::steady_clock::now());
        co_return DeliveryResult::delivered();
    };
    callbacks.currentStats = [] { return CampaignStats{}; };

    BulkSender::Options options;
    options.ratePerSecond = rate;
    BulkSender sender(options);
    const double cpuBefore = cpuSeconds();
    const SendProgress result = co_await sender.run(recipients, std::move(callbacks));
    const double cpu = cpuSeconds() - cpuBefore;
    const double span = std::chrono::duration<double>(times.last() - times.first()).count();
    Q_ASSERT(result.sent == count);
    // N deliveries span N - 1 intervals; the first one goes out at once.
    co_return RateResult{double(count - 1) / span, cpu / span};
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const bool quick = app.arguments().contains(QStringLiteral("--quick"));

    signing(quick ? 2000 : 20000);
    {
        const int rounds = quick ? 1000 : 5000;
        QElapsedTimer timer;
        timer.start();
        const int ok = QCoro::waitFor(sendRawPath(rounds));
        const double seconds = double(timer.nsecsElapsed()) / 1e9;
        std::printf("SESClient.sendRaw, 30 KB message  %9.0f requests/s  (%d in %.2f s, "
                    "JSON + Base64 + signing)\n",
                    ok / seconds, ok, seconds);
    }

    for (const auto& [rate, count] :
         {std::pair{14.0, quick ? 300 : 2000}, std::pair{100.0, quick ? 1000 : 3000},
          std::pair{1000.0, quick ? 2000 : 5000}}) {
        const RateResult r = QCoro::waitFor(bulkRate(rate, count));
        std::printf("bulk sender at %6.0f/s, %d readers: achieved %8.2f/s = %.3f of configured, "
                    "CPU %.1f%% of one core\n",
                    rate, count, r.achieved, r.achieved / rate, r.cpuShare * 100);
        std::fflush(stdout);
    }
    return 0;
}
