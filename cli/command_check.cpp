#include "cli/cli_command.h"
#include "ses/compliance.h"

namespace quillmere::cli {

int runCheck(const QStringList& arguments) {
    Arguments args(arguments);
    const QString libraryPath = args.required(QStringLiteral("library"));
    const QString issueID = args.required(QStringLiteral("issue"));
    args.positional();
    const Library library = readLibrary(libraryPath);
    const Newsletter& issue = findIssue(library, issueID);
    bool blocking = false;
    QString out;
    for (const ComplianceIssue& finding : Compliance::check(library.profile, issue)) {
        blocking = blocking || finding.blocking;
        out += QStringLiteral("%1 %2: %3\n")
                   .arg(finding.blocking ? QStringLiteral("blocking") : QStringLiteral("advisory"),
                        finding.id, finding.message);
    }
    writeOut(out);
    return blocking ? exitNegative : exitSuccess;
}

} // namespace quillmere::cli
