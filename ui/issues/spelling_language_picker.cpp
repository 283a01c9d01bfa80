#include "ui/issues/spelling_language_picker.h"

#include "ui/issues/spell_checker.h"

#include <QLocale>

namespace quillmere {

SpellingLanguagePicker::SpellingLanguagePicker(SpellChecker& checker, QWidget* parent)
    : QComboBox(parent)
    , m_checker(checker) {
    setObjectName(QStringLiteral("spellingLanguage"));
    for (const QString& name : checker.availableLanguages()) {
        const QLocale locale(name);
        const QString label =
            locale.language() == QLocale::C
                ? name
                : QStringLiteral("%1 (%2)").arg(QLocale::languageToString(locale.language()),
                                                QLocale::territoryToString(locale.territory()));
        addItem(label, name);
    }
    if (count() == 0) {
        addItem(tr("No dictionaries installed"));
        setEnabled(false);
        return;
    }
    setCurrentIndex(std::max(0, findData(checker.language())));
    connect(this, &QComboBox::activated, this,
            [this](int index) { m_checker.setLanguage(itemData(index).toString()); });
}

} // namespace quillmere
