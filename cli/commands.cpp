#include "cli/cli_command.h"

namespace quillmere::cli {

// Each command lives in its own command_<name>.cpp.
int runImport(const QStringList& arguments);
int runToken(const QStringList& arguments);
int runVerify(const QStringList& arguments);
int runSign(const QStringList& arguments);

const QList<Command>& commands() {
    static const QList<Command> all = {
        {QStringLiteral("token"), QStringLiteral("make a reader-link token"),
         QStringLiteral("Usage: quillmere-cli token --purpose unsubscribe|confirm --email E "
                        "--secret S\n\nPrints the token that the reader's unsubscribe or "
                        "confirmation link carries.\n"),
         runToken},
        {QStringLiteral("verify"), QStringLiteral("check a reader-link token"),
         QStringLiteral("Usage: quillmere-cli verify --purpose unsubscribe|confirm --token T "
                        "--secret S\n\nPrints the address the token was made for; exits 1 when "
                        "the token is not valid for that purpose and secret.\n"),
         runVerify},
        {QStringLiteral("sign"), QStringLiteral("sign an HTTP request with AWS Signature V4"),
         QStringLiteral(
             "Usage: quillmere-cli sign --method M --url URL [--header \"Name: value\"]... "
             "[--body-file F] --date YYYYMMDDTHHMMSSZ --region R --service S [--verbose]\n\n"
             "Signs the request with the credentials in AWS_ACCESS_KEY_ID, "
             "AWS_SECRET_ACCESS_KEY and, when set, AWS_SESSION_TOKEN, and prints the headers of "
             "the signed request, one \"Name: value\" a line, sorted by lower-cased name. "
             "--body-file - reads the body from standard input. --verbose also prints the "
             "canonical request and the string to sign.\n"),
         runSign},
        {QStringLiteral("import"), QStringLiteral("read a subscriber CSV export"),
         QStringLiteral(
             "Usage: quillmere-cli import FILE [--source S]\n\n"
             "Reads a CSV export of Substack, Beehiiv, Mailchimp or any file with an email "
             "column (UTF-8, else Latin-1; FILE \"-\" is standard input) and prints the "
             "result as indented JSON with sorted keys:\n"
             "  format              substack, beehiiv, mailchimp or generic\n"
             "  subscribers         [{email, name, status, source, createdAt}] in file order\n"
             "  skipped             [{line, reason}] rejected rows and their physical lines\n"
             "  duplicates          rows repeating an earlier address\n"
             "  confirmedElsewhere  rows made active because the export says so\n"
             "  assumedActive       rows made active for want of a status\n\n"
             "--source labels the subscribers (default: the file's name without its "
             "extension, \"import\" for standard input); \"import\" becomes \"import:\" and "
             "the format. createdAt is ISO 8601 in UTC with milliseconds. Exits 2 when the "
             "file cannot be read or the arguments are wrong.\n"),
         runImport},
    };
    return all;
}

} // namespace quillmere::cli
