// The language of the windows and the translators that give it.
//
// The texts in the source are Japanese. Under a Japanese locale they are shown as they are and
// Qt's own dialogs (file dialog, overwrite question, standard buttons) get Qt's Japanese
// translation; under any other locale, one Ridelog does not know included, Ridelog speaks
// English and Qt keeps its own English texts.
#pragma once

#include <QString>
#include <QStringList>
#include <memory>

class QTranslator;

namespace ridelog {

enum class UiLanguage
{
    Japanese,
    English,
};

// The first of the user's languages (QLocale::uiLanguages(), most preferred first) that
// Ridelog speaks; English when there is none.
UiLanguage uiLanguageFor(const QStringList& uiLanguages);

struct TranslationFolders
{
    // Where ridelog_en.qm is: built into the program.
    QString ridelog = QStringLiteral(":/i18n");
    // Where Qt's qtbase_ja.qm is; empty: Qt's own translations folder.
    QString qt;
};

class Translations
{
public:
    Translations();
    ~Translations(); // takes the translators out of the application again
    Translations(const Translations&) = delete;
    Translations& operator=(const Translations&) = delete;

    // Installs the translators for the wanted language into the application and returns the
    // language the windows speak: Japanese, the source texts, when the English file cannot be
    // loaded. Call once, after the application object exists.
    UiLanguage install(UiLanguage wanted, const TranslationFolders& folders = {});

    bool ridelogTranslationLoaded() const { return ridelog_ != nullptr; }
    bool qtTranslationLoaded() const { return qt_ != nullptr; }

private:
    std::unique_ptr<QTranslator> ridelog_;
    std::unique_ptr<QTranslator> qt_;
};

} // namespace ridelog
