#pragma once

#include <QIcon>
#include <QPixmap>

namespace vestrel::chat {

// The chat window's pictures, drawn at run time: the 15 by 15 connection-state pictures of the status
// bar (red when disconnected, green when connected), the send button's arrow and the window icon.
QPixmap connectionPicture(bool connected);
QIcon sendButtonIcon();
QIcon chatWindowIcon();
// The window icon greyed, with a red dot: the notification area's sign that the client is offline.
QIcon disconnectedTrayIcon();

} // namespace vestrel::chat
