#pragma once

#include "app/app_model.h"

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

} // namespace quillmere::DemoGuard
