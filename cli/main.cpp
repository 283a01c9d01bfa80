#include "cli/cli_command.h"

#include <QCoreApplication>

using namespace quillmere::cli;

namespace {

QString overview() {
    QString text = QStringLiteral(
        "Usage: quillmere-cli COMMAND [OPTIONS]\n\n"
        "Quillmere's logic from the command line, for scripts and checks.\n\nCommands:\n");
    for (const Command& c : commands()) {
        text += QStringLiteral("  %1%2\n").arg(c.name, -10).arg(c.synopsis);
    }
    text += QStringLiteral("\nRun \"quillmere-cli COMMAND --help\" for a command's options.\n");
    return text;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QStringList arguments = QCoreApplication::arguments().mid(1);
    if (arguments.isEmpty() || arguments.first() == QLatin1String("--help") ||
        arguments.first() == QLatin1String("-h") || arguments.first() == QLatin1String("help")) {
        writeOut(overview());
        return arguments.isEmpty() ? exitUsage : exitSuccess;
    }
    const QString name = arguments.takeFirst();
    for (const Command& command : commands()) {
        if (command.name != name) {
            continue;
        }
        if (arguments.contains(QLatin1String("--help"))) {
            writeOut(command.help);
            return exitSuccess;
        }
        try {
            return command.run(arguments);
        } catch (const UsageError& error) {
            writeErr(QStringLiteral("quillmere-cli %1: %2\n")
                         .arg(name, QString::fromUtf8(error.what())));
            return exitUsage;
        } catch (const std::exception& error) {
            writeErr(QStringLiteral("quillmere-cli %1: %2\n")
                         .arg(name, QString::fromUtf8(error.what())));
            return exitUsage;
        }
    }
    writeErr(QStringLiteral("quillmere-cli: unknown command \"%1\" (see quillmere-cli --help)\n")
                 .arg(name));
    return exitUsage;
}
