#include "reminders/DueTool.h"

#include <QCoreApplication>

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    QStringList arguments = QCoreApplication::arguments();
    arguments.removeFirst();
    return vestrel::reminders::RunDueTool(arguments, stdout, stderr);
}
