#pragma once

#include <QHash>
#include <QObject>
#include <QSet>
#include <QStringList>

#include <memory>

namespace quillmere {

// Spelling through Enchant 2 (over the system's Hunspell dictionaries), shared by every editor
// of the process. The language comes from the settings, else from the system locale; words the
// writer adds are kept in a personal list in the data folder, words they ignore are forgotten
// when the application quits. Without a dictionary for the language nothing is flagged.
class SpellChecker : public QObject {
    Q_OBJECT

public:
    // The process's checker, created on first use.
    static SpellChecker& shared();

    // `personalListPath`: one word a line, UTF-8. `language` empty: the settings, else the
    // system locale.
    explicit SpellChecker(QString personalListPath, QString language = {},
                          QObject* parent = nullptr);
    ~SpellChecker() override;

    // Dictionaries installed on this computer ("en_US", "de_DE", ...), sorted.
    QStringList availableLanguages() const;
    // The language in use; empty when no dictionary serves it.
    QString language() const { return m_language; }
    // Picks the dictionary (and remembers the choice in the settings when `remember`).
    void setLanguage(const QString& language, bool remember = true);

    // True for a correctly spelt, added or ignored word, and for everything while there is no
    // dictionary.
    bool isCorrect(const QString& word);
    QStringList suggestions(const QString& word, int limit = 6);
    void addToPersonalList(const QString& word);
    void ignore(const QString& word);

    // The dictionary that best serves a locale name among those available: the same name,
    // else one of the same language, else none.
    static QString bestMatch(const QString& locale, const QStringList& available);

Q_SIGNALS:
    // The language changed: editors check everything again.
    void changed();
    // A word is accepted from now on: editors check again where it occurs.
    void accepted(const QString& word);

private:
    struct Enchant;
    QString normalised(const QString& word) const;

    std::unique_ptr<Enchant> m_enchant;
    QString m_personalListPath;
    QString m_language;
    QSet<QString> m_accepted; // personal and ignored words
    QHash<QString, bool> m_cache;
};

} // namespace quillmere
