#pragma once

#include "core/library.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <functional>
#include <stdexcept>

namespace quillmere::cli {

// Exit codes: 0 success, 1 a negative answer (a failed check, an invalid token), 2 bad usage or
// unreadable input.
constexpr int exitSuccess = 0;
constexpr int exitNegative = 1;
constexpr int exitUsage = 2;

// Raised by a command for bad arguments or unreadable input: main prints the one line to
// standard error and exits with exitUsage.
struct UsageError : std::runtime_error {
    explicit UsageError(const QString& message)
        : std::runtime_error(message.toStdString()) {}
};

struct Command {
    QString name;
    QString synopsis; // one line for the overview of --help
    QString help;     // full text for `quillmere-cli NAME --help`
    std::function<int(const QStringList& arguments)> run;
};

// Every command of the tool, in the order --help lists them (commands.cpp).
const QList<Command>& commands();

// Standard output and error as bytes: what a command prints is exactly what it produced.
void writeOut(const QByteArray& bytes);
void writeOut(const QString& text);
void writeErr(const QString& text);

// Small argument reader: options are "--name value" or "--name=value"; flags are "--name".
class Arguments {
public:
    explicit Arguments(QStringList arguments)
        : m_arguments(std::move(arguments)) {}
    std::optional<QString> option(const QString& name);
    QStringList options(const QString& name); // a repeatable option
    bool flag(const QString& name);
    QString required(const QString& name);
    // What remains once options and flags were taken; raises on an unknown "--" argument.
    QStringList positional();

private:
    QStringList m_arguments;
};

QByteArray readFileOrStdin(const std::optional<QString>& path);

// A library file, or a UsageError naming why it cannot be read.
Library readLibrary(const QString& path);
// The issue with that id, or the word "first" for the newest; a UsageError otherwise.
const Newsletter& findIssue(const Library& library, const QString& id);

} // namespace quillmere::cli
