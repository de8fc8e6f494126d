#include "chat/ClientFrmMain.h"
#include "chat/UserConfig.h"
#include "components/MessageBoxes.h"
#include "components/QtItalianTranslations.h"
#include "platform/ShutdownSignals.h"
#include "platform/SingleInstance.h"

#include <QApplication>
#include <QThread>

using namespace Qt::StringLiterals;

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    app.setApplicationName(u"chatclient"_s);
    app.setQuitOnLastWindowClosed(false); // the window decides when the program ends
    vestrel::installQtItalianTranslations(app);

    vestrel::SingleInstance instance(u"chatclient"_s);
    const bool first = instance.tryAcquire();
    QThread::msleep(1000); // start-up pauses one second whether or not another instance runs
    if (!first) {
        instance.activateRunning();
        return 0;
    }

    vestrel::TUserConfig config;
    vestrel::QtMessageBoxes boxes(u"Chat Vestrel"_s);
    vestrel::TClientFrmMain window(config, boxes);
    boxes.setParent(&window);

    QObject::connect(&instance, &vestrel::SingleInstance::activationRequested, &window,
                     &vestrel::TClientFrmMain::bringToFront);
    QObject::connect(&window, &vestrel::TClientFrmMain::applicationTerminateRequested, &app, &QCoreApplication::quit,
                     Qt::QueuedConnection);
    // Stopped by the session or by a signal, the program logs out before it ends.
    vestrel::ShutdownSignals shutdown;
    QObject::connect(&shutdown, &vestrel::ShutdownSignals::shutdownRequested, &window, [&window, &app] {
        window.FormCloseQuery();
        app.quit();
    });
    QObject::connect(&app, &QGuiApplication::commitDataRequest, &window, [&window] { window.FormCloseQuery(); });

    // Until the window can wait in the notification area, a start meant to be hidden is minimised.
    if (QCoreApplication::arguments().size() == 2)
        window.showMinimized();
    else
        window.show();
    // The start-up steps (with the connect, up to ten seconds when the server does not answer) run once
    // the window is on screen and its events are served.
    QMetaObject::invokeMethod(&window, &vestrel::TClientFrmMain::FormCreate, Qt::QueuedConnection);
    return app.exec();
}
