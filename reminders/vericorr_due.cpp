#include "fb/LockFolder.h"
#include "reminders/DueTool.h"

#include <QCoreApplication>

int main(int argc, char* argv[]) {
    vestrel::fb::chooseEmbeddedLockFolder();
    QCoreApplication app(argc, argv);
    QStringList arguments = QCoreApplication::arguments();
    arguments.removeFirst();
    return vestrel::reminders::RunDueTool(arguments, stdout, stderr);
}
