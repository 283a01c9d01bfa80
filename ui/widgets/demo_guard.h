#pragma once

#include "app/app_model.h"
#include "ui/widgets/style.h"

#include <QAbstractButton>
#include <QAction>

namespace quillmere::DemoGuard {

// Enables a control that reaches Amazon, Cloudflare, the worker or the keychain when `enabled`
// and not in demo mode; in demo mode it is off and its tooltip says why.
template <class Control>
void enable(Control* control, const AppModel& model, bool enabled) {
    control->setEnabled(enabled && !model.isDemo());
    if (model.isDemo()) {
        control->setToolTip(AppModel::demoRefusal);
    } else if (control->toolTip() == AppModel::demoRefusal) {
        control->setToolTip(QString());
    }
}

// The same for a control whose other reason to be off is shown as its tooltip: demo mode comes
// first, then `reason` (none: on).
inline void block(QWidget* control, const AppModel& model, const QString& reason) {
    Style::setBlocked(control, model.isDemo() ? AppModel::demoRefusal : reason);
}

} // namespace quillmere::DemoGuard
