// A real application process driven line by line from its standard input, for tests that need
// the whole process: how it stops in the middle of a send, and what it leaves behind on disk
// and in its output. Secrets travel over the pipe, never on the command line.
//
//   workflow_host [--library PATH] [--settings PATH] [--memory-credentials] [--no-flush]
//
// Without --library and --settings the model uses its production locations (under the XDG
// folders of the environment); without --memory-credentials the system keychain. --no-flush
// leaves out the flush on shutdown (the control case of the shutdown tests).
//
// Commands, one JSON array per line:
//   ["credential", account, value]     ["profile", {SenderProfile fields}]
//   ["readers", count, domain]         (active readers reader<i>@domain, added at once)
//   ["refreshSES"]   ["deploy", cloudflareToken, accountID]   ["workerURL", url]   ["sync"]
//   ["issue", subject]   ["send"]   ["waitSend"]   ["waitStatus", text]
//   ["finishOnboarding"]   ["flush"]   ["quit"]
// Output, one JSON object per line: {"ready": true}, {"done": command} after each command,
// {"status": text} for every status message, {"delivered": id} for every reader counted as
// delivered, {"session": state, "sent": n} for every change of the send session.
#include "app/app_model.h"
#include "app/shutdown.h"
#include "core/memory_credential_store.h"

#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPointer>
#include <QSocketNotifier>
#include <QTemporaryDir>
#include <qcoro/qcorotimer.h>

#include <cstdio>
#include <deque>
#include <exception>
#include <functional>
#include <unistd.h>

using namespace quillmere;

namespace {

void report(const QJsonObject& event) {
    const QByteArray line = QJsonDocument(event).toJson(QJsonDocument::Compact) + '\n';
    std::fwrite(line.constData(), 1, size_t(line.size()), stdout);
    std::fflush(stdout);
}

class Host : public QObject {
public:
    explicit Host(AppModel& model)
        : m_model(model) {
        connect(&model, &AppModel::statusMessageChanged, this, [this] {
            if (const auto& text = m_model.statusMessage()) {
                report({{"status", *text}});
            }
        });
        connect(&model, &AppModel::sendSessionChanged, this, [this] {
            if (const auto& session = m_model.sendSession()) {
                report({{"session", session->state}, {"sent", session->sent}});
            }
        });
        connect(&model, &AppModel::newslettersChanged, this, [this] { reportDeliveries(); });
        m_input = new QSocketNotifier(STDIN_FILENO, QSocketNotifier::Read, this);
        connect(m_input, &QSocketNotifier::activated, this, [this] { readInput(); });
    }

    // Commands wait for the library to be loaded, as the window does: a profile set before it
    // would be replaced by the one read from disk.
    void modelStarted() {
        m_running = false;
        runCommands();
    }

private:
    void reportDeliveries() {
        const auto& session = m_model.sendSession();
        if (!session) {
            return;
        }
        for (const Newsletter& issue : m_model.library().newsletters) {
            if (issue.id != session->newsletterID) {
                continue;
            }
            for (const QUuid& id : issue.deliveredIDs) {
                if (!m_reported.contains(id)) {
                    m_reported.insert(id);
                    report({{"delivered", id.toString(QUuid::WithoutBraces).toUpper()}});
                }
            }
        }
    }

    void readInput() {
        char buffer[4096];
        const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (n <= 0) {
            m_input->setEnabled(false); // the driver went away; stay until told otherwise
            return;
        }
        m_pending.append(buffer, qsizetype(n));
        qsizetype end;
        while ((end = m_pending.indexOf('\n')) >= 0) {
            m_commands.push_back(QJsonDocument::fromJson(m_pending.left(end)).array());
            m_pending.remove(0, end + 1);
        }
        if (!m_running) {
            runCommands();
        }
    }

    QCoro::Task<void> runCommands() {
        QPointer<Host> self(this);
        m_running = true;
        while (self && !m_commands.empty()) {
            const QJsonArray command = m_commands.front();
            m_commands.pop_front();
            try {
                co_await run(command);
            } catch (const std::exception& error) {
                // A command that fails must not silently stall the driver.
                report({{"error", QString::fromUtf8(error.what())}});
            }
            if (self) {
                report({{"done", command.at(0).toString()}});
            }
        }
        if (self) {
            m_running = false;
        }
    }

    static QCoro::Task<void> waitUntil(std::function<bool()> condition) {
        while (!condition()) {
            co_await QCoro::sleepFor(std::chrono::milliseconds(20));
        }
    }

    QCoro::Task<void> run(QJsonArray command) {
        const QString name = command.at(0).toString();
        if (name == QLatin1String("credential")) {
            // Whatever store the model has: the real keychain unless --memory-credentials.
            auto writing =
                m_model.credentials().write(command.at(2).toString(), command.at(1).toString(),
                                            std::make_shared<CancelToken>());
            co_await writing;
        } else if (name == QLatin1String("profile")) {
            // The given fields over the current profile, so a command names only what it changes.
            QJsonObject fields = m_model.library().profile.toJson();
            const QJsonObject given = command.at(1).toObject();
            for (auto it = given.begin(); it != given.end(); ++it) {
                fields.insert(it.key(), it.value());
            }
            m_model.setProfile(SenderProfile::fromJson(fields, QStringLiteral("profile")));
        } else if (name == QLatin1String("readers")) {
            // Through the CSV import, as a writer brings a list of this size.
            QString csv = QStringLiteral("email,name\n");
            const int count = command.at(1).toInt();
            for (int i = 0; i < count; ++i) {
                csv +=
                    QStringLiteral("reader%1@%2,Reader %1\n").arg(i).arg(command.at(2).toString());
            }
            QTemporaryDir folder;
            const QString path = folder.filePath(QStringLiteral("readers.csv"));
            QFile file(path);
            if (file.open(QIODevice::WriteOnly)) {
                file.write(csv.toUtf8());
                file.close();
                co_await m_model.importCSV(path);
            }
        } else if (name == QLatin1String("refreshSES")) {
            co_await m_model.refreshSES();
        } else if (name == QLatin1String("deploy")) {
            co_await m_model.deployWorker(command.at(1).toString(), command.at(2).toString());
        } else if (name == QLatin1String("workerURL")) {
            SenderProfile profile = m_model.library().profile;
            profile.workerBaseURL = command.at(1).toString();
            m_model.setProfile(profile);
        } else if (name == QLatin1String("sync")) {
            co_await m_model.syncSubscribers();
        } else if (name == QLatin1String("issue")) {
            m_model.newIssue();
            Newsletter issue = *m_model.selectedNewsletter();
            issue.subject = command.at(1).toString();
            issue.previewText = QStringLiteral("A short note.");
            issue.markdown = QStringLiteral("Hi {{name}},\n\nThis is *%1*.\n").arg(issue.subject);
            m_model.updateIssue(issue);
        } else if (name == QLatin1String("send")) {
            co_await m_model.sendToList(*m_model.selectedNewsletter());
        } else if (name == QLatin1String("waitSend")) {
            std::function<bool()> finished = [this] {
                return m_model.sendSession() && m_model.sendSession()->isFinished;
            };
            auto waiting = waitUntil(std::move(finished));
            co_await waiting;
        } else if (name == QLatin1String("waitStatus")) {
            const QString text = command.at(1).toString();
            std::function<bool()> shown = [this, text] {
                return m_model.statusMessage() && m_model.statusMessage()->contains(text);
            };
            auto waiting = waitUntil(std::move(shown));
            co_await waiting;
        } else if (name == QLatin1String("finishOnboarding")) {
            m_model.finishOnboarding();
        } else if (name == QLatin1String("flush")) {
            m_model.flushPendingSave();
        } else if (name == QLatin1String("quit")) {
            QCoreApplication::quit();
        }
    }

    AppModel& m_model;
    QSocketNotifier* m_input = nullptr;
    QByteArray m_pending;
    std::deque<QJsonArray> m_commands;
    bool m_running = true; // until the model has started
    QSet<QUuid> m_reported;
};

QString option(const QStringList& args, const QString& name) {
    const qsizetype at = args.indexOf(name);
    return at >= 0 && at + 1 < args.size() ? args.at(at + 1) : QString();
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    AppModel::Dependencies d;
    if (const QString library = option(args, QStringLiteral("--library")); !library.isEmpty()) {
        d.store = std::make_shared<LibraryStore>(library);
    }
    if (const QString settings = option(args, QStringLiteral("--settings")); !settings.isEmpty()) {
        d.settings = std::make_shared<QSettings>(settings, QSettings::IniFormat);
    }
    if (args.contains(QStringLiteral("--memory-credentials"))) {
        d.credentials = std::make_shared<MemoryCredentialStore>();
    }
    d.arguments = QStringList{QStringLiteral("workflow_host")};
    AppModel model(std::move(d));
    if (!args.contains(QStringLiteral("--no-flush"))) {
        flushOnShutdown(app, model);
    }
    Host host(model);
    auto starting = [&model, &host]() -> QCoro::Task<void> {
        co_await model.start();
        report({{"ready", true}});
        host.modelStarted();
    };
    auto started = starting();
    return app.exec();
}
