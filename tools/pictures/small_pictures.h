#pragma once
// The window's small pictures. Each is drawn with hard edges on the key colour
// (magenta); the program makes the colour of the bottom-left pixel transparent.

#include <QImage>

namespace pictures {

enum class Small {
    Start,
    Stop,
    Send,
    Sum,
    Bcc,
    Calculator,
    Notepad,
    Clear,  // 24 x 24 button pictures
    Timer,  // 16 x 16 beside the timer box
    About,  // 48 x 48 on the About page
    MenuLoad,
    MenuSave,
    MenuCopyAll,
    MenuCopy,
    MenuPaste,
    MenuClear,  // 16 x 16 menu pictures
};

QImage DrawSmall(Small picture);

// 150 x 176: the About page's hidden picture, on white.
QImage HiddenPicture();

}  // namespace pictures
