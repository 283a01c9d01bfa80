#include "ui/setup/dns_published_check.h"

#include "ses/dns_records.h"

#include <QDnsLookup>

#include <algorithm>

namespace quillmere {

namespace {

bool isPurpose(const DNSRecord& record, QLatin1StringView purpose) {
    return record.purpose.compare(purpose, Qt::CaseInsensitive) == 0;
}

} // namespace

DNSPublishedCheck::DNSPublishedCheck(QObject* parent)
    : QObject(parent) {}

DNSPublishedCheck::~DNSPublishedCheck() {
    for (const QPointer<QDnsLookup>& lookup : std::as_const(m_pending)) {
        if (lookup) {
            lookup->disconnect(this);
            lookup->abort();
        }
    }
}

bool DNSPublishedCheck::checks(const DNSRecord& record) {
    return record.type == QLatin1String("TXT") && (isPurpose(record, QLatin1StringView("SPF")) ||
                                                   isPurpose(record, QLatin1StringView("DMARC")));
}

bool DNSPublishedCheck::satisfies(const DNSRecord& record, const QString& published) {
    const QStringList terms = published.simplified().toLower().split(u' ', Qt::SkipEmptyParts);
    if (terms.isEmpty()) {
        return false;
    }
    if (isPurpose(record, QLatin1StringView("SPF"))) {
        // Any SPF policy that names the SES mail domain: the writer may have merged our include
        // into a record they already had.
        if (terms.first() != QLatin1String("v=spf1")) {
            return false;
        }
        const QString include = QStringLiteral("include:") + DNSRecords::sesMailDomain;
        const QString pass = QStringLiteral("+") + include;
        return std::any_of(terms.begin() + 1, terms.end(),
                           [&](const QString& term) { return term == include || term == pass; });
    }
    if (isPurpose(record, QLatin1StringView("DMARC"))) {
        // The version tag comes first; any policy counts as published.
        const QString first = terms.first().section(u';', 0, 0).trimmed();
        return first == QLatin1String("v=dmarc1");
    }
    return false;
}

QHostAddress DNSPublishedCheck::nameServer() {
    const QString configured = qEnvironmentVariable("QUILLMERE_DNS_SERVER").trimmed();
    return configured.isEmpty() ? QHostAddress() : QHostAddress(configured);
}

void DNSPublishedCheck::clear() {
    for (const QPointer<QDnsLookup>& lookup : std::as_const(m_pending)) {
        if (lookup) {
            lookup->disconnect(this);
            lookup->abort();
            lookup->deleteLater();
        }
    }
    m_pending.clear();
    if (!m_found.isEmpty()) {
        m_found.clear();
        Q_EMIT changed();
    }
}

void DNSPublishedCheck::check(const QList<DNSRecord>& records) {
    clear();
    const QHostAddress server = nameServer();
    for (const DNSRecord& record : records) {
        if (!checks(record)) {
            continue;
        }
        auto* lookup = new QDnsLookup(QDnsLookup::TXT, record.name, this);
        if (!server.isNull()) {
            lookup->setNameserver(server);
        }
        connect(lookup, &QDnsLookup::finished, this,
                [this, lookup, record] { finished(lookup, record); });
        m_pending.append(lookup);
        lookup->lookup();
    }
}

void DNSPublishedCheck::finished(QDnsLookup* lookup, const DNSRecord& record) {
    m_pending.removeAll(lookup);
    bool found = false;
    // A lookup that failed (no such name, no answer, no network) finds nothing yet.
    if (lookup->error() == QDnsLookup::NoError) {
        for (const QDnsTextRecord& text : lookup->textRecords()) {
            // A long record arrives as several strings, read as one.
            QByteArray joined;
            for (const QByteArray& part : text.values()) {
                joined += part;
            }
            found = found || satisfies(record, QString::fromUtf8(joined));
        }
    }
    lookup->deleteLater();
    m_found.insert(record, found);
    Q_EMIT changed();
}

std::optional<bool> DNSPublishedCheck::found(const DNSRecord& record) const {
    const auto it = m_found.constFind(record);
    return it == m_found.constEnd() ? std::nullopt : std::optional<bool>(*it);
}

} // namespace quillmere
