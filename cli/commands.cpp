#include "cli/cli_command.h"

namespace quillmere::cli {

// Each command lives in its own command_<name>.cpp.
int runCheck(const QStringList& arguments);
int runImport(const QStringList& arguments);
int runToken(const QStringList& arguments);
int runVerify(const QStringList& arguments);
int runSign(const QStringList& arguments);
int runRender(const QStringList& arguments);
int runEmail(const QStringList& arguments);
int runSend(const QStringList& arguments);
int runExport(const QStringList& arguments);
int runMedia(const QStringList& arguments);

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
        {QStringLiteral("render"), QStringLiteral("render Markdown to HTML or plain text"),
         QStringLiteral(
             "Usage: quillmere-cli render [--text] [FILE]\n\n"
             "Renders the Markdown in FILE (standard input when FILE is absent or \"-\") and\n"
             "writes the result to standard output exactly as the renderer returns it, with no\n"
             "newline added.\n\n"
             "Options:\n"
             "  --text    the plain-text rendering instead of the HTML fragment\n"
             "  --help    this text\n\n"
             "Exit status: 0 on success, 2 when FILE cannot be read or an argument is wrong.\n"),
         runRender},
        {QStringLiteral("email"), QStringLiteral("render an issue's email for one reader"),
         QStringLiteral(
             "Usage: quillmere-cli email --library FILE --issue ID [--to ADDRESS] [--secret S]\n"
             "                           [--part subject|html|text|mime] [--date ISO8601]\n"
             "                           [--boundary B]\n\n"
             "Renders one issue of a library file for one reader and prints the requested part\n"
             "exactly as built, with no newline added.\n\n"
             "Options:\n"
             "  --library FILE   the library file (library.json) to read\n"
             "  --issue ID       the issue's id, or \"first\" for the first issue in the file\n"
             "                   (the newest)\n"
             "  --to ADDRESS     the subscriber with this address (letter case and surrounding\n"
             "                   spaces ignored); without it, the sample preview reader \"Alex\"\n"
             "                   at the placeholder address reader@example.com\n"
             "  --secret S       the link-signing secret for the reader's unsubscribe link;\n"
             "                   the default, \"quillmere-preview-only\", is for previews only:\n"
             "                   a deployed worker, which has its own secret, refuses links\n"
             "                   signed with it\n"
             "  --part PART      subject: the merged subject line\n"
             "                   html: the HTML document\n"
             "                   text: the plain-text alternative\n"
             "                   mime: the raw message as sent, with the From, Reply-To and\n"
             "                   unsubscribe targets of a send (default)\n"
             "  --date ISO8601   the Date header of the mime part, e.g. 2025-03-04T09:05:00Z\n"
             "                   (default: now)\n"
             "  --boundary B     the multipart boundary of the mime part (default: a fresh\n"
             "                   random one); 1 to 70 characters allowed by RFC 2046\n"
             "  --help           this text\n\n"
             "The reader links use the profile's worker URL, or a placeholder worker address\n"
             "while none is stored. The Message-ID of the mime part is random on every run.\n\n"
             "Exit status: 0 on success, 2 when the file cannot be read, the issue or reader is\n"
             "not in it, or an argument is wrong.\n"),
         runEmail},
        {QStringLiteral("check"), QStringLiteral("list what stands in the way of sending an issue"),
         QStringLiteral("Usage: quillmere-cli check --library FILE --issue ID\n\n"
                        "Checks issue ID (its UUID, or \"first\" for the newest) of the library "
                        "FILE and the publication's settings before a list send. Prints one line "
                        "per finding, \"blocking <id>: <message>\" or \"advisory <id>: "
                        "<message>\", nothing when all is well. Exits 1 when a finding blocks "
                        "the send, 2 when the file or the arguments are wrong.\n"),
         runCheck},
        {QStringLiteral("send"), QStringLiteral("send an issue to the whole list"),
         QStringLiteral(
             "Usage: quillmere-cli send --library FILE --issue ID|first [--rate R] [--secret S]\n\n"
             "Sends the issue to its active readers not yet reached, exactly as the app does:\n"
             "paced, journaled as it goes (a send cut short resumes without mailing anybody\n"
             "twice), guarded against bounces (with worker pulls when the library names a\n"
             "worker whose token is in the credential store), and published to the archive\n"
             "once sent. The library file is written back with the result.\n\n"
             "Options:\n"
             "  --library FILE   the library file (library.json)\n"
             "  --issue ID       the issue's id, or \"first\" for the first issue in the file\n"
             "  --rate R         messages per second (default: 80 % of the account's rate)\n"
             "  --secret S       the reader-link secret (default: the credential store's)\n"
             "  --help           this text\n\n"
             "Credentials come from AWS_ACCESS_KEY_ID, AWS_SECRET_ACCESS_KEY and\n"
             "AWS_SESSION_TOKEN; the region from the library's profile; AWS_ENDPOINT_URL_SESV2\n"
             "or AWS_ENDPOINT_URL name another endpoint. Progress goes to standard error; one\n"
             "JSON object to standard output, keys sorted:\n"
             "  {\"delivered\": n, \"failed\": n, \"issue\": \"ID\", \"seconds\": x,\n"
             "   \"skipped\": n, \"state\": \"sent\"|\"paused\"|\"halted\"|\"failed\", "
             "\"uncertain\": n}\n"
             "delivered, failed and uncertain count this run; skipped counts the active readers\n"
             "an earlier run already reached, failed or left uncertain. A bounce-guard halt or\n"
             "a pause (SES refusing messages, the daily quota) ends the run resumable.\n"
             "SIGTERM or SIGINT: messages in flight complete, the library is written, exit 4.\n\n"
             "Exit status: 0 sent with no failed or uncertain reader, 3 sent with some, 4 paused,\n"
             "halted or failed, 2 on bad arguments or an unreadable library (nothing written).\n"),
         runSend},
        {QStringLiteral("export"), QStringLiteral("write the subscribers as CSV"),
         QStringLiteral("Usage: quillmere-cli export --library FILE [--status S]\n\n"
                        "Writes the subscribers of the library FILE to standard output as CSV "
                        "(UTF-8, RFC 4180 quoting, CRLF line ends) with the header "
                        "email,name,status,source,created_at,updated_at; dates are ISO 8601 in "
                        "UTC. --status keeps only pending, active, unsubscribed, bounced or "
                        "complained readers. Exits 2 when the file or the arguments are "
                        "wrong.\n"),
         runExport},
        {QStringLiteral("media"), QStringLiteral("add a picture to a library's images"),
         QStringLiteral("Usage: quillmere-cli media add FILE --library LIB\n\n"
                        "Scales the picture in FILE to at most 1,600 pixels wide, re-encodes it "
                        "(JPEG, or PNG where it is transparent; a GIF under 1 MB stays as it is), "
                        "stores it in the media folder beside the library file LIB under a name "
                        "made from its bytes, and prints the Markdown that shows it in an issue. "
                        "Exits 2 when FILE is not a usable picture or is too large to host.\n"),
         runMedia},
    };
    return all;
}

} // namespace quillmere::cli
