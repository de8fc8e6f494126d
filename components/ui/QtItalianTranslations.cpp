#include "components/ui/QtItalianTranslations.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QPointer>
#include <QTranslator>

using namespace Qt::StringLiterals;

namespace vestrel {

namespace {
// The catalogue installed here last, so that choosing another language replaces it.
QPointer<QTranslator>& installedCatalogue() {
    static QPointer<QTranslator> installed;
    return installed;
}
} // namespace

bool installQtTranslations(QCoreApplication& app, QLocale::Language language) {
    QPointer<QTranslator>& installed = installedCatalogue();
    if (installed) {
        QCoreApplication::removeTranslator(installed);
        delete installed.data();
    }
    if (language == QLocale::English || language == QLocale::C)
        return true;
    auto* translator = new QTranslator(&app);
    if (!translator->load(QLocale(language), u"qtbase"_s, u"_"_s, QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        delete translator;
        return false;
    }
    installed = translator;
    return QCoreApplication::installTranslator(translator);
}

bool installQtItalianTranslations(QCoreApplication& app) {
    return installQtTranslations(app, QLocale::Italian);
}

} // namespace vestrel
