#include "ui/widgets/accessibility.h"

#include <QAccessibleWidget>
#include <QWidget>

namespace quillmere::Accessibility {

namespace {

const char* const roleProperty = "quillmereAccessibleRole";

QAccessibleInterface* withRole(const QString&, QObject* object) {
    auto* widget = qobject_cast<QWidget*>(object);
    if (!widget) {
        return nullptr;
    }
    const QVariant role = widget->property(roleProperty);
    return role.isValid() ? new QAccessibleWidget(widget, QAccessible::Role(role.toInt()))
                          : nullptr;
}

} // namespace

void describe(QWidget* widget, QAccessible::Role role, const QString& name) {
    static const bool installed = [] {
        QAccessible::installFactory(withRole);
        return true;
    }();
    Q_UNUSED(installed);
    widget->setProperty(roleProperty, int(role));
    widget->setAccessibleName(name);
}

} // namespace quillmere::Accessibility
