#pragma once

#include "core/sender_profile.h"

class QCheckBox;
class QLineEdit;
class QObject;

namespace quillmere {

class AppModel;
class PostalAddressField;
class RegionPicker;

// Two-way bindings between a control and one field of the publication profile: an edit writes
// through to the model (which saves with its usual debounce), and a change from anywhere else
// shows in the control without disturbing the caret of the one being typed in.
namespace ProfileBinding {

void bind(QLineEdit* field, AppModel& model, QString SenderProfile::*member);
void bind(PostalAddressField* field, AppModel& model, QString SenderProfile::*member);
void bind(QCheckBox* toggle, AppModel& model, bool SenderProfile::*member);
void bind(RegionPicker* picker, AppModel& model, QString SenderProfile::*member);

} // namespace ProfileBinding

} // namespace quillmere
