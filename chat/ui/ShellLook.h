#pragma once

class QWidget;

namespace vestrel::chat {

// The chat client's dialogs: a sky-blue background, and (for the group dialogs) 13-pixel Tahoma texts.
void paintSkyBlue(QWidget* window);
void useDialogFont(QWidget* window);

} // namespace vestrel::chat
