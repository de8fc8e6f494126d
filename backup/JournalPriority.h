#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>

namespace vestrel::backup {

// The line a message becomes on a standard error that the journal reads: its syslog priority as a
// "<N>" prefix (errors 3, warnings 4, information 6, debugging 7), so that "journalctl -p err" finds
// failures, then the category and the text; every line of a message of several lines is prefixed.
QByteArray JournalLines(QtMsgType type, const char* category, const QString& message);

// When standard error is connected to the journal ($JOURNAL_STREAM names it), sends every message of
// the process there with its priority. Elsewhere (a terminal, a test) messages are left as they are.
void RouteMessagesToJournal();

} // namespace vestrel::backup
