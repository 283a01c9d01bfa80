#pragma once

#include <QAccessible>
#include <QString>

class QWidget;

namespace quillmere::Accessibility {

// Names a custom widget for screen readers and gives it the role it plays (a toast is an alert,
// a card a group), where Qt would only see a plain pane.
void describe(QWidget* widget, QAccessible::Role role, const QString& name);

} // namespace quillmere::Accessibility
