#include "ui/subscribers/subscriber_export.h"

#include "app/app_model.h"
#include "core/file_error.h"
#include "import/csv_exporter.h"
#include "ui/subscribers/subscriber_table_model.h"
#include "ui/subscribers/subscribers_view.h"

#include <QCoreApplication>
#include <QHash>
#include <QLocale>
#include <QSaveFile>

namespace quillmere::SubscriberExport {

QList<Subscriber> chosen(const AppModel& model, const SubscribersView* view) {
    const QList<Subscriber>& all = model.library().subscribers;
    if (!view) {
        return all;
    }
    QHash<QUuid, qsizetype> position;
    position.reserve(all.size());
    for (qsizetype i = 0; i < all.size(); ++i) {
        position.insert(all[i].id, i);
    }
    const SubscriberProxyModel* rows = view->rows();
    QList<Subscriber> shown;
    shown.reserve(rows->rowCount());
    for (int row = 0; row < rows->rowCount(); ++row) {
        const auto found = position.constFind(rows->id(row));
        if (found != position.cend()) {
            shown.append(all[*found]);
        }
    }
    return shown;
}

QString title(qsizetype chosen, qsizetype all) {
    const QLocale locale;
    if (chosen == all) {
        return QCoreApplication::translate("SubscriberExport", "Export %1 Subscribers")
            .arg(locale.toString(all));
    }
    return QCoreApplication::translate("SubscriberExport", "Export %1 of %2 Subscribers")
        .arg(locale.toString(chosen), locale.toString(all));
}

void write(AppModel& model, const QList<Subscriber>& subscribers, const QString& path) {
    if (path.isEmpty()) {
        return;
    }
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(CSVExporter::header()) < 0) {
        model.showStatus(
            AppModel::errorText(FileError(path, QStringLiteral("write"), file.errorString())));
        return;
    }
    for (const Subscriber& s : subscribers) {
        file.write(CSVExporter::line(s));
    }
    if (!file.commit()) {
        model.showStatus(
            AppModel::errorText(FileError(path, QStringLiteral("write"), file.errorString())));
        return;
    }
    model.showStatus(
        QCoreApplication::translate("SubscriberExport", "Exported %1 subscribers to %2.")
            .arg(QLocale().toString(subscribers.size()), path));
}

} // namespace quillmere::SubscriberExport
