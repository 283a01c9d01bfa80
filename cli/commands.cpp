#include "cli/cli_command.h"

namespace quillmere::cli {

// Each command lives in its own command_<name>.cpp.
int runToken(const QStringList& arguments);
int runVerify(const QStringList& arguments);

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
    };
    return all;
}

} // namespace quillmere::cli
