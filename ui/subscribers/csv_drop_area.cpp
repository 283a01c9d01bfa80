#include "ui/subscribers/csv_drop_area.h"

#include "ui/widgets/icons.h"
#include "ui/widgets/style.h"

#include <QDragEnterEvent>
#include <QFileInfo>
#include <QLabel>
#include <QMimeData>
#include <QPainter>
#include <QPushButton>
#include <QVBoxLayout>

#include <optional>

namespace quillmere {

namespace {

std::optional<QString> listFile(const QMimeData* data) {
    if (!data || !data->hasUrls() || data->urls().size() != 1 ||
        !data->urls().constFirst().isLocalFile()) {
        return std::nullopt;
    }
    const QString path = data->urls().constFirst().toLocalFile();
    const QString suffix = QFileInfo(path).suffix().toLower();
    if (suffix != QLatin1String("csv") && suffix != QLatin1String("txt")) {
        return std::nullopt;
    }
    return path;
}

} // namespace

CSVDropArea::CSVDropArea(QWidget* parent)
    : QFrame(parent)
    , m_choose(new QPushButton(tr("Choose a CSV export"), this)) {
    setObjectName(QStringLiteral("csvDropArea"));
    setAcceptDrops(true);
    setMinimumHeight(190);
    m_choose->setObjectName(QStringLiteral("chooseCSV"));

    auto* icon = new QLabel(this);
    icon->setPixmap(
        Icons::tinted(QStringLiteral("square.and.arrow.down.on.square"), Style::secondaryText(this))
            .pixmap(QSize(40, 40)));
    icon->setAlignment(Qt::AlignCenter);
    auto* caption =
        new QLabel(tr("Substack, Beehiiv, Mailchimp or any file with an email column"), this);
    caption->setObjectName(QStringLiteral("dropCaption"));
    caption->setAlignment(Qt::AlignCenter);
    caption->setWordWrap(true);
    caption->setFont(Style::caption(caption));
    Style::setTextColor(caption, Style::secondaryText(this));

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(20, 20, 20, 20);
    layout->setSpacing(10);
    layout->addStretch(1);
    layout->addWidget(icon);
    layout->addWidget(m_choose, 0, Qt::AlignHCenter);
    layout->addWidget(caption);
    layout->addStretch(1);
    connect(m_choose, &QPushButton::clicked, this, &CSVDropArea::chooseRequested);
}

void CSVDropArea::setHighlighted(bool on) {
    if (m_highlighted != on) {
        m_highlighted = on;
        update();
    }
}

void CSVDropArea::dragEnterEvent(QDragEnterEvent* event) {
    if (listFile(event->mimeData())) {
        event->acceptProposedAction();
        setHighlighted(true);
    }
}

void CSVDropArea::dragLeaveEvent(QDragLeaveEvent*) {
    setHighlighted(false);
}

void CSVDropArea::dropEvent(QDropEvent* event) {
    setHighlighted(false);
    if (const auto path = listFile(event->mimeData())) {
        event->acceptProposedAction();
        Q_EMIT fileDropped(*path);
    }
}

void CSVDropArea::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QColor edge = m_highlighted ? Style::accent(this) : Style::tertiaryText(this);
    QColor fill = edge;
    fill.setAlphaF(m_highlighted ? 0.12 : 0.04);
    painter.setBrush(fill);
    painter.setPen(QPen(edge, 1.5, Qt::DashLine));
    painter.drawRoundedRect(QRectF(rect()).adjusted(1, 1, -1, -1), 10, 10);
}

} // namespace quillmere
