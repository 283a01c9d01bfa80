#include "render/reader_message.h"

#include "render/media_reference.h"
#include "render/mime_builder.h"
#include "render/reader_links.h"

namespace quillmere::ReaderMessage {

namespace {

std::optional<QString> replyToOf(const SenderProfile& profile) {
    const QString r = profile.replyTo.trimmed();
    return r.isEmpty() ? std::nullopt : std::optional<QString>(r);
}

std::optional<QString> mailtoOf(const std::optional<QString>& replyTo) {
    if (!replyTo) {
        return std::nullopt;
    }
    return QStringLiteral("mailto:") + *replyTo + QStringLiteral("?subject=unsubscribe");
}

std::optional<QUrl> archiveOf(const Newsletter& newsletter, const SenderProfile& profile) {
    return ReaderLinks::archiveURL(profile.workerBaseURL, newsletter.slug());
}

} // namespace

RenderContext context(const Newsletter& newsletter, const SenderProfile& profile,
                      const std::optional<Subscriber>& reader, const QString& secret) {
    const QString address = reader ? reader->email : ReaderLinks::placeholderReaderAddress;
    RenderContext c;
    c.newsletter = newsletter;
    c.profile = profile;
    c.recipient = reader;
    c.unsubscribeURL =
        ReaderLinks::unsubscribeURL(ReaderLinks::linkBase(profile.workerBaseURL), address, secret);
    c.archiveURL = archiveOf(newsletter, profile);
    c.mediaBase = MediaReference::workerMediaBase(profile.workerBaseURL);
    return c;
}

Subscriber previewReader(const QDateTime& now) {
    Subscriber s;
    s.id = QUuid::createUuid();
    s.email = ReaderLinks::placeholderReaderAddress;
    s.name = QStringLiteral("Alex");
    s.status = SubscriberStatus::active;
    s.source = QStringLiteral("manual");
    s.createdAt = now;
    s.updatedAt = now;
    return s;
}

QByteArray build(const Newsletter& newsletter, const SenderProfile& profile,
                 const Subscriber& reader, const QString& secret, const QDateTime& date,
                 const std::optional<QString>& boundary) {
    const RenderContext c = context(newsletter, profile, reader, secret);
    const RenderedEmail email = TemplateRenderer::render(c);
    const std::optional<QString> replyTo = replyToOf(profile);
    return MIMEBuilder::build(email, profile.fromEmail, profile.fromName, reader.email, replyTo,
                              c.unsubscribeURL, mailtoOf(replyTo), date, boundary);
}

Batch::Batch(const Newsletter& newsletter, const SenderProfile& profile, const QString& secret)
    : m_profile(profile)
    , m_secret(secret)
    , m_linkBase(ReaderLinks::linkBase(profile.workerBaseURL))
    , m_replyTo(replyToOf(profile))
    , m_mailto(mailtoOf(m_replyTo))
    , m_prepared(newsletter, profile, archiveOf(newsletter, profile),
                 MediaReference::workerMediaBase(profile.workerBaseURL)) {}

RenderedEmail Batch::render(const std::optional<Subscriber>& reader) const {
    const QString address = reader ? reader->email : ReaderLinks::placeholderReaderAddress;
    return m_prepared.render(reader, ReaderLinks::unsubscribeURL(m_linkBase, address, m_secret));
}

QByteArray Batch::build(const Subscriber& reader, const QDateTime& date,
                        const std::optional<QString>& boundary) const {
    const QUrl unsubscribe = ReaderLinks::unsubscribeURL(m_linkBase, reader.email, m_secret);
    const RenderedEmail email = m_prepared.render(reader, unsubscribe);
    return MIMEBuilder::build(email, m_profile.fromEmail, m_profile.fromName, reader.email,
                              m_replyTo, unsubscribe, m_mailto, date, boundary);
}

} // namespace quillmere::ReaderMessage
