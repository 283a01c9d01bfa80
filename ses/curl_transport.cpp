#include "ses/curl_transport.h"

#include "ses/http_text.h"
#include "ses/transport_error.h"

#include <QPointer>
#include <QSocketNotifier>
#include <QTimer>

#include <coroutine>
#include <cstring>
#include <curl/curl.h>
#include <functional>
#include <mutex>
#include <unordered_map>

namespace quillmere {

namespace {

void initialiseCurlOnce() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

// One request on its way: owned by the sending coroutine, known to the engine while in flight.
struct Transfer {
    std::function<void(Transfer*)> forget; // takes it out of the engine if it ends early
    CURL* easy = curl_easy_init();
    curl_slist* headers = nullptr;
    QByteArray body;
    qsizetype offset = 0;
    bool bodyHandedOver = false; // curl has taken the last byte of the body
    HTTPResponse response;
    CURLcode result = CURLE_OK;
    bool done = false;
    bool aborted = false;
    std::coroutine_handle<> waiter;
    char error[CURL_ERROR_SIZE] = {};

    ~Transfer() {
        if (!done && forget) {
            forget(this);
        }
        curl_easy_cleanup(easy);
        curl_slist_free_all(headers);
    }
};

size_t readBody(char* buffer, size_t size, size_t count, void* user) {
    auto* t = static_cast<Transfer*>(user);
    const qsizetype n = std::min<qsizetype>(qsizetype(size * count), t->body.size() - t->offset);
    std::memcpy(buffer, t->body.constData() + t->offset, size_t(n));
    t->offset += n;
    if (t->offset == t->body.size()) {
        t->bodyHandedOver = true;
    }
    return size_t(n);
}

size_t writeBody(char* data, size_t size, size_t count, void* user) {
    static_cast<Transfer*>(user)->response.body.append(data, qsizetype(size * count));
    return size * count;
}

size_t readHeader(char* data, size_t size, size_t count, void* user) {
    auto* t = static_cast<Transfer*>(user);
    const QByteArray line = QByteArray(data, qsizetype(size * count)).trimmed();
    if (line.startsWith("HTTP/")) {
        t->response.headers.clear(); // an interim answer (100 Continue) came before this one
    } else if (const qsizetype colon = line.indexOf(':'); colon > 0) {
        const QString name = HTTPText::headerText(line.left(colon).trimmed());
        const QString value = HTTPText::headerText(line.mid(colon + 1).trimmed());
        QString& stored = t->response.headers[name];
        stored = stored.isEmpty() ? value : stored + QStringLiteral(", ") + value;
    }
    return size * count;
}

QNetworkReply::NetworkError networkError(CURLcode code) {
    switch (code) {
    case CURLE_COULDNT_CONNECT:
        return QNetworkReply::ConnectionRefusedError;
    case CURLE_COULDNT_RESOLVE_HOST:
        return QNetworkReply::HostNotFoundError;
    case CURLE_OPERATION_TIMEDOUT:
        return QNetworkReply::TimeoutError;
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_PEER_FAILED_VERIFICATION:
        return QNetworkReply::SslHandshakeFailedError;
    case CURLE_UNSUPPORTED_PROTOCOL:
    case CURLE_URL_MALFORMAT:
        return QNetworkReply::ProtocolUnknownError;
    case CURLE_SEND_ERROR:
    case CURLE_RECV_ERROR:
    case CURLE_GOT_NOTHING:
    case CURLE_PARTIAL_FILE:
    case CURLE_SEND_FAIL_REWIND:
    case CURLE_HTTP2:
    case CURLE_HTTP2_STREAM:
        return QNetworkReply::RemoteHostClosedError;
    default:
        return QNetworkReply::UnknownNetworkError;
    }
}

// Suspends the sending coroutine until the engine finishes its transfer.
struct AwaitTransfer {
    Transfer* transfer;
    bool await_ready() const noexcept { return transfer->done; }
    void await_suspend(std::coroutine_handle<> handle) noexcept { transfer->waiter = handle; }
    void await_resume() const noexcept {}
};

void finish(Transfer* t) {
    t->done = true;
    if (const std::coroutine_handle<> waiter = std::exchange(t->waiter, {})) {
        waiter.resume();
    }
}

} // namespace

// The multi handle and the socket notifiers and timer that drive it from the event loop.
struct CurlTransport::Engine {
    CURLM* multi = nullptr;
    QTimer timer;
    struct Watch {
        std::unique_ptr<QSocketNotifier> read;
        std::unique_ptr<QSocketNotifier> write;
    };
    std::unordered_map<curl_socket_t, Watch> watches;
    QList<Transfer*> inFlight;
    std::weak_ptr<Engine> self;

    Engine() {
        initialiseCurlOnce();
        multi = curl_multi_init();
        curl_multi_setopt(multi, CURLMOPT_SOCKETFUNCTION, &Engine::onSocket);
        curl_multi_setopt(multi, CURLMOPT_SOCKETDATA, this);
        curl_multi_setopt(multi, CURLMOPT_TIMERFUNCTION, &Engine::onTimer);
        curl_multi_setopt(multi, CURLMOPT_TIMERDATA, this);
        timer.setSingleShot(true);
        QObject::connect(&timer, &QTimer::timeout, [this] { act(CURL_SOCKET_TIMEOUT, 0); });
    }

    ~Engine() {
        timer.stop();
        watches.clear();
        curl_multi_cleanup(multi);
    }

    // Ends every request still in flight, waking its coroutine with a cancellation.
    void abortAll() {
        const QList<Transfer*> pending = std::exchange(inFlight, {});
        for (Transfer* t : pending) {
            curl_multi_remove_handle(multi, t->easy);
            t->aborted = true;
        }
        for (Transfer* t : pending) {
            finish(t);
        }
    }

    void start(Transfer* t) {
        inFlight.append(t);
        t->forget = [this](Transfer* gone) {
            if (inFlight.removeOne(gone)) {
                curl_multi_remove_handle(multi, gone->easy);
            }
        };
        curl_multi_add_handle(multi, t->easy);
    }

    static int onSocket(CURL*, curl_socket_t socket, int what, void* user, void*) {
        auto* engine = static_cast<Engine*>(user);
        if (what == CURL_POLL_REMOVE) {
            // Deleting a notifier inside its own signal is not safe: disable it, drop it later.
            if (auto found = engine->watches.find(socket); found != engine->watches.end()) {
                for (QSocketNotifier* n :
                     {found->second.read.release(), found->second.write.release()}) {
                    if (n) {
                        n->setEnabled(false);
                        n->deleteLater();
                    }
                }
                engine->watches.erase(found);
            }
            return 0;
        }
        Watch& watch = engine->watches[socket];
        const auto want = [engine, socket](std::unique_ptr<QSocketNotifier>& notifier,
                                           QSocketNotifier::Type type, bool on, int flag) {
            if (on && !notifier) {
                notifier = std::make_unique<QSocketNotifier>(qintptr(socket), type);
                QObject::connect(notifier.get(), &QSocketNotifier::activated,
                                 [engine, socket, flag] { engine->act(socket, flag); });
            }
            if (notifier) {
                notifier->setEnabled(on);
            }
        };
        want(watch.read, QSocketNotifier::Read, what & CURL_POLL_IN, CURL_CSELECT_IN);
        want(watch.write, QSocketNotifier::Write, what & CURL_POLL_OUT, CURL_CSELECT_OUT);
        return 0;
    }

    static int onTimer(CURLM*, long milliseconds, void* user) {
        auto* engine = static_cast<Engine*>(user);
        if (milliseconds < 0) {
            engine->timer.stop();
        } else {
            engine->timer.start(int(std::min<long>(milliseconds, 1 << 30)));
        }
        return 0;
    }

    void act(curl_socket_t socket, int flags) {
        // A woken coroutine may drop the last owner of this engine: keep it until done here.
        const std::shared_ptr<Engine> keep = self.lock();
        int running = 0;
        curl_multi_socket_action(multi, socket, flags, &running);
        QList<Transfer*> finished;
        int left = 0;
        while (CURLMsg* message = curl_multi_info_read(multi, &left)) {
            if (message->msg != CURLMSG_DONE) {
                continue;
            }
            char* data = nullptr;
            curl_easy_getinfo(message->easy_handle, CURLINFO_PRIVATE, &data);
            auto* t = reinterpret_cast<Transfer*>(data);
            t->result = message->data.result;
            finished.append(t);
        }
        for (Transfer* t : std::as_const(finished)) {
            curl_multi_remove_handle(multi, t->easy);
            inFlight.removeOne(t);
        }
        for (Transfer* t : std::as_const(finished)) {
            finish(t);
        }
    }
};

CurlTransport::CurlTransport(std::chrono::milliseconds timeout)
    : m_timeout(timeout)
    , m_engine(std::make_shared<Engine>()) {
    m_engine->self = m_engine;
}

CurlTransport::~CurlTransport() {
    m_engine->abortAll();
}

QCoro::Task<HTTPResponse> CurlTransport::send(HTTPRequest request) {
    if (!HTTPText::isToken(request.method)) {
        throw TransportError(QStringLiteral("Invalid HTTP method \"%1\"").arg(request.method),
                             QNetworkReply::ProtocolInvalidOperationError);
    }
    // Declared first, so that the engine outlives the transfer even when this object is gone.
    const std::shared_ptr<Engine> engine = m_engine;
    Transfer transfer;
    CURL* easy = transfer.easy;
    bool hasContentType = false;
    for (auto it = request.headers.cbegin(); it != request.headers.cend(); ++it) {
        if (!HTTPText::isToken(it.key()) || !HTTPText::isSafeHeaderValue(it.value())) {
            throw TransportError(QStringLiteral("Invalid HTTP header \"%1\"").arg(it.key()),
                                 QNetworkReply::ProtocolInvalidOperationError);
        }
        hasContentType |= it.key().compare(u"content-type", Qt::CaseInsensitive) == 0;
        const QByteArray line = it.key().toLatin1() + ": " + it.value().toUtf8();
        transfer.headers = curl_slist_append(transfer.headers, line.constData());
    }
    // What curl would add on its own: a form content type, and for large bodies a wait for
    // "100 Continue" that costs a second when the server does not answer it.
    transfer.headers = curl_slist_append(transfer.headers, "Expect:");
    if (!request.body.isEmpty() && !hasContentType) {
        transfer.headers = curl_slist_append(transfer.headers, "Content-Type:");
    }

    const QByteArray url = request.url.toEncoded();
    const QByteArray method = request.method.toLatin1();
    curl_easy_setopt(easy, CURLOPT_URL, url.constData());
    curl_easy_setopt(easy, CURLOPT_PRIVATE, reinterpret_cast<char*>(&transfer));
    curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, transfer.error);
    curl_easy_setopt(easy, CURLOPT_HTTPHEADER, transfer.headers);
    curl_easy_setopt(easy, CURLOPT_PROXY, "");
    curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(easy, CURLOPT_TCP_NODELAY, 1L);
    curl_easy_setopt(easy, CURLOPT_HTTP_VERSION, long(CURL_HTTP_VERSION_2TLS));
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    // Servers drop idle connections after a few seconds (Node after 5); reusing one just as it
    // closes fails a request that then cannot be told from one the server acted on.
    curl_easy_setopt(easy, CURLOPT_MAXAGE_CONN, 4L);
    const long seconds = std::max<long>(1, long((m_timeout.count() + 999) / 1000));
    curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, long(m_timeout.count()));
    curl_easy_setopt(easy, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(easy, CURLOPT_LOW_SPEED_TIME, seconds);
    curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, &readHeader);
    curl_easy_setopt(easy, CURLOPT_HEADERDATA, &transfer);
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &writeBody);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, &transfer);
    if (!request.body.isEmpty()) {
        // A read callback and no seek callback: curl can never rewind and send the body again.
        transfer.body = request.body;
        curl_easy_setopt(easy, CURLOPT_POST, 1L);
        curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE, curl_off_t(transfer.body.size()));
        curl_easy_setopt(easy, CURLOPT_READFUNCTION, &readBody);
        curl_easy_setopt(easy, CURLOPT_READDATA, &transfer);
        if (method != "POST") {
            curl_easy_setopt(easy, CURLOPT_CUSTOMREQUEST, method.constData());
        }
    } else if (method == "HEAD") {
        curl_easy_setopt(easy, CURLOPT_NOBODY, 1L);
    } else if (method != "GET") {
        curl_easy_setopt(easy, CURLOPT_CUSTOMREQUEST, method.constData());
    }

    engine->start(&transfer);
    co_await AwaitTransfer{&transfer};

    if (transfer.aborted) {
        throw TransportError(QStringLiteral("Operation canceled"),
                             QNetworkReply::OperationCanceledError, transfer.bodyHandedOver);
    }
    if (transfer.result != CURLE_OK) {
        curl_off_t pretransfer = 0;
        curl_easy_getinfo(easy, CURLINFO_PRETRANSFER_TIME_T, &pretransfer);
        const bool sent = request.body.isEmpty() ? pretransfer > 0 : transfer.bodyHandedOver;
        if (transfer.result == CURLE_OPERATION_TIMEDOUT) {
            throw TransportError(QStringLiteral("The request timed out."),
                                 QNetworkReply::TimeoutError, sent);
        }
        QString text = transfer.error[0] ? QString::fromUtf8(transfer.error)
                                         : QString::fromUtf8(curl_easy_strerror(transfer.result));
        long osError = 0;
        curl_easy_getinfo(easy, CURLINFO_OS_ERRNO, &osError);
        if (osError != 0) {
            text +=
                QStringLiteral(" (%1)").arg(QString::fromLocal8Bit(std::strerror(int(osError))));
        }
        throw TransportError(text, networkError(transfer.result), sent);
    }
    long status = 0;
    curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &status);
    HTTPResponse response = std::move(transfer.response);
    response.status = int(status);
    if (status == 0) {
        response.headers.clear();
    }
    co_return response;
}

} // namespace quillmere
