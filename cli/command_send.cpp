// quillmere-cli send: the app's whole-list send without a window, for scripts and timers. The
// same AppModel does the work (journal, bounce guard, worker pulls, publishing), so a send from
// here and one from the app behave alike and can take over from each other.
#include "app/app_model.h"
#include "app/send_plan.h"
#include "cli/cli_command.h"
#include "core/keychain_store.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPointer>
#include <QSocketNotifier>
#include <QTemporaryDir>
#include <qcoro/qcorosignal.h>

#include <cmath>
#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace quillmere::cli {

namespace {

constexpr int exitSentWithFailures = 3;
constexpr int exitNotSent = 4;

// The credential store with some entries given on the command line instead.
class OverlayCredentials : public CredentialStore {
public:
    OverlayCredentials(std::shared_ptr<CredentialStore> below, QHash<QString, QString> given)
        : m_below(std::move(below))
        , m_given(std::move(given)) {}
    QCoro::Task<std::optional<QString>> read(QString account,
                                             std::shared_ptr<CancelToken> cancel) override {
        if (const auto found = m_given.constFind(account); found != m_given.cend()) {
            co_return *found;
        }
        co_return co_await m_below->read(std::move(account), std::move(cancel));
    }
    QCoro::Task<void> write(QString value, QString account,
                            std::shared_ptr<CancelToken> cancel) override {
        return m_below->write(std::move(value), std::move(account), std::move(cancel));
    }
    QCoro::Task<void> remove(QString account) override {
        return m_below->remove(std::move(account));
    }

private:
    std::shared_ptr<CredentialStore> m_below;
    QHash<QString, QString> m_given;
};

int signalPipe[2] = {-1, -1};

void onSignal(int) {
    const char byte = 1;
    [[maybe_unused]] const auto written = ::write(signalPipe[0], &byte, 1);
}

// SIGTERM and SIGINT call `stop` on the event loop (once each time they arrive).
void onTermination(QObject* context, std::function<void()> stop) {
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, signalPipe) != 0) {
        return;
    }
    auto* notifier = new QSocketNotifier(signalPipe[1], QSocketNotifier::Read, context);
    QObject::connect(notifier, &QSocketNotifier::activated, context, [stop] {
        char byte;
        [[maybe_unused]] const auto read = ::read(signalPipe[1], &byte, 1);
        stop();
    });
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signal : {SIGTERM, SIGINT}) {
        ::sigaction(signal, &action, nullptr);
    }
}

struct Outcome {
    QString state;
    qint64 delivered = 0;
    qint64 failed = 0;
    qint64 uncertain = 0;
};

QCoro::Task<Outcome> send(AppModel& model, QUuid issueID, std::optional<double> rate,
                          qint64& skipped) {
    QPointer<AppModel> self(&model);
    co_await model.start();
    co_await model.refreshSES(); // the rate (80 % of the account's) and the quota
    if (const auto& error = model.sesError()) {
        writeErr(
            QStringLiteral("quillmere-cli send: Amazon SES account not read: %1\n").arg(*error));
    }
    const Newsletter* issue = model.library().issue(issueID);
    if (!issue) {
        throw UsageError(QStringLiteral("the issue is no longer in the library"));
    }
    for (const Subscriber& s : model.library().subscribers) {
        if (isSendable(s.status) &&
            (issue->deliveredIDs.contains(s.id) || issue->failedIDs.contains(s.id) ||
             issue->uncertainIDs.contains(s.id))) {
            ++skipped;
        }
    }
    const SendPlan plan = model.sendPlan(*issue);
    QObject watcher; // the connections below end with this coroutine
    QObject::connect(&model, &AppModel::statusMessageChanged, &watcher, [&model] {
        if (const auto& text = model.statusMessage()) {
            writeErr(QStringLiteral("quillmere-cli send: %1\n").arg(*text));
        }
    });
    co_await model.sendToList(*issue, false, rate);
    if (!self) {
        throw UsageError(QStringLiteral("the send was abandoned"));
    }
    if (!model.listSend() || !model.listSend()->isRunning()) {
        const Newsletter* after = model.library().issue(issueID);
        co_return Outcome{after && after->status == CampaignStatus::sent
                              ? QStringLiteral("sent")
                              : QStringLiteral("failed")};
    }
    writeErr(QStringLiteral("quillmere-cli send: \"%1\" to %2 readers at %3 per second. %4\n")
                 .arg(issue->subject, groupedNumber(plan.recipients),
                      QString::number(rate.value_or(model.sendRate()), 'g', 4),
                      plan.durationText()));

    // A halt or a pause the sender made itself needs a person: end the run, keep it resumable.
    bool halted = false;
    QElapsedTimer lastReport;
    lastReport.start();
    QObject::connect(&model, &AppModel::sendSessionChanged, &watcher, [&] {
        const std::optional<SendSession>& session = model.sendSession();
        if (!session) {
            return;
        }
        if (session->isPaused && !session->isFinished) {
            halted = halted || session->isHalted;
            writeErr(QStringLiteral("quillmere-cli send: %1\n").arg(session->state));
            QMetaObject::invokeMethod(
                &watcher, [&model] { model.cancelSend(); }, Qt::QueuedConnection);
        } else if (lastReport.elapsed() >= 1000 || session->isFinished) {
            lastReport.restart();
            writeErr(
                QStringLiteral("quillmere-cli send: %1 of %2 sent · %3 failed · %4 uncertain\n")
                    .arg(groupedNumber(session->sent), groupedNumber(session->total),
                         groupedNumber(session->failed), groupedNumber(session->uncertain)));
        }
    });
    onTermination(&watcher, [&model] { model.cancelSend(); });
    co_await qCoro(&model, &AppModel::sendEnded);
    if (!self) {
        co_return Outcome{QStringLiteral("failed")};
    }
    model.flushPendingSave();
    const SendSession session = model.sendSession().value_or(SendSession{});
    const Newsletter* after = model.library().issue(issueID);
    QString state = QStringLiteral("paused");
    if (after && after->status == CampaignStatus::sent) {
        state = QStringLiteral("sent");
    } else if (after && after->status == CampaignStatus::failed) {
        state = QStringLiteral("failed");
    } else if (halted) {
        state = QStringLiteral("halted");
    }
    co_return Outcome{state, session.sent, session.failed, session.uncertain};
}

} // namespace

int runSend(const QStringList& arguments) {
    Arguments args(arguments);
    const QString libraryPath = args.required(QStringLiteral("library"));
    const QString issueText = args.required(QStringLiteral("issue"));
    const std::optional<QString> rateText = args.option(QStringLiteral("rate"));
    const std::optional<QString> secret = args.option(QStringLiteral("secret"));
    const QStringList rest = args.positional();
    if (!rest.isEmpty()) {
        throw UsageError(QStringLiteral("unexpected argument %1").arg(rest.first()));
    }
    std::optional<double> rate;
    if (rateText) {
        bool ok = false;
        rate = rateText->toDouble(&ok);
        if (!ok || !std::isfinite(*rate) || *rate <= 0) {
            throw UsageError(
                QStringLiteral("--rate must be a number of messages per second above 0, not \"%1\"")
                    .arg(*rateText));
        }
    }
    const QString accessKey = qEnvironmentVariable("AWS_ACCESS_KEY_ID");
    const QString secretKey = qEnvironmentVariable("AWS_SECRET_ACCESS_KEY");
    if (accessKey.isEmpty() || secretKey.isEmpty()) {
        throw UsageError(QStringLiteral("set AWS_ACCESS_KEY_ID and AWS_SECRET_ACCESS_KEY"));
    }
    const QString sessionToken = qEnvironmentVariable("AWS_SESSION_TOKEN");
    const Library library = readLibrary(libraryPath); // nothing is written when this fails
    const QUuid issueID = findIssue(library, issueText).id;

    QHash<QString, QString> given;
    if (secret) {
        given.insert(CredentialStore::Key::workerSigningSecret, *secret);
    }
    auto credentials =
        std::make_shared<OverlayCredentials>(std::make_shared<KeychainStore>(), given);
    if (!secret && QCoro::waitFor(credentials->read(CredentialStore::Key::workerSigningSecret,
                                                    std::make_shared<CancelToken>()))
                       .value_or(QString())
                       .isEmpty()) {
        throw UsageError(QStringLiteral("no link-signing secret in the credential store: give "
                                        "--secret (the worker's SIGNING_SECRET)"));
    }
    QTemporaryDir scratch;
    AppModel::Dependencies d;
    d.store = std::make_shared<LibraryStore>(libraryPath);
    d.credentials = credentials;
    d.settings = std::make_shared<QSettings>(scratch.filePath(QStringLiteral("settings.ini")),
                                             QSettings::IniFormat);
    d.arguments = QStringList{QStringLiteral("quillmere-cli")};
    d.awsCredentials = AWSCredentials{
        accessKey, secretKey,
        sessionToken.isEmpty() ? std::nullopt : std::optional<QString>(sessionToken)};
    AppModel model(std::move(d));

    QElapsedTimer clock;
    clock.start();
    qint64 skipped = 0;
    std::optional<Outcome> outcome;
    std::exception_ptr failure;
    auto sending = [&]() -> QCoro::Task<void> {
        try {
            outcome = co_await send(model, issueID, rate, skipped);
        } catch (...) {
            failure = std::current_exception();
        }
        QCoreApplication::exit(0);
    };
    auto running = sending();
    if (!outcome && !failure) {
        QCoreApplication::exec();
    }
    if (failure) {
        std::rethrow_exception(failure);
    }
    const QJsonObject result{
        {QStringLiteral("delivered"), outcome->delivered},
        {QStringLiteral("failed"), outcome->failed},
        {QStringLiteral("issue"), issueID.toString(QUuid::WithoutBraces).toUpper()},
        {QStringLiteral("seconds"), std::round(clock.elapsed() / 100.0) / 10.0},
        {QStringLiteral("skipped"), skipped},
        {QStringLiteral("state"), outcome->state},
        {QStringLiteral("uncertain"), outcome->uncertain}};
    writeOut(QJsonDocument(result).toJson(QJsonDocument::Compact) + '\n');
    if (outcome->state != QLatin1String("sent")) {
        return exitNotSent;
    }
    return outcome->failed > 0 || outcome->uncertain > 0 ? exitSentWithFailures : exitSuccess;
}

} // namespace quillmere::cli
