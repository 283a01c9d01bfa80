#include "cli/cli_command.h"
#include "render/markdown_renderer.h"

namespace quillmere::cli {

int runRender(const QStringList& arguments) {
    Arguments args(arguments);
    const bool text = args.flag(QStringLiteral("text"));
    const QStringList files = args.positional();
    if (files.size() > 1) {
        throw UsageError(QStringLiteral("expected at most one FILE, got %1").arg(files.size()));
    }
    const std::optional<QString> path =
        files.isEmpty() ? std::nullopt : std::optional<QString>(files.first());
    const QString markdown = QString::fromUtf8(readFileOrStdin(path));
    writeOut(text ? MarkdownRenderer::plainText(markdown) : MarkdownRenderer::html(markdown));
    return exitSuccess;
}

} // namespace quillmere::cli
