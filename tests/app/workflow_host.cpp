// A real application process driven line by line from its standard input, for tests that need
// the whole process: how it stops in the middle of a send, and what it leaves behind on disk
// and in its output. Secrets travel over the pipe, never on the command line.
//
//   workflow_host [--library PATH] [--settings PATH] [--memory-credentials]
//
// Without --library and --settings the model uses its production locations (under the XDG
// folders of the environment); without --memory-credentials the system keychain.
//
// Commands, one JSON array per line:
//   ["credential", account, value]     ["profile", {SenderProfile fields}]
//   ["readers", count, domain]         (active readers reader<i>@domain, added at once)
//   ["refreshSES"]   ["deploy", cloudflareToken, accountID]   ["sync"]
//   ["issue", subject]   ["send"]   ["waitStatus", text]
//   ["finishOnboarding"]   ["flush"]   ["quit"]
// Output, one JSON object per line: {"ready": true}, {"done": command} after each command,
// {"status": text} for every status message, {"delivered": id} for every reader counted as
// delivered.
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
using namespace Qt::StringLiterals;

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
        const Newsletter* issue =
            session ? m_model.library().issue(session->newsletterID) : nullptr;
        for (const QUuid& id : issue ? issue->deliveredIDs : QSet<QUuid>()) {
            if (!m_reported.contains(id)) {
                m_reported.insert(id);
                report({{"delivered", id.toString(QUuid::WithoutBraces).toUpper()}});
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
        if (name == u"credential"_s) {
            // Whatever store the model has: the real keychain unless --memory-credentials.
            auto writing =
                m_model.credentials().write(command.at(2).toString(), command.at(1).toString(),
                                            std::make_shared<CancelToken>());
            co_await writing;
        } else if (name == u"profile"_s) {
            // The given fields over the current profile, so a command names only what it changes.
            QJsonObject fields = m_model.library().profile.toJson();
            const QJsonObject given = command.at(1).toObject();
            for (auto it = given.begin(); it != given.end(); ++it) {
                fields.insert(it.key(), it.value());
            }
            m_model.setProfile(SenderProfile::fromJson(fields, u"profile"_s));
        } else if (name == u"readers"_s) {
            // Through the CSV import, as a writer brings a list of this size.
            QString csv = u"email,name\n"_s;
            const int count = command.at(1).toInt();
            for (int i = 0; i < count; ++i) {
                csv += u"reader%1@%2,Reader %1\n"_s.arg(i).arg(command.at(2).toString());
            }
            QTemporaryDir folder;
            const QString path = folder.filePath(u"readers.csv"_s);
            QFile file(path);
            if (file.open(QIODevice::WriteOnly)) {
                file.write(csv.toUtf8());
                file.close();
                co_await m_model.importCSV(path);
            }
        } else if (name == u"refreshSES"_s) {
            co_await m_model.refreshSES();
        } else if (name == u"deploy"_s) {
            co_await m_model.deployWorker(command.at(1).toString(), command.at(2).toString());
        } else if (name == u"sync"_s) {
            co_await m_model.syncSubscribers();
        } else if (name == u"issue"_s) {
            m_model.newIssue();
            Newsletter issue = *m_model.selectedNewsletter();
            issue.subject = command.at(1).toString();
            issue.previewText = u"A short note."_s;
            issue.markdown = u"Hi {{name}},\n\nThis is *%1*.\n"_s.arg(issue.subject);
            m_model.updateIssue(issue);
        } else if (name == u"send"_s) {
            co_await m_model.sendToList(*m_model.selectedNewsletter());
        } else if (name == u"waitStatus"_s) {
            const QString text = command.at(1).toString();
            std::function<bool()> shown = [this, text] {
                return m_model.statusMessage() && m_model.statusMessage()->contains(text);
            };
            auto waiting = waitUntil(std::move(shown));
            co_await waiting;
        } else if (name == u"finishOnboarding"_s) {
            m_model.finishOnboarding();
        } else if (name == u"flush"_s) {
            m_model.flushPendingSave();
        } else if (name == u"quit"_s) {
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
    if (const QString library = option(args, u"--library"_s); !library.isEmpty()) {
        d.store = std::make_shared<LibraryStore>(library);
    }
    if (const QString settings = option(args, u"--settings"_s); !settings.isEmpty()) {
        d.settings = std::make_shared<QSettings>(settings, QSettings::IniFormat);
    }
    if (args.contains(u"--memory-credentials"_s)) {
        d.credentials = std::make_shared<MemoryCredentialStore>();
    }
    d.arguments = QStringList{u"workflow_host"_s};
    AppModel model(std::move(d));
    flushOnShutdown(app, model);
    Host host(model);
    auto starting = [&model, &host]() -> QCoro::Task<void> {
        co_await model.start();
        report({{"ready", true}});
        host.modelStarted();
    };
    auto started = starting();
    return app.exec();
}
