#include "ui/widgets/icons.h"

#include <QApplication>
#include <QFile>
#include <QHash>
#include <QIconEngine>
#include <QPainter>
#include <QPalette>
#include <QSvgRenderer>

namespace quillmere::Icons {

namespace {

// Freedesktop icon names, tried in order, for each symbol. Names outside the standard set
// come first where the common themes (Breeze, Adwaita) carry a closer match.
const QHash<QString, QStringList>& themeNames() {
    static const QHash<QString, QStringList> names{
        {QStringLiteral("newspaper"), {QStringLiteral("x-office-document")}},
        {QStringLiteral("person.2"), {QStringLiteral("system-users")}},
        {QStringLiteral("chart.bar"), {QStringLiteral("office-chart-bar")}},
        {QStringLiteral("server.rack"), {QStringLiteral("network-server")}},
        {QStringLiteral("cloud"),
         {QStringLiteral("folder-cloud"), QStringLiteral("weather-overcast")}},
        {QStringLiteral("checkmark.seal"), {QStringLiteral("security-high")}},
        {QStringLiteral("sparkles"), {QStringLiteral("starred")}},
        {QStringLiteral("list.bullet.clipboard"), {QStringLiteral("view-list-details")}},
        {QStringLiteral("xmark"), {QStringLiteral("window-close")}},
        {QStringLiteral("square.and.pencil"), {QStringLiteral("document-new")}},
        {QStringLiteral("paperplane.fill"), {QStringLiteral("mail-send")}},
        {QStringLiteral("textformat.size"), {QStringLiteral("format-font-size-more")}},
        {QStringLiteral("list.bullet"), {QStringLiteral("format-list-unordered")}},
        {QStringLiteral("list.number"), {QStringLiteral("format-list-ordered")}},
        {QStringLiteral("text.quote"), {QStringLiteral("format-text-blockquote")}},
        {QStringLiteral("photo"), {QStringLiteral("insert-image")}},
        {QStringLiteral("minus"), {QStringLiteral("insert-horizontal-rule")}},
        {QStringLiteral("person.crop.circle"), {QStringLiteral("user-identity")}},
        {QStringLiteral("person.badge.plus"),
         {QStringLiteral("list-add-user"), QStringLiteral("contact-new")}},
        {QStringLiteral("square.and.arrow.down"), {QStringLiteral("document-import")}},
        {QStringLiteral("arrow.triangle.2.circlepath"), {QStringLiteral("view-refresh")}},
        {QStringLiteral("gearshape"), {QStringLiteral("preferences-system")}},
    };
    return names;
}

QString resourcePath(const QString& name) {
    return QStringLiteral(":/quillmere/icons/%1.svg").arg(name);
}

QByteArray drawing(const QString& name, const QColor& color) {
    QFile file(resourcePath(name));
    if (!file.open(QIODevice::ReadOnly)) {
        return {};
    }
    QByteArray svg = file.readAll();
    svg.replace("currentColor", color.name(QColor::HexRgb).toLatin1());
    return svg;
}

// Paints one SVG drawing at any size, so icons stay sharp on every screen scale.
class DrawingEngine : public QIconEngine {
public:
    explicit DrawingEngine(QByteArray svg)
        : m_svg(std::move(svg)) {}

    void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode, QIcon::State) override {
        QSvgRenderer renderer(m_svg);
        painter->save();
        if (mode == QIcon::Disabled) {
            painter->setOpacity(0.4);
        }
        renderer.render(painter, rect);
        painter->restore();
    }

    QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State state) override {
        QImage image(size, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        paint(&painter, QRect(QPoint(0, 0), size), mode, state);
        painter.end();
        return QPixmap::fromImage(image);
    }

    QIconEngine* clone() const override { return new DrawingEngine(m_svg); }
    QString key() const override { return QStringLiteral("quillmere-drawing"); }

private:
    QByteArray m_svg;
};

} // namespace

bool hasBundled(const QString& name) {
    return QFile::exists(resourcePath(name));
}

QIcon tinted(const QString& name, const QColor& color) {
    QByteArray svg = drawing(name, color);
    if (svg.isEmpty()) {
        return {};
    }
    return QIcon(new DrawingEngine(std::move(svg)));
}

QIcon symbol(const QString& name) {
    for (const QString& themed : themeNames().value(name)) {
        if (QIcon::hasThemeIcon(themed)) {
            return QIcon::fromTheme(themed);
        }
    }
    const QColor text = qApp ? QApplication::palette().color(QPalette::WindowText) : Qt::black;
    return tinted(name, text);
}

QIcon application() {
    QIcon icon = QIcon::fromTheme(QStringLiteral("quillmere"));
    if (icon.isNull()) {
        icon = QIcon(QStringLiteral(":/quillmere/quillmere.svg"));
    }
    return icon;
}

} // namespace quillmere::Icons
