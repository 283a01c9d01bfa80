#include "ui/widgets/section_header.h"

#include "ui/widgets/style.h"

namespace quillmere {

SectionHeader::SectionHeader(const QString& title, QWidget* parent)
    : QLabel(title, parent) {
    setFont(Style::title(this, 1.25));
    setTextInteractionFlags(Qt::NoTextInteraction);
}

} // namespace quillmere
