#pragma once

// quillmere-cli as a script runs it: arguments, an environment, standard input; then how it ended
// and what it wrote.

#include "support/child_process.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

namespace quillmere::test {

struct CliRun {
    int code = -1; // -1 when it did not end by itself
    QByteArray out;
    QByteArray err;
    QJsonObject json() const { return QJsonDocument::fromJson(out).object(); }
};

inline void startCli(QProcess& cli, const QStringList& arguments,
                     const QProcessEnvironment& environment) {
    cli.setProcessEnvironment(environment);
    dieWithTest(cli);
    cli.start(QStringLiteral(QUILLMERE_BINARY_DIR "/cli/quillmere-cli"), arguments);
}

inline CliRun finishCli(QProcess& cli) {
    const bool ended = cli.waitForFinished(300000); // false too when it never started
    if (!ended) {
        killGroup(cli);
    }
    return {ended && cli.exitStatus() == QProcess::NormalExit ? cli.exitCode() : -1,
            cli.readAllStandardOutput(), cli.readAllStandardError()};
}

inline CliRun
runCli(const QStringList& arguments, const QByteArray& input = {},
       const QProcessEnvironment& environment = QProcessEnvironment::systemEnvironment()) {
    QProcess cli;
    startCli(cli, arguments, environment);
    cli.write(input);
    cli.closeWriteChannel();
    return finishCli(cli);
}

} // namespace quillmere::test
