#include "ui/translations.h"

#include <QCoreApplication>
#include <QTranslator>

namespace quillmere {

void installTranslations() {
    static const bool installed = [] {
        auto* english = new QTranslator(QCoreApplication::instance());
        return english->load(QStringLiteral(":/quillmere/translations/quillmere_en.qm")) &&
               QCoreApplication::installTranslator(english);
    }();
    if (!installed) {
        qWarning("the interface's translations are missing");
    }
}

} // namespace quillmere
