// The application icon, drawn in code so that no image file has to ship
// beside the program: a rounded square with a note, at the sizes the tray
// and the window manager ask for.
//
// GUI thread (needs a QGuiApplication).
#pragma once

#include <QIcon>

QIcon AppIcon();
