#include "components/ui/MessageBoxes.h"
#include "components/ui/QtItalianTranslations.h"
#include "fb/LockFolder.h"
#include "platform/Clock.h"
#include "platform/ShutdownSignals.h"
#include "reminders/ui/VERicorrMain.h"

#include <QApplication>

using namespace Qt::StringLiterals;

int main(int argc, char* argv[]) {
    vestrel::fb::chooseEmbeddedLockFolder();
    QApplication app(argc, argv);
    app.setApplicationName(u"VERicorr"_s);
    app.setQuitOnLastWindowClosed(false); // popups and dialogs come and go; the data module ends the run
    vestrel::installQtItalianTranslations(app);

    vestrel::QtMessageBoxes boxes(u"Promemoria Vestrel"_s);
    vestrel::SystemClock clock;
    vestrel::reminders::TForm1 form1(boxes, clock);
    QObject::connect(
        &form1, &vestrel::reminders::TForm1::terminateRequested, &app, [&app](int status) { app.exit(status); },
        Qt::QueuedConnection);
    vestrel::ShutdownSignals shutdown;
    QObject::connect(&shutdown, &vestrel::ShutdownSignals::shutdownRequested, &app, [&app] { app.exit(0); });

    QStringList arguments = QCoreApplication::arguments();
    arguments.removeFirst();
    if (const std::optional<int> status = form1.FormCreate(arguments))
        return *status;
    return app.exec();
}
