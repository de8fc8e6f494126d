#pragma once

#include <QByteArray>

namespace vestrel::chat {

// The password of the chat account, held in memory for the run and kept in the desktop's secret
// store, never in a settings file. The demo alone gives it in $VESTREL_CHAT_PASSWORD instead.
namespace ChatPassword {

// The password for `account`: the one set in this run, else $VESTREL_CHAT_PASSWORD, else the
// secret store's. Empty when none is known; `storeAnswered` tells whether a secret store answered
// (when none did, the user is asked at start and the answer lives in memory only).
QByteArray get(const QByteArray& account, bool* storeAnswered = nullptr);
// Sets it for this run and offers it to the secret store; false when only memory holds it.
bool set(const QByteArray& account, const QByteArray& password);
// Sets it for this run only.
void remember(const QByteArray& account, const QByteArray& password);

} // namespace ChatPassword

} // namespace vestrel::chat
