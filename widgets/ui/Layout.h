#pragma once

// What every region of the window builds its controls with: the stored
// layout's fonts, a control at its stored place, and the speed buttons.

#include <QFont>
#include <QIcon>
#include <QString>
#include <QStringList>

class QFileDialog;
class QLabel;
class QObject;
class QToolButton;
class QWidget;

namespace voltaro::ui {

// The stored layout's fonts are Windows fonts; this is the closest Debian one
// at the same pixel size.
QFont uiFont(int pixels, bool bold = true);

// Names `w` and puts it at its stored place in its parent.
template <typename W> W* place(W* w, const char* name, int x, int y, int width, int height) {
    w->setObjectName(QString::fromLatin1(name));
    w->setGeometry(x, y, width, height);
    return w;
}

// A flat picture button that takes no focus, with its hint.
QToolButton* speedButton(QWidget* parent, const char* name, const QString& hint, const QIcon& icon, int x,
                         int y, int w, int h);

// A caption sized to its text.
QLabel* label(QWidget* parent, const char* name, const QString& text, int x, int y, const QFont& font);

// A file dialog of the program's own (the same on every desktop, and tests can
// answer it), made once by the region that uses it.
QFileDialog* fileDialog(QWidget* parent, const QString& objectName, const QString& title, bool save,
                        const QStringList& filters, const QString& defaultSuffix = QString());

// Destroys the children of `owner` now. A region calls it first in its
// destructor, so its controls are gone before the core objects they show.
void deleteChildren(QObject* owner);

} // namespace voltaro::ui
