#include "bench/StartupProbe.h"
#include "chat/UserConfig.h"
#include "chat/ui/ChatShell.h"
#include "chat/ui/ClientFrmMain.h"
#include "chat/ui/LocalTexts.h"
#include "components/ui/MessageBoxes.h"
#include "components/ui/QtItalianTranslations.h"
#include "platform/HelpRequest.h"
#include "platform/ShutdownSignals.h"
#include "platform/SingleInstance.h"

#include <QApplication>
#include <QThread>

using namespace Qt::StringLiterals;

int main(int argc, char* argv[]) {
    if (vestrel::onlyAsksForHelp(argc, argv))
        return vestrel::printHelp(
            "Usage: chatclient [MODE]\n"
            "The Vestrel chat client. Without arguments it opens its window; with one argument (any, for\n"
            "example --tray) it starts hidden in the notification area. A second start brings the first\n"
            "one forward.\n"
            "Settings: DovuziZez.ini (server host and port) and gruppi.ini (groups) beside the program,\n"
            "in /opt/vestrel once installed, where each user's own changes are kept in\n"
            "${XDG_CONFIG_HOME:-~/.config}/vestrel/; the rest in that folder's HKEY_LOCAL_MACHINE.reg.\n"
            "See chatclient(1).\n");
    QApplication app(argc, argv);
    app.setApplicationName(u"chatclient"_s);
    app.setQuitOnLastWindowClosed(false); // the window hides into the notification area; commands end the program
    vestrel::installQtItalianTranslations(app);

    vestrel::SingleInstance instance(u"chatclient"_s);
    const bool first = instance.tryAcquire();
    QThread::msleep(1000); // start-up pauses one second whether or not another instance runs
    if (!first) {
        instance.activateRunning();
        return 0;
    }

    vestrel::chat::TUserConfig config;
    vestrel::QtMessageBoxes boxes(u"Chat Vestrel"_s);
    vestrel::chat::ChatShell shell(config, boxes);
    vestrel::chat::TClientFrmMain& window = shell.window();
    boxes.setParent(&window);

    QObject::connect(&instance, &vestrel::SingleInstance::activationRequested, &shell,
                     &vestrel::chat::ChatShell::showWindow);
    // Stopped by the session or by a signal, the program logs out before it ends.
    vestrel::ShutdownSignals shutdown;
    QObject::connect(&shutdown, &vestrel::ShutdownSignals::shutdownRequested, &window,
                     &vestrel::chat::TClientFrmMain::exitProgram);
    QObject::connect(&app, &QGuiApplication::commitDataRequest, &window, [&window] { window.FormCloseQuery(); });

    shell.start(QCoreApplication::arguments());
    boxes.setTitle(vestrel::chat::localText(49750, u"Chat Vestrel"_s)); // the language is chosen now
    vestrel::bench::probeStartup(window);
    const int status = app.exec();
    shell.saveLayout();
    return status;
}
