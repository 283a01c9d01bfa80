#include "cli/cli_command.h"
#include "render/reader_links.h"

namespace quillmere::cli {

namespace {

QString purposeOption(Arguments& args) {
    const QString purpose = args.required(QStringLiteral("purpose"));
    if (purpose != ReaderLinks::unsubscribePurpose && purpose != ReaderLinks::confirmPurpose) {
        throw UsageError(QStringLiteral("--purpose must be unsubscribe or confirm"));
    }
    return purpose;
}

} // namespace

int runToken(const QStringList& arguments) {
    Arguments args(arguments);
    const QString purpose = purposeOption(args);
    const QString email = args.required(QStringLiteral("email"));
    const QString secret = args.required(QStringLiteral("secret"));
    args.positional();
    writeOut(ReaderLinks::token(purpose, email, secret) + QLatin1Char('\n'));
    return exitSuccess;
}

int runVerify(const QStringList& arguments) {
    Arguments args(arguments);
    const QString purpose = purposeOption(args);
    const QString token = args.required(QStringLiteral("token"));
    const QString secret = args.required(QStringLiteral("secret"));
    args.positional();
    if (const auto address = ReaderLinks::verify(token, purpose, secret)) {
        writeOut(*address + QLatin1Char('\n'));
        return exitSuccess;
    }
    writeErr(QStringLiteral("invalid token\n"));
    return exitNegative;
}

} // namespace quillmere::cli
