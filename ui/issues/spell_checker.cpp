#include "ui/issues/spell_checker.h"

#include "core/library_store.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QSaveFile>
#include <QSettings>

#include <enchant.h>

namespace quillmere {

namespace {

const QString languageKey = QStringLiteral("spelling/language");

QSettings settings() {
    return QSettings(QStringLiteral("Quillmere"), QStringLiteral("Quillmere"));
}

} // namespace

struct SpellChecker::Enchant {
    EnchantBroker* broker = enchant_broker_init();
    EnchantDict* dict = nullptr;

    ~Enchant() {
        release();
        enchant_broker_free(broker);
    }
    void release() {
        if (dict) {
            enchant_broker_free_dict(broker, dict);
            dict = nullptr;
        }
    }
};

SpellChecker& SpellChecker::shared() {
    static SpellChecker* checker = new SpellChecker(
        QFileInfo(LibraryStore::defaultPath()).absolutePath() + QStringLiteral("/words.txt"));
    return *checker;
}

SpellChecker::SpellChecker(QString personalListPath, QString language, QObject* parent)
    : QObject(parent)
    , m_enchant(std::make_unique<Enchant>())
    , m_personalListPath(std::move(personalListPath)) {
    QFile list(m_personalListPath);
    if (list.open(QIODevice::ReadOnly)) {
        for (const QByteArray& line : list.readAll().split('\n')) {
            const QString word = QString::fromUtf8(line).trimmed();
            if (!word.isEmpty()) {
                m_accepted.insert(word);
            }
        }
    }
    if (language.isEmpty()) {
        language = settings().value(languageKey).toString();
    }
    if (language.isEmpty()) {
        language = QLocale::system().name();
    }
    // An unconfigured system ("C", "POSIX") speaks English.
    if (language == QLatin1String("C") || language == QLatin1String("POSIX")) {
        language = QStringLiteral("en_US");
    }
    setLanguage(language, false);
}

SpellChecker::~SpellChecker() = default;

QStringList SpellChecker::availableLanguages() const {
    QStringList found;
    enchant_broker_list_dicts(
        m_enchant->broker,
        [](const char* tag, const char*, const char*, const char*, void* data) {
            auto* list = static_cast<QStringList*>(data);
            const QString name = QString::fromUtf8(tag);
            if (!list->contains(name)) {
                list->append(name);
            }
        },
        &found);
    found.sort();
    return found;
}

QString SpellChecker::bestMatch(const QString& locale, const QStringList& available) {
    const QString wanted = QString(locale).replace(QLatin1Char('-'), QLatin1Char('_'));
    if (available.contains(wanted)) {
        return wanted;
    }
    const QString language = wanted.section(QLatin1Char('_'), 0, 0);
    for (const QString& name : available) {
        if (name == language || name.startsWith(language + QLatin1Char('_'))) {
            return name;
        }
    }
    return {};
}

void SpellChecker::setLanguage(const QString& language, bool remember) {
    const QString chosen = bestMatch(language, availableLanguages());
    if (remember) {
        settings().setValue(languageKey, language);
    }
    m_enchant->release();
    m_language.clear();
    if (!chosen.isEmpty()) {
        m_enchant->dict =
            enchant_broker_request_dict(m_enchant->broker, chosen.toUtf8().constData());
        if (m_enchant->dict) {
            m_language = chosen;
        }
    }
    m_cache.clear();
    Q_EMIT changed();
}

QString SpellChecker::normalised(const QString& word) const {
    // Typographic apostrophes are what the dictionaries call apostrophes.
    return QString(word).replace(QChar(0x2019), QLatin1Char('\''));
}

bool SpellChecker::isCorrect(const QString& word) {
    if (!m_enchant->dict || word.isEmpty()) {
        return true;
    }
    const auto cached = m_cache.constFind(word);
    if (cached != m_cache.cend()) {
        return *cached;
    }
    bool correct = m_accepted.contains(word);
    if (!correct) {
        const QByteArray utf8 = normalised(word).toUtf8();
        correct = enchant_dict_check(m_enchant->dict, utf8.constData(), utf8.size()) == 0;
    }
    m_cache.insert(word, correct);
    return correct;
}

QStringList SpellChecker::suggestions(const QString& word, int limit) {
    QStringList out;
    if (!m_enchant->dict) {
        return out;
    }
    const QByteArray utf8 = normalised(word).toUtf8();
    size_t count = 0;
    char** list = enchant_dict_suggest(m_enchant->dict, utf8.constData(), utf8.size(), &count);
    for (size_t i = 0; i < count && out.size() < limit; ++i) {
        out.append(QString::fromUtf8(list[i]));
    }
    if (list) {
        enchant_dict_free_string_list(m_enchant->dict, list);
    }
    return out;
}

void SpellChecker::addToPersonalList(const QString& word) {
    m_accepted.insert(word);
    m_cache.remove(word);
    QDir().mkpath(QFileInfo(m_personalListPath).absolutePath());
    // Ignored words share the set; only the file's own words and this one are written.
    QStringList kept;
    QFile current(m_personalListPath);
    if (current.open(QIODevice::ReadOnly)) {
        kept = QString::fromUtf8(current.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }
    if (!kept.contains(word)) {
        kept.append(word);
    }
    kept.sort();
    QSaveFile file(m_personalListPath);
    if (file.open(QIODevice::WriteOnly)) {
        file.write(kept.join(QLatin1Char('\n')).toUtf8() + '\n');
        file.commit();
    }
    Q_EMIT accepted(word);
}

void SpellChecker::ignore(const QString& word) {
    m_accepted.insert(word);
    m_cache.remove(word);
    Q_EMIT accepted(word);
}

} // namespace quillmere
