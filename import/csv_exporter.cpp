#include "import/csv_exporter.h"

namespace quillmere::CSVExporter {

QString field(const QString& value) {
    bool quote = false;
    for (QChar c : value) {
        if (c == u',' || c == u'"' || c == u'\r' || c == u'\n') {
            quote = true;
            break;
        }
    }
    if (!quote) {
        return value;
    }
    QString escaped = value;
    escaped.replace(QLatin1Char('"'), QLatin1String("\"\""));
    return QLatin1Char('"') + escaped + QLatin1Char('"');
}

QByteArray header() {
    return QByteArrayLiteral("email,name,status,source,created_at,updated_at\r\n");
}

QByteArray line(const Subscriber& s) {
    const QString text = field(s.email) + QLatin1Char(',') + field(s.name) + QLatin1Char(',') +
                         rawValue(s.status) + QLatin1Char(',') + field(s.source) +
                         QLatin1Char(',') + IsoDate::format(s.createdAt) + QLatin1Char(',') +
                         IsoDate::format(s.updatedAt) + QLatin1String("\r\n");
    return text.toUtf8();
}

QByteArray exportCSV(const QList<Subscriber>& subscribers) {
    QByteArray out = header();
    out.reserve(out.size() + subscribers.size() * 120);
    for (const Subscriber& s : subscribers) {
        out += line(s);
    }
    return out;
}

} // namespace quillmere::CSVExporter
