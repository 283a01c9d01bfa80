#include "core/keychain_store.h"

#include "core/keychain_error.h"

#include <QMutex>
#include <QPromise>
#include <QThreadPool>
#include <QTimer>
#include <qcoro/qcorofuture.h>

#include <atomic>
#include <libsecret/secret.h>

namespace quillmere {

namespace {

const SecretSchema* schema() {
    // QtKeychain's schema and attributes, so its items remain ours.
    static const SecretSchema qtKeychain = {
        "org.qt.keychain",
        SECRET_SCHEMA_DONT_MATCH_NAME,
        {
            {"user", SECRET_SCHEMA_ATTRIBUTE_STRING},
            {"server", SECRET_SCHEMA_ATTRIBUTE_STRING},
            {"type", SECRET_SCHEMA_ATTRIBUTE_STRING},
            {nullptr, SECRET_SCHEMA_ATTRIBUTE_STRING},
        },
        0,
        nullptr,
        nullptr,
        nullptr,
        nullptr,
        nullptr,
        nullptr,
        nullptr,
    };
    return &qtKeychain;
}

// One thread for every store: the keychain answers one prompt at a time anyway.
QThreadPool& keychainThread() {
    static QThreadPool* pool = [] {
        auto* p = new QThreadPool; // never destroyed: a call may still wait at exit
        p->setMaxThreadCount(1);
        p->setExpiryTimeout(-1);
        return p;
    }();
    return *pool;
}

// What a call on the keychain thread gives back.
struct Answer {
    bool failed = false;
    std::optional<QString> text;
};

// One call, shared by its caller and the keychain thread. The caller may give up on it (its
// CancelToken, or the time limit) at any moment: it then has its answer at once, an open prompt
// is dismissed, and the call does nothing more on the keychain thread.
//
// Prompts are run here rather than by libsecret: version 0.20 never finishes an unlock whose
// prompt was dismissed by anything but the writer (g_task_return_error with no error).
struct Call {
    QPromise<Answer> promise;
    std::atomic<bool> settled{false};
    std::atomic<bool> abandoned{false};
    QMutex mutex;
    GDBusConnection* bus = nullptr;  // under mutex, with the prompt now open
    QByteArray prompt;               // under mutex
    GMainContext* waiting = nullptr; // under mutex: where the prompt's answer is awaited
    GCancellable* connecting = g_cancellable_new(); // for reaching the bus, before any prompt

    ~Call() { g_object_unref(connecting); }

    void answer(Answer a) {
        if (!settled.exchange(true)) {
            promise.addResult(std::move(a));
            promise.finish();
        }
    }

    void abandon() {
        abandoned = true;
        g_cancellable_cancel(connecting);
        {
            QMutexLocker lock(&mutex);
            if (!prompt.isEmpty()) {
                g_dbus_connection_call(bus, "org.freedesktop.secrets", prompt.constData(),
                                       "org.freedesktop.Secret.Prompt", "Dismiss", nullptr, nullptr,
                                       G_DBUS_CALL_FLAGS_NO_AUTO_START, -1, nullptr, nullptr,
                                       nullptr);
            }
            if (waiting) {
                g_main_context_wakeup(waiting);
            }
        }
        answer({true, std::nullopt});
    }
};

// A client of its own for each call, so that nothing of a call given up on reaches the next.
SecretService* openService(Call& call, SecretServiceFlags flags) {
    GError* error = nullptr;
    SecretService* service =
        secret_service_open_sync(SECRET_TYPE_SERVICE, nullptr, flags, call.connecting, &error);
    g_clear_error(&error);
    return service;
}

// Shows the Secret Service prompt at `path` and waits for the writer's answer; giving up on the
// call dismisses it. Gives the prompt's result, or none when it was turned down.
GVariant* runPrompt(Call& call, GDBusConnection* bus, const char* path) {
    struct Outcome {
        bool done = false;
        GVariant* result = nullptr;
    } outcome;
    GMainContext* context = g_main_context_new();
    g_main_context_push_thread_default(context);
    const auto completed = +[](GDBusConnection*, const gchar*, const gchar*, const gchar*,
                               const gchar*, GVariant* parameters, gpointer data) {
        auto* out = static_cast<Outcome*>(data);
        gboolean dismissed = TRUE;
        GVariant* result = nullptr;
        if (g_variant_is_of_type(parameters, G_VARIANT_TYPE("(bv)"))) {
            g_variant_get(parameters, "(bv)", &dismissed, &result);
        }
        if (!dismissed) {
            out->result = result;
        } else if (result) {
            g_variant_unref(result);
        }
        out->done = true;
    };
    const guint subscription = g_dbus_connection_signal_subscribe(
        bus, nullptr, "org.freedesktop.Secret.Prompt", "Completed", path, nullptr,
        G_DBUS_SIGNAL_FLAGS_NONE, completed, &outcome, nullptr);
    {
        QMutexLocker lock(&call.mutex);
        call.bus = bus;
        call.prompt = path;
        call.waiting = context;
    }
    if (!call.abandoned) {
        GError* error = nullptr;
        GVariant* reply = g_dbus_connection_call_sync(
            bus, "org.freedesktop.secrets", path, "org.freedesktop.Secret.Prompt", "Prompt",
            g_variant_new("(s)", ""), nullptr, G_DBUS_CALL_FLAGS_NONE, -1, nullptr, &error);
        if (reply) {
            g_variant_unref(reply);
        }
        outcome.done = outcome.done || error;
        g_clear_error(&error);
        while (!outcome.done && !call.abandoned) {
            g_main_context_iteration(context, TRUE);
        }
    }
    {
        QMutexLocker lock(&call.mutex);
        call.prompt.clear();
        call.waiting = nullptr;
    }
    g_dbus_connection_signal_unsubscribe(bus, subscription);
    while (g_main_context_iteration(context, FALSE)) {
    }
    g_main_context_pop_thread_default(context);
    g_main_context_unref(context);
    return outcome.result;
}

// Unlocks the collection or item at `path`, through the unlock prompt when there is one.
bool unlock(Call& call, SecretService* service, const char* path) {
    GDBusConnection* bus = g_dbus_proxy_get_connection(G_DBUS_PROXY(service));
    GError* error = nullptr;
    const char* objects[] = {path, nullptr};
    GVariant* reply = g_dbus_connection_call_sync(
        bus, "org.freedesktop.secrets", "/org/freedesktop/secrets",
        "org.freedesktop.Secret.Service", "Unlock", g_variant_new("(^ao)", objects),
        G_VARIANT_TYPE("(aoo)"), G_DBUS_CALL_FLAGS_NONE, -1, nullptr, &error);
    if (!reply) {
        g_clear_error(&error);
        return false;
    }
    GVariant* unlocked = nullptr;
    const char* prompt = nullptr;
    g_variant_get(reply, "(@ao&o)", &unlocked, &prompt);
    bool done = g_variant_n_children(unlocked) > 0;
    if (!done && g_strcmp0(prompt, "/") != 0) {
        if (GVariant* result = runPrompt(call, bus, prompt)) {
            done = true;
            g_variant_unref(result);
        }
    }
    g_variant_unref(unlocked);
    g_variant_unref(reply);
    return done && !call.abandoned;
}

struct Attributes {
    QByteArray account;
    QByteArray service;

    GHashTable* build(bool withType = true) const {
        return withType ? secret_attributes_build(schema(), "user", account.constData(), "server",
                                                  service.constData(), "type", "plaintext", nullptr)
                        : secret_attributes_build(schema(), "user", account.constData(), "server",
                                                  service.constData(), nullptr);
    }
};

Answer readNow(Call& call, const Attributes& a) {
    SecretService* service = openService(call, SECRET_SERVICE_OPEN_SESSION);
    if (!service) {
        return {true, std::nullopt};
    }
    GError* error = nullptr;
    GHashTable* attributes = a.build();
    const auto search = [&] {
        return secret_service_search_sync(service, schema(), attributes, SECRET_SEARCH_LOAD_SECRETS,
                                          nullptr, &error);
    };
    GList* items = search();
    // A locked item shows the system's unlock prompt; turned down, it stays locked.
    if (items && secret_item_get_locked(static_cast<SecretItem*>(items->data))) {
        const char* path = g_dbus_proxy_get_object_path(G_DBUS_PROXY(items->data));
        if (unlock(call, service, path)) {
            g_list_free_full(items, g_object_unref);
            items = search();
        }
    }
    g_hash_table_unref(attributes);
    g_object_unref(service);
    Answer answer;
    if (error) {
        g_clear_error(&error);
        answer.failed = true;
    } else if (items) {
        auto* item = static_cast<SecretItem*>(items->data);
        SecretValue* value = secret_item_get_locked(item) ? nullptr : secret_item_get_secret(item);
        if (value) {
            answer.text = QString::fromUtf8(secret_value_get_text(value));
            secret_value_unref(value);
        } else {
            answer.failed = true; // there, but locked
        }
    }
    g_list_free_full(items, g_object_unref);
    return answer;
}

// The default keychain, made (the new-keyring prompt) or unlocked (the unlock prompt) when it
// has to be; none when it stays missing or locked.
SecretCollection* openDefaultCollection(Call& call, SecretService* service) {
    const auto open = [service] {
        GError* error = nullptr;
        SecretCollection* c = secret_collection_for_alias_sync(
            service, SECRET_COLLECTION_DEFAULT, SECRET_COLLECTION_NONE, nullptr, &error);
        g_clear_error(&error);
        return c;
    };
    SecretCollection* collection = open();
    if (!collection) {
        GDBusConnection* bus = g_dbus_proxy_get_connection(G_DBUS_PROXY(service));
        GVariantBuilder properties;
        g_variant_builder_init(&properties, G_VARIANT_TYPE("a{sv}"));
        g_variant_builder_add(&properties, "{sv}", "org.freedesktop.Secret.Collection.Label",
                              g_variant_new_string("Login"));
        GError* error = nullptr;
        GVariant* reply = g_dbus_connection_call_sync(
            bus, "org.freedesktop.secrets", "/org/freedesktop/secrets",
            "org.freedesktop.Secret.Service", "CreateCollection",
            g_variant_new("(a{sv}s)", &properties, SECRET_COLLECTION_DEFAULT),
            G_VARIANT_TYPE("(oo)"), G_DBUS_CALL_FLAGS_NONE, -1, nullptr, &error);
        g_clear_error(&error);
        if (reply) {
            const char* made = nullptr;
            const char* prompt = nullptr;
            g_variant_get(reply, "(&o&o)", &made, &prompt);
            // The new-keyring prompt asks for the new keyring's password.
            if (g_strcmp0(made, "/") == 0 && g_strcmp0(prompt, "/") != 0) {
                if (GVariant* result = runPrompt(call, bus, prompt)) {
                    g_variant_unref(result);
                }
            }
            g_variant_unref(reply);
            collection = open();
        }
    }
    if (collection && secret_collection_get_locked(collection)) {
        const bool unlocked =
            unlock(call, service, g_dbus_proxy_get_object_path(G_DBUS_PROXY(collection)));
        g_clear_object(&collection);
        if (unlocked) {
            collection = open(); // a fresh look: the old one still says locked
        }
    }
    return collection;
}

Answer writeNow(Call& call, const Attributes& a, const QByteArray& value) {
    SecretService* service = openService(call, SECRET_SERVICE_OPEN_SESSION);
    if (!service) {
        return {true, std::nullopt};
    }
    SecretCollection* collection = openDefaultCollection(call, service);
    bool stored = false;
    // A call given up on while the prompt was open stops here: nothing is written.
    if (collection && !call.abandoned) {
        GError* error = nullptr;
        const QByteArray label = a.service + '/' + a.account;
        GHashTable* attributes = a.build();
        SecretValue* secret = secret_value_new(value.constData(), value.size(), "text/plain");
        SecretItem* item =
            secret_item_create_sync(collection, schema(), attributes, label.constData(), secret,
                                    SECRET_ITEM_CREATE_REPLACE, nullptr, &error);
        stored = item != nullptr;
        g_clear_object(&item);
        secret_value_unref(secret);
        g_hash_table_unref(attributes);
        g_clear_error(&error);
    }
    g_clear_object(&collection);
    g_object_unref(service);
    return {!stored, std::nullopt};
}

Answer removeNow(Call& call, const Attributes& a) {
    SecretService* service = openService(call, SECRET_SERVICE_NONE);
    if (service) {
        GError* error = nullptr;
        GHashTable* attributes = a.build(false);
        secret_service_clear_sync(service, schema(), attributes, nullptr, &error);
        g_hash_table_unref(attributes);
        g_object_unref(service);
        g_clear_error(&error);
    }
    return {};
}

// Runs `work` on the keychain thread and gives its answer, or a failure as soon as the caller's
// token or the time limit gives up on it, whatever the keychain thread is still waiting for.
template <class Work>
QCoro::Task<Answer> onKeychainThread(Work work, std::shared_ptr<CancelToken> cancel,
                                     std::chrono::milliseconds limit) {
    auto call = std::make_shared<Call>();
    call->promise.start();
    QFuture<Answer> answered = call->promise.future();
    const int hook = cancel ? cancel->onCancel([call] { call->abandon(); }) : 0;
    QTimer timer;
    timer.setSingleShot(true);
    QObject::connect(&timer, &QTimer::timeout, [call] { call->abandon(); });
    timer.start(limit);
    auto job = [work = std::move(work), call] {
        if (call->abandoned) {
            return;
        }
        call->answer(work(*call));
    };
    QThreadPool& thread = keychainThread();
    thread.start(std::move(job));
    const Answer answer = co_await answered;
    if (cancel) {
        cancel->removeHook(hook);
    }
    co_return answer;
}

} // namespace

KeychainStore::KeychainStore(std::chrono::milliseconds limit, QString service)
    : m_service(std::move(service))
    , m_limit(limit) {}

QCoro::Task<std::optional<QString>> KeychainStore::read(QString account,
                                                        std::shared_ptr<CancelToken> cancel) {
    auto work = [a = Attributes{account.toUtf8(), m_service.toUtf8()}](Call& call) {
        return readNow(call, a);
    };
    auto call = onKeychainThread(std::move(work), std::move(cancel), m_limit);
    const Answer answer = co_await std::move(call);
    if (answer.failed) {
        throw KeychainError();
    }
    co_return answer.text;
}

QCoro::Task<void> KeychainStore::write(QString value, QString account,
                                       std::shared_ptr<CancelToken> cancel) {
    auto work = [a = Attributes{account.toUtf8(), m_service.toUtf8()},
                 bytes = value.toUtf8()](Call& call) { return writeNow(call, a, bytes); };
    auto call = onKeychainThread(std::move(work), std::move(cancel), m_limit);
    const Answer answer = co_await std::move(call);
    if (answer.failed) {
        throw KeychainError();
    }
}

QCoro::Task<void> KeychainStore::remove(QString account) {
    auto work = [a = Attributes{account.toUtf8(), m_service.toUtf8()}](Call& call) {
        return removeNow(call, a);
    };
    auto call = onKeychainThread(std::move(work), nullptr, m_limit);
    co_await std::move(call);
}

} // namespace quillmere
