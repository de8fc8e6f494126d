#pragma once

#include <QStringList>

#include <cstdio>

namespace vestrel::reminders {

// vericorr-due: prints the reminders a workstation will see today, or records a dismissal.
//   vericorr-due [--date YYYY-MM-DD] [OP=xx] [PC=yy]
//   vericorr-due --dismiss ID [--date YYYY-MM-DD]
// Exit status: 0 done, 1 the settings or the database failed, 2 wrong usage.
namespace duetool {
inline constexpr int ExitOk = 0;
inline constexpr int ExitFailure = 1;
inline constexpr int ExitUsage = 2;
} // namespace duetool

// `arguments` without the program name. Due reminders go to `out` as "ID<TAB>CRITERIO<TAB>Descrizione"
// lines in UTF-8; messages go to `err`.
int RunDueTool(const QStringList& arguments, FILE* out, FILE* err);

} // namespace vestrel::reminders
