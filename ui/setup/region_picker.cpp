#include "ui/setup/region_picker.h"

namespace quillmere {

RegionPicker::RegionPicker(QWidget* parent)
    : QComboBox(parent) {
    addItems(regions());
    setMaxVisibleItems(int(regions().size()));
    connect(this, &QComboBox::activated, this,
            [this](int index) { Q_EMIT regionChosen(itemText(index)); });
}

const QStringList& RegionPicker::regions() {
    static const QStringList list{
        QStringLiteral("us-east-1"),      QStringLiteral("us-east-2"),
        QStringLiteral("us-west-1"),      QStringLiteral("us-west-2"),
        QStringLiteral("ca-central-1"),   QStringLiteral("eu-west-1"),
        QStringLiteral("eu-west-2"),      QStringLiteral("eu-west-3"),
        QStringLiteral("eu-central-1"),   QStringLiteral("eu-north-1"),
        QStringLiteral("eu-south-1"),     QStringLiteral("ap-south-1"),
        QStringLiteral("ap-southeast-1"), QStringLiteral("ap-southeast-2"),
        QStringLiteral("ap-northeast-1"), QStringLiteral("ap-northeast-2"),
        QStringLiteral("ap-northeast-3"), QStringLiteral("sa-east-1"),
        QStringLiteral("me-south-1"),     QStringLiteral("af-south-1"),
    };
    return list;
}

void RegionPicker::setRegion(const QString& region) {
    setCurrentIndex(findText(region));
}

} // namespace quillmere
