// The program's icon, drawn here rather than shipped as a picture: a white envelope on a red
// tile, with a file sheet tucked in it.
#pragma once

#include <QIcon>
#include <QImage>

// Needs no display: the installed icon file is made from it at build time.
QImage ProgramImage(int size);
// The icon at the usual sizes, for the window and the About box.
QIcon ProgramIcon();
