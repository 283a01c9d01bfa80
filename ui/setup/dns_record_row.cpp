#include "ui/setup/dns_record_row.h"

#include "ui/widgets/copy_button.h"
#include "ui/widgets/icons.h"
#include "ui/widgets/style.h"

#include <QFontDatabase>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

namespace quillmere {

namespace {

QFont smallMonospaced(const QWidget* widget) {
    QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    font.setPointSizeF(Style::caption(widget).pointSizeF());
    return font;
}

} // namespace

std::optional<bool> DNSRecordRow::okFor(const DNSRecord& record,
                                        const std::optional<SESIdentity>& identity) {
    if (!identity) {
        return std::nullopt;
    }
    if (record.purpose.contains(QLatin1String("dkim"), Qt::CaseInsensitive)) {
        return identity->dkimStatus == DKIMStatus::success;
    }
    return std::nullopt;
}

DNSRecordRow::DNSRecordRow(const DNSRecord& record, std::optional<bool> ok, QWidget* parent)
    : QWidget(parent)
    , m_record(record)
    , m_status(new QLabel(this))
    , m_published(new QLabel(this))
    , m_copy(new CopyButton(
          tr("Copy"), [record] { return record.value; }, this)) {
    setObjectName(QStringLiteral("dnsRecord-") + record.purpose);
    m_status->setFixedSize(20, 20);

    auto* type = new QLabel(record.type, this);
    QFont typeFont = smallMonospaced(this);
    typeFont.setWeight(QFont::Bold);
    type->setFont(typeFont);

    m_published->setObjectName(QStringLiteral("published"));
    m_published->setFont(Style::caption(m_published));
    m_published->hide();

    auto* name = new QLabel(record.name, this);
    auto* value = new QLabel(record.value, this);
    for (QLabel* label : {name, value}) {
        label->setFont(smallMonospaced(this));
        label->setWordWrap(true);
        label->setTextInteractionFlags(Qt::TextSelectableByMouse);
        Style::setTextColor(label, Style::secondaryText(this));
    }
    name->setObjectName(QStringLiteral("recordName"));
    value->setObjectName(QStringLiteral("recordValue"));

    auto* heading = new QHBoxLayout;
    heading->setSpacing(10);
    heading->addWidget(type);
    heading->addWidget(m_published);
    heading->addStretch(1);
    auto* text = new QVBoxLayout;
    text->setSpacing(1);
    text->addLayout(heading);
    text->addWidget(name);
    text->addWidget(value);

    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 2, 0, 2);
    layout->setSpacing(10);
    layout->addWidget(m_status, 0, Qt::AlignTop);
    layout->addLayout(text, 1);
    layout->addWidget(m_copy, 0, Qt::AlignTop);
    setOk(ok);
}

QString DNSRecordRow::statusSymbol() const {
    if (!m_ok) {
        return QStringLiteral("circle.dashed");
    }
    return *m_ok ? QStringLiteral("checkmark.circle.fill") : QStringLiteral("clock");
}

void DNSRecordRow::setOk(std::optional<bool> ok) {
    m_ok = ok;
    const QColor color = ok == true ? Style::green : Style::secondaryText(this);
    m_status->setPixmap(Icons::tinted(statusSymbol(), color).pixmap(QSize(18, 18)));
    m_status->setToolTip(!ok ? tr("Not checked by Amazon")
                             : (*ok ? tr("Verified by Amazon") : tr("Waiting for Amazon")));
}

void DNSRecordRow::setPublished(std::optional<bool> found) {
    if (!found) {
        m_published->clear();
        m_published->hide();
        return;
    }
    m_published->setText(*found ? tr("Found in DNS") : tr("Not found yet"));
    Style::setTextColor(m_published, *found ? Style::green : Style::secondaryText(this));
    m_published->show();
}

QString DNSRecordRow::publishedText() const {
    return m_published->isHidden() ? QString() : m_published->text();
}

} // namespace quillmere
