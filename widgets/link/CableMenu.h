#pragma once

#include "core/link/CableChoice.h"

#include <QObject>
#include <QString>

#include <vector>

class QAction;
class QActionGroup;
class QMenu;

namespace voltaro {

class CableLink;

// The USB cables in the "ComSetup" menu, below the ports: "Any USB cable"
// (the last one listed as exactly "USB to Serial") and one item for each
// cable plugged in, named by the USB socket it is in ("USB cable at 1-1.2",
// with ", serial X" when it has a serial number). The list follows cables as
// they come and go; the one chosen stays in it, marked as not plugged in,
// while it is out, and stays chosen for the run. The link reads the chosen
// cable from its next start.
class CableMenu : public QObject {
    Q_OBJECT
public:
    CableMenu(QMenu* menu, CableLink& cable);

    // While the cable link runs or waits, the choice cannot change.
    void setChoosable(bool choosable);
    // The items after the ports' (for tests): the first is "Any USB cable".
    const std::vector<QAction*>& items() const { return items_; }

private:
    void rebuild();
    QAction* add(const QString& text, const CableChoice& choice);

    QMenu* menu_;
    CableLink& cable_;
    QAction* separator_ = nullptr;
    QActionGroup* group_ = nullptr;
    std::vector<QAction*> items_;
    bool choosable_ = true;
};

} // namespace voltaro
