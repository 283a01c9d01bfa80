#include "ui_fixture.h"

#include <QChart>
#include <QChartView>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QValueAxis>

namespace {

// The desktop portal's settings, as a desktop publishes them, on the session bus. It answers
// from its own thread, so a caller that waits for it on the interface thread gets its answer.
class Portal : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.portal.Settings")

public:
    uint scheme = 1;

public Q_SLOTS:
    QDBusVariant Read(const QString& group, const QString& key) {
        if (group == QLatin1String("org.freedesktop.appearance") &&
            key == QLatin1String("color-scheme")) {
            return QDBusVariant(QVariant::fromValue(QDBusVariant(scheme)));
        }
        return QDBusVariant(QString());
    }
};

double luminance(const QColor& c) {
    auto channel = [](double v) {
        return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * channel(c.redF()) + 0.7152 * channel(c.greenF()) + 0.0722 * channel(c.blueF());
}

double contrast(const QColor& a, const QColor& b) {
    const double x = luminance(a) + 0.05;
    const double y = luminance(b) + 0.05;
    return std::max(x, y) / std::min(x, y);
}

} // namespace

class TestColorScheme : public QObject {
    Q_OBJECT

    QThread m_thread;
    Portal* m_portal = nullptr;
    QDBusConnection m_bus{QDBusConnection::connectToBus(QDBusConnection::SessionBus, u"portal"_s)};

private Q_SLOTS:
    void initTestCase() {
        QVERIFY2(m_bus.isConnected(), "no session bus");
        m_portal = new Portal;
        m_portal->moveToThread(&m_thread);
        m_thread.start();
        QVERIFY(m_bus.registerObject(u"/org/freedesktop/portal/desktop"_s, m_portal,
                                     QDBusConnection::ExportAllSlots));
        QVERIFY(m_bus.registerService(u"org.freedesktop.portal.Desktop"_s));
    }

    void cleanupTestCase() {
        m_thread.quit();
        m_thread.wait();
        delete m_portal;
    }

    void followsTheDesktop() {
        ColorScheme scheme;
        QVERIFY(scheme.isDark());
        const QPalette dark = QApplication::palette();
        QVERIFY(dark.color(QPalette::Window).lightness() < 80);
        // Placeholders stay readable on their fields (WCAG's 4.5:1 for body text).
        QVERIFY(contrast(dark.color(QPalette::PlaceholderText), dark.color(QPalette::Base)) >= 4.5);
        QLineEdit field;
        field.setPlaceholderText(u"Search subscribers"_s);
        QCOMPARE(field.palette().color(QPalette::PlaceholderText),
                 dark.color(QPalette::PlaceholderText));

        // An unticked check box on a card (drawn in the base colour) shows its edge (WCAG's 3:1
        // for a control's boundary).
        QCheckBox box(u"Ask new readers to confirm"_s);
        box.resize(box.sizeHint());
        QImage card(box.size(), QImage::Format_RGB32);
        card.fill(dark.color(QPalette::Base));
        box.render(&card, {}, {}, QWidget::DrawChildren);
        QStyleOptionButton option;
        option.initFrom(&box);
        const QRect indicator = box.style()->subElementRect(QStyle::SE_CheckBoxIndicator, &option);
        double edge = 0;
        for (int y = indicator.top(); y <= indicator.bottom(); ++y) {
            for (int x = indicator.left(); x <= indicator.right(); ++x) {
                edge = std::max(edge, contrast(card.pixelColor(x, y), dark.color(QPalette::Base)));
            }
        }
        QVERIFY2(edge >= 3, qPrintable(QString::number(edge)));

        // The chart's grid is drawn in the palette's quiet tones, not glaring white.
        UIFixture f;
        f.onboarded();
        f.open({u"-section"_s, u"stats"_s});
        auto* stats = qobject_cast<StatsView*>(f.window->screen(AppSection::stats));
        auto* axis =
            static_cast<QValueAxis*>(stats->chart()->chart()->axes(Qt::Horizontal).first());
        QVERIFY(axis->gridLineColor().lightness() < 128);
        QVERIFY(contrast(axis->labelsColor(), dark.color(QPalette::Window)) >= 4.5);

        // The desktop switching to light brings the light palette.
        QSignalSpy changed(&scheme, &ColorScheme::changed);
        QDBusMessage signal =
            QDBusMessage::createSignal(u"/org/freedesktop/portal/desktop"_s,
                                       u"org.freedesktop.portal.Settings"_s, u"SettingChanged"_s);
        signal << u"org.freedesktop.appearance"_s << u"color-scheme"_s
               << QVariant::fromValue(QDBusVariant(uint(2)));
        QVERIFY(m_bus.send(signal));
        QTRY_COMPARE(changed.size(), 1);
        QVERIFY(!scheme.isDark());
        const QPalette light = QApplication::palette();
        QVERIFY(light.color(QPalette::Window).lightness() > 180);
        QVERIFY(contrast(light.color(QPalette::PlaceholderText), light.color(QPalette::Base)) >=
                4.5);
    }
};

QUILLMERE_UI_TEST_MAIN(TestColorScheme)
#include "tst_color_scheme.moc"
