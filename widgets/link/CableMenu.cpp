#include "widgets/link/CableMenu.h"

#include "core/link/CableLink.h"
#include "core/link/hid/UsbCable.h"

#include <QActionGroup>
#include <QMenu>
#include <QRegularExpression>

#include <climits>

#include <algorithm>

namespace voltaro {

namespace {

// A port path's numbers ("1-1.10" after "1-1.9"); a cable not on USB after all.
std::vector<int> socketOrder(const THidPnPInfo& info) {
    std::vector<int> numbers;
    if (info.PortPath.isEmpty())
        return {INT_MAX};
    for (const QString& part : info.PortPath.split(QRegularExpression(QStringLiteral("[-.]"))))
        numbers.push_back(part.toInt());
    return numbers;
}

} // namespace

CableMenu::CableMenu(QMenu* menu, CableLink& cable) : QObject(menu), menu_(menu), cable_(cable) {
    setObjectName(QStringLiteral("CableMenu"));
    separator_ = menu_->addSeparator();
    group_ = new QActionGroup(this);
    group_->setExclusive(true);
    connect(&cable_, &CableLink::listChanged, this, &CableMenu::rebuild);
    rebuild();
}

void CableMenu::setChoosable(bool choosable) {
    choosable_ = choosable;
    for (QAction* a : items_)
        a->setEnabled(choosable);
}

QAction* CableMenu::add(const QString& text, const CableChoice& choice) {
    QAction* a = menu_->addAction(text);
    a->setCheckable(true);
    a->setChecked(choice == cable_.choice());
    a->setEnabled(choosable_);
    group_->addAction(a);
    // Chosen for the run: the list is rebuilt around it whenever it changes.
    connect(a, &QAction::triggered, this, [this, choice] { cable_.setChoice(choice); });
    items_.push_back(a);
    return a;
}

void CableMenu::rebuild() {
    for (QAction* a : items_) {
        group_->removeAction(a);
        menu_->removeAction(a);
        a->deleteLater();
    }
    items_.clear();
    add(QStringLiteral("Any USB cable"), CableChoice());
    // Only the meter's cables (no choice here sends a report to a mouse), in
    // the order of their sockets, whatever order they were plugged in.
    std::vector<THidDevice*> cables;
    for (int i = 0; i < cable_.deviceCount(); ++i)
        if (cable_.deviceAt(i).ProductName() == usbcable::kProductName)
            cables.push_back(&cable_.deviceAt(i));
    std::stable_sort(cables.begin(), cables.end(), [](THidDevice* x, THidDevice* y) {
        return socketOrder(x->PnPInfo()) < socketOrder(y->PnPInfo());
    });
    bool chosenListed = cable_.choice().isDefault();
    for (THidDevice* d : cables) {
        const QString port = d->PnPInfo().PortPath;
        const CableChoice choice =
            port.isEmpty() ? CableChoice::parse(d->PnPInfo().DevicePath) : CableChoice::atPort(port);
        chosenListed = chosenListed || choice == cable_.choice();
        add(cableMenuText(*d), choice);
    }
    // Out of its socket, the chosen cable stays chosen: the link reads it once it is back.
    if (!chosenListed)
        add(QStringLiteral("USB cable") + cable_.choice().where() + QStringLiteral(" (not plugged in)"),
            cable_.choice());
}

} // namespace voltaro
