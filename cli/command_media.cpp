#include "cli/cli_command.h"
#include "imaging/image_import.h"

#include <QFile>
#include <QFileInfo>

namespace quillmere::cli {

int runMedia(const QStringList& arguments) {
    Arguments args(arguments);
    const QString libraryPath = args.required(QStringLiteral("library"));
    const QStringList rest = args.positional();
    if (rest.size() != 2 || rest.first() != QLatin1String("add")) {
        throw UsageError(QStringLiteral("expected \"add FILE\""));
    }
    QFile file(rest[1]);
    if (!file.open(QIODevice::ReadOnly)) {
        throw UsageError(QStringLiteral("cannot read %1: %2").arg(rest[1], file.errorString()));
    }
    const ImageImport::Prepared image = ImageImport::prepare(file.readAll());
    const QString folder = QFileInfo(libraryPath).absolutePath() + QStringLiteral("/media");
    const QString name = ImageImport::store(image, folder);
    writeOut(ImageImport::markdown(ImageImport::descriptionOf(rest[1]), name) + QLatin1Char('\n'));
    return exitSuccess;
}

} // namespace quillmere::cli
