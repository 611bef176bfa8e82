#pragma once

#include <QIcon>
#include <QPixmap>

namespace voltaro::pictures {

// The window's own pictures, drawn at start-up rather than stored as files.
QIcon windowIcon();
QPixmap linkOn();  // the blink picture shown while frames arrive
QPixmap linkOff(); // its partner
QPixmap enlarge();
QPixmap restore();
QIcon quit();
QIcon closeData();
QIcon openFile();
QIcon saveFile();
QIcon print();
QIcon saveChart();
QIcon first();
QIcon previous();
QIcon next();
QIcon last();

} // namespace voltaro::pictures
