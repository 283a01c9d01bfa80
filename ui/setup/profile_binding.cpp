#include "ui/setup/profile_binding.h"

#include "app/app_model.h"
#include "ui/setup/postal_address_field.h"
#include "ui/setup/region_picker.h"

#include <QCheckBox>
#include <QLineEdit>

namespace quillmere {

namespace ProfileBinding {

namespace {

template <class T>
void write(AppModel& model, T SenderProfile::*member, const T& value) {
    SenderProfile profile = model.library().profile;
    profile.*member = value;
    model.setProfile(profile);
}

} // namespace

void bind(QLineEdit* field, AppModel& model, QString SenderProfile::*member) {
    field->setText(model.library().profile.*member);
    QObject::connect(field, &QLineEdit::textEdited, field,
                     [&model, member](const QString& text) { write(model, member, text); });
    QObject::connect(&model, &AppModel::profileChanged, field, [field, &model, member] {
        const QString& value = model.library().profile.*member;
        if (field->text() != value) {
            field->setText(value);
        }
    });
}

void bind(PostalAddressField* field, AppModel& model, QString SenderProfile::*member) {
    field->setText(model.library().profile.*member);
    QObject::connect(field, &QPlainTextEdit::textChanged, field, [field, &model, member] {
        if (model.library().profile.*member != field->text()) {
            write(model, member, field->text());
        }
    });
    QObject::connect(&model, &AppModel::profileChanged, field,
                     [field, &model, member] { field->setText(model.library().profile.*member); });
}

void bind(QCheckBox* toggle, AppModel& model, bool SenderProfile::*member) {
    toggle->setChecked(model.library().profile.*member);
    QObject::connect(toggle, &QCheckBox::toggled, toggle, [&model, member](bool on) {
        if (model.library().profile.*member != on) {
            write(model, member, on);
        }
    });
    QObject::connect(&model, &AppModel::profileChanged, toggle, [toggle, &model, member] {
        toggle->setChecked(model.library().profile.*member);
    });
}

void bind(RegionPicker* picker, AppModel& model, QString SenderProfile::*member) {
    picker->setRegion(model.library().profile.*member);
    QObject::connect(picker, &RegionPicker::regionChosen, picker,
                     [&model, member](const QString& region) { write(model, member, region); });
    QObject::connect(&model, &AppModel::profileChanged, picker, [picker, &model, member] {
        picker->setRegion(model.library().profile.*member);
    });
}

} // namespace ProfileBinding

} // namespace quillmere
