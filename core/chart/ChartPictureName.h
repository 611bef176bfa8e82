#pragma once

#include <QString>

namespace voltaro {

// The file a chart picture is saved as, for the name chosen in the save
// dialog: a name whose suffix is exactly "bmp" is kept; otherwise its suffix,
// if it has one, is replaced by ".bmp" and a name without one gets ".bmp"
// appended. The suffix is what follows the last dot of the file name (not of
// its folders), compared case-sensitively, so "a.BMP" becomes "a.bmp".
QString chartPictureFileName(const QString& chosen);

} // namespace voltaro
