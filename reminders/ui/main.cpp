#include "components/ui/MessageBoxes.h"
#include "components/ui/QtItalianTranslations.h"
#include "fb/LockFolder.h"
#include "platform/Clock.h"
#include "platform/HelpRequest.h"
#include "platform/ShutdownSignals.h"
#include "reminders/ui/VERicorrMain.h"

#include <QApplication>

using namespace Qt::StringLiterals;

int main(int argc, char* argv[]) {
    if (vestrel::onlyAsksForHelp(argc, argv))
        return vestrel::printHelp(
            "Usage: VERicorr [x [OP=xx] [PC=yy]]\n"
            "Without arguments: the editor of the Vestrel reminders. With a first argument (any; it is\n"
            "not examined): today's reminders for operator xx at workstation yy as popups; the program\n"
            "ends when the last popup has closed.\n"
            "The database is named in config.ini, section [Database], beside the program (/opt/vestrel\n"
            "once installed; each user's own changes in ${XDG_CONFIG_HOME:-~/.config}/vestrel/config.ini).\n"
            "Exit status 1 when the database cannot be opened, 2 for more than three arguments.\n"
            "See VERicorr(1).\n");
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
