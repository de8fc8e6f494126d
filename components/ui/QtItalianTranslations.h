#pragma once

#include <QLocale>

class QCoreApplication;

namespace vestrel {

// Loads Qt's own Italian texts (the "qtbase" catalogue shipped with Qt) into `app`, so that the
// standard buttons of message boxes and dialogs read "Sì", "No", "Annulla" like the rest of the UI.
// The translator belongs to `app`. Returns false, and changes nothing, when the catalogue is missing.
bool installQtItalianTranslations(QCoreApplication& app);

// Gives Qt's own texts the language the program chose, replacing those installed by either function
// before: Qt's catalogue for `language`, or none for English (Qt's own texts are English). Returns
// false when the catalogue is missing; Qt's texts are then English.
bool installQtTranslations(QCoreApplication& app, QLocale::Language language);

} // namespace vestrel
