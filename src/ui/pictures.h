#pragma once

#include <QIcon>

namespace dazoroz::ui {

// The pictures of the program (drawn by scripts/draw-pictures.py, built in as resources).
// The button pictures are 16 x 16 with their own disabled image.
QIcon sendPicture();       // a pager
QIcon clearPicture();      // a magic wand
QIcon cancelSendPicture(); // an abort sign
// The program's icon (the pager at 16, 48 and 256 pixels).
QIcon applicationIcon();

} // namespace dazoroz::ui
