#include "app/translations.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

namespace ridelog {

namespace {

std::unique_ptr<QTranslator> loadedTranslator(const QString& fileName, const QString& folder)
{
    auto translator = std::make_unique<QTranslator>();
    if (!translator->load(fileName, folder) || translator->isEmpty())
        return nullptr;
    if (!QCoreApplication::installTranslator(translator.get()))
        return nullptr;
    return translator;
}

} // namespace

UiLanguage uiLanguageFor(const QStringList& uiLanguages)
{
    for (const QString& name : uiLanguages) {
        switch (QLocale(name).language()) {
        case QLocale::Japanese:
            return UiLanguage::Japanese;
        case QLocale::English:
            return UiLanguage::English;
        default:
            break;
        }
    }
    return UiLanguage::English;
}

Translations::Translations() = default;

Translations::~Translations()
{
    if (ridelog_)
        QCoreApplication::removeTranslator(ridelog_.get());
    if (qt_)
        QCoreApplication::removeTranslator(qt_.get());
}

UiLanguage Translations::install(UiLanguage wanted, const TranslationFolders& folders)
{
    if (wanted == UiLanguage::English) {
        ridelog_ = loadedTranslator(QStringLiteral("ridelog_en"), folders.ridelog);
        if (ridelog_)
            return UiLanguage::English;
        qWarning("ridelog: no English translation in %s, the texts stay Japanese",
                 qUtf8Printable(folders.ridelog));
    }
    // Japanese: the source texts, and Qt's own dialogs in Japanese too. A missing Qt
    // translation leaves those dialogs in English, which is all that can be done.
    const QString qtFolder =
        folders.qt.isEmpty() ? QLibraryInfo::path(QLibraryInfo::TranslationsPath) : folders.qt;
    qt_ = loadedTranslator(QStringLiteral("qtbase_ja"), qtFolder);
    return UiLanguage::Japanese;
}

} // namespace ridelog
