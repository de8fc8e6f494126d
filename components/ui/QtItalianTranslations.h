#pragma once

class QCoreApplication;

namespace vestrel {

// Loads Qt's own Italian texts (the "qtbase" catalogue shipped with Qt) into `app`, so that the
// standard buttons of message boxes and dialogs read "Sì", "No", "Annulla" like the rest of the UI.
// The translator belongs to `app`. Returns false, and changes nothing, when the catalogue is missing.
bool installQtItalianTranslations(QCoreApplication& app);

} // namespace vestrel
