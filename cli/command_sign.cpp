#include "cli/cli_command.h"
#include "ses/sigv4_signer.h"

#include <QRegularExpression>

#include <algorithm>

namespace quillmere::cli {

namespace {

QDateTime parseAmzDate(const QString& text) {
    static const QRegularExpression pattern(QStringLiteral("^\\d{8}T\\d{6}Z$"));
    const QDateTime date = pattern.match(text).hasMatch()
                               ? QDateTime::fromString(text, QStringLiteral("yyyyMMdd'T'HHmmss'Z'"))
                               : QDateTime();
    if (!date.isValid()) {
        throw UsageError(
            QStringLiteral("--date must be YYYYMMDDTHHMMSSZ, for example 20250301T090502Z"));
    }
    return QDateTime(date.date(), date.time(), Qt::UTC);
}

std::pair<QString, QString> parseHeader(const QString& text) {
    const qsizetype colon = text.indexOf(u':');
    const QString name = colon < 0 ? QString() : text.left(colon).trimmed();
    if (name.isEmpty()) {
        throw UsageError(QStringLiteral("--header must be \"Name: value\", got \"%1\"").arg(text));
    }
    return {name, text.mid(colon + 1).trimmed()};
}

AWSCredentials credentialsFromEnvironment() {
    AWSCredentials credentials;
    credentials.accessKeyID = qEnvironmentVariable("AWS_ACCESS_KEY_ID");
    credentials.secretAccessKey = qEnvironmentVariable("AWS_SECRET_ACCESS_KEY");
    if (credentials.accessKeyID.isEmpty() || credentials.secretAccessKey.isEmpty()) {
        throw UsageError(
            QStringLiteral("set AWS_ACCESS_KEY_ID and AWS_SECRET_ACCESS_KEY in the environment"));
    }
    if (qEnvironmentVariableIsSet("AWS_SESSION_TOKEN")) {
        credentials.sessionToken = qEnvironmentVariable("AWS_SESSION_TOKEN");
    }
    return credentials;
}

} // namespace

int runSign(const QStringList& arguments) {
    Arguments args(arguments);
    const bool verbose = args.flag(QStringLiteral("verbose"));
    HTTPRequest request;
    request.method = args.required(QStringLiteral("method"));
    const QString url = args.required(QStringLiteral("url"));
    request.url = QUrl(url, QUrl::StrictMode);
    if (!request.url.isValid() || request.url.scheme().isEmpty() || request.url.host().isEmpty()) {
        throw UsageError(QStringLiteral("--url must be an absolute URL, got \"%1\"").arg(url));
    }
    for (const QString& header : args.options(QStringLiteral("header"))) {
        const auto [name, value] = parseHeader(header);
        request.headers.insert(name, value);
    }
    if (const auto bodyFile = args.option(QStringLiteral("body-file"))) {
        request.body = readFileOrStdin(bodyFile);
    }
    const QDateTime date = parseAmzDate(args.required(QStringLiteral("date")));
    const QString region = args.required(QStringLiteral("region"));
    const QString service = args.required(QStringLiteral("service"));
    args.positional();
    if (request.method.trimmed().isEmpty() || region.isEmpty() || service.isEmpty()) {
        throw UsageError(QStringLiteral("--method, --region and --service must not be empty"));
    }

    const SigV4Signer signer(credentialsFromEnvironment(), region, service);
    const HTTPRequest signedRequest = signer.sign(request, date);

    QList<std::pair<QString, QString>> headers;
    for (auto it = signedRequest.headers.cbegin(); it != signedRequest.headers.cend(); ++it) {
        headers.append({it.key(), it.value()});
    }
    std::stable_sort(headers.begin(), headers.end(), [](const auto& a, const auto& b) {
        return a.first.toLower() < b.first.toLower();
    });
    QString out;
    for (const auto& [name, value] : headers) {
        out += name + QStringLiteral(": ") + value + QLatin1Char('\n');
    }
    if (verbose) {
        const QString amzDate = SigV4Signer::amzDate(date);
        const QString canonical = signer.canonicalRequest(signedRequest, amzDate);
        out += QStringLiteral("\nCanonical request:\n") + canonical +
               QStringLiteral("\n\nString to sign:\n") + signer.stringToSign(canonical, amzDate) +
               QLatin1Char('\n');
    }
    writeOut(out);
    return exitSuccess;
}

} // namespace quillmere::cli
