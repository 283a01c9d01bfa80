#pragma once

#include <QComboBox>

namespace quillmere {

class SpellChecker;

// The dictionary the editor checks spelling against, among those installed; the choice is
// remembered in the settings.
class SpellingLanguagePicker : public QComboBox {
    Q_OBJECT

public:
    explicit SpellingLanguagePicker(SpellChecker& checker, QWidget* parent = nullptr);

private:
    SpellChecker& m_checker;
};

} // namespace quillmere
