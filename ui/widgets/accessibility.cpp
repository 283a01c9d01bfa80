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
    // Qt keeps the interface it made for a widget; one made before the role was given (when an
    // ancestor was disabled, say) would speak with the plain widget's role for good.
    if (QAccessibleInterface* face = QAccessible::queryAccessibleInterface(widget);
        face && face->role() != role) {
        QAccessible::deleteAccessibleInterface(QAccessible::uniqueId(face));
    }
}

} // namespace quillmere::Accessibility
