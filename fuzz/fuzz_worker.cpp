// The worker client's reading of whatever a worker (or anything posing as one) answers.
//
// Input: one byte choosing the call, two bytes of HTTP status, then the body. The call runs over a
// scripted transport that answers with that status and body. Every call either gives a value or
// fails with WorkerClientError (health never fails); no other exception escapes. Pulled records
// are usable as they come: a trimmed lower-case address that is not empty, a valid id, valid
// UTC dates; and each one written back to the wire reads back the same. The same body is also
// fed to the static decoders, as one subscriber object and as one date value.

#include "core/iso_date.h"
#include "support/scripted_transport.h"
#include "worker/worker_client.h"
#include "worker/worker_client_error.h"

#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

using namespace quillmere;

namespace {

[[noreturn]] void fail(const char* what) {
    std::fprintf(stderr, "worker client: %s\n", what);
    std::abort();
}

const QDateTime fixedNow = QDateTime::fromMSecsSinceEpoch(1741944413000, Qt::UTC);

// The scripted transport answers at once, so the whole call has run when the task is made. The
// outcome is read by a coroutine that awaits it (ready immediately, no event loop needed).
template <class T>
struct Outcome {
    std::optional<T> value;
    std::optional<WorkerClientError> error;
    bool done = false;
};

template <class T>
QCoro::Task<void> collect(QCoro::Task<T> task, Outcome<T>& out) {
    try {
        out.value.emplace(co_await task);
    } catch (const WorkerClientError& error) {
        out.error.emplace(error);
    }
    out.done = true;
}

QCoro::Task<void> collectVoid(QCoro::Task<> task, Outcome<bool>& out) {
    try {
        co_await task;
        out.value.emplace(true);
    } catch (const WorkerClientError& error) {
        out.error.emplace(error);
    }
    out.done = true;
}

void checkSubscriber(const Subscriber& s) {
    if (s.email.isEmpty() || s.email != s.email.trimmed() || s.email != s.email.toLower()) {
        fail("pulled address not normalised");
    }
    if (!s.createdAt.isValid() || !s.updatedAt.isValid() || s.createdAt.timeSpec() != Qt::UTC ||
        s.updatedAt.timeSpec() != Qt::UTC) {
        fail("pulled dates");
    }
    // Written back as the wire form, it reads back as itself (the wire holds whole seconds).
    const auto once = WorkerClient::subscriberFromWire(WorkerClient::wireObject(s), fixedNow);
    if (!once) {
        fail("our own wire object is refused");
    }
    const auto twice = WorkerClient::subscriberFromWire(WorkerClient::wireObject(*once), fixedNow);
    if (!twice || !(*twice == *once)) {
        fail("wire round trip");
    }
    if (once->id != s.id || once->email != s.email || once->status != s.status ||
        once->name != s.name || once->source != s.source) {
        fail("wire round trip loses a field");
    }
}

void checkError(const WorkerClientError& error, int status) {
    const bool success = status >= 200 && status <= 299;
    if (error.kind() == WorkerClientError::Kind::http && (success || error.status() != status)) {
        fail("http error for the wrong status");
    }
    if (error.kind() == WorkerClientError::Kind::decoding && !success) {
        fail("decoding error for a failed answer");
    }
    if (error.description().isEmpty()) {
        fail("an error without words");
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    static QCoreApplication application(*argc, *argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 3) {
        return 0;
    }
    const int call = data[0] % 4;
    const int status = (data[1] << 8 | data[2]) % 1000;
    const QByteArray body(reinterpret_cast<const char*>(data + 3), qsizetype(size - 3));

    auto transport = std::make_shared<test::ScriptedTransport>();
    transport->enqueue(status, body);
    const WorkerClient client(QUrl(QStringLiteral("https://postwick.writer.workers.dev")),
                              QStringLiteral("token"), transport);
    const bool success = status >= 200 && status <= 299;

    if (call == 0) {
        Outcome<QList<Subscriber>> out;
        auto reading = collect(client.fetchSubscribers(fixedNow), out);
        if (!out.done) {
            fail("fetch did not finish at once");
        }
        if (out.error) {
            checkError(*out.error, status);
        } else {
            if (!success) {
                fail("a failed answer gave subscribers");
            }
            for (const Subscriber& s : *out.value) {
                checkSubscriber(s);
            }
        }
    } else if (call == 1) {
        Subscriber one;
        one.id = QUuid(0x5a3d0000, 0, 0x4000, 0x80, 0, 0, 0, 0, 0, 0, 7);
        one.email = QStringLiteral("a@b.co");
        Outcome<qint64> out;
        auto pushing = collect(client.upsertSubscribers({one}), out);
        if (!out.done) {
            fail("upsert did not finish at once");
        }
        if (out.error) {
            checkError(*out.error, status);
        } else if (!success) {
            fail("a failed answer counted upserts");
        }
    } else if (call == 2) {
        Outcome<bool> out;
        auto checking = collect(client.health(), out);
        if (!out.done || out.error) {
            fail("health failed instead of answering false");
        }
        const QJsonObject object = QJsonDocument::fromJson(body).object();
        if (*out.value && (!success || object.value(QLatin1String("ok")) != QJsonValue(true))) {
            fail("healthy on a bad answer");
        }
    } else {
        Outcome<bool> out;
        auto publishing =
            collectVoid(client.publishIssue(QStringLiteral("issue-5a3d00"), QStringLiteral("S"),
                                            QStringLiteral("<p>x</p>"), fixedNow),
                        out);
        if (!out.done) {
            fail("publish did not finish at once");
        }
        if (out.error) {
            checkError(*out.error, status);
        } else if (!success) {
            fail("a failed answer published");
        }
    }
    if (transport->requests().size() != 1) {
        fail("one call, one request");
    }

    // The static decoders on the same bytes.
    const QJsonDocument document = QJsonDocument::fromJson(body);
    if (document.isObject()) {
        if (const auto s = WorkerClient::subscriberFromWire(document.object(), fixedNow)) {
            checkSubscriber(*s);
        }
    }
    const QJsonDocument wrapped = QJsonDocument::fromJson("[" + body + "]");
    if (wrapped.isArray() && wrapped.array().size() == 1) {
        if (const auto date = WorkerClient::readWorkerDate(wrapped.array().first())) {
            if (!date->isValid() || date->timeSpec() != Qt::UTC) {
                fail("worker date");
            }
            // The wire holds the second the instant falls in (rounded down, also before 1970).
            const qint64 ms = IsoDate::writable(*date).toMSecsSinceEpoch();
            const qint64 second = ms / 1000 - (ms % 1000 < 0 ? 1 : 0);
            const auto again = WorkerClient::readWorkerDate(WorkerClient::wireDate(*date));
            if (!again || again->toMSecsSinceEpoch() != second * 1000) {
                fail("worker date round trip");
            }
        }
    }
    return 0;
}
