#pragma once

#include "app/app_model.h"

#include <functional>

namespace quillmere {

// Calls `changed` whenever something that decides the completion of a setup step may have
// changed: keys, account, identity, profile, readers, demo mode.
inline void onSetupStateChange(AppModel& model, QObject* context,
                               const std::function<void()>& changed) {
    for (auto signal :
         {&AppModel::awsKeysChanged, &AppModel::accountChanged, &AppModel::identityChanged,
          &AppModel::profileChanged, &AppModel::subscribersChanged, &AppModel::isDemoChanged}) {
        QObject::connect(&model, signal, context, changed);
    }
}

} // namespace quillmere
