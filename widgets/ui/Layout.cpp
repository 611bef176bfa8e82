#include "widgets/ui/Layout.h"

#include <QFileDialog>
#include <QLabel>
#include <QToolButton>

namespace voltaro::ui {

QFont uiFont(int pixels, bool bold) {
    QFont f(QStringLiteral("Liberation Sans"));
    f.setPixelSize(pixels);
    f.setBold(bold);
    return f;
}

QToolButton* speedButton(QWidget* parent, const char* name, const QString& hint, const QIcon& icon, int x,
                         int y, int w, int h) {
    auto* b = place(new QToolButton(parent), name, x, y, w, h);
    b->setToolTip(hint);
    b->setIcon(icon);
    b->setAutoRaise(true);
    b->setFocusPolicy(Qt::NoFocus);
    return b;
}

QLabel* label(QWidget* parent, const char* name, const QString& text, int x, int y, const QFont& font) {
    auto* l = new QLabel(text, parent);
    l->setObjectName(QString::fromLatin1(name));
    l->setFont(font);
    l->move(x, y);
    l->adjustSize();
    return l;
}

QFileDialog* fileDialog(QWidget* parent, const QString& objectName, const QString& title, bool save,
                        const QStringList& filters, const QString& defaultSuffix) {
    auto* dialog = new QFileDialog(parent, title);
    dialog->setObjectName(objectName);
    dialog->setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dialog->setFileMode(save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
    dialog->setNameFilters(filters);
    dialog->setDefaultSuffix(defaultSuffix);
    dialog->setOption(QFileDialog::DontUseNativeDialog);
    dialog->setSizeGripEnabled(true);
    return dialog;
}

void deleteChildren(QObject* owner) {
    // A child's destructor may take siblings with it, so look again each time.
    while (!owner->children().isEmpty())
        delete owner->children().constFirst();
}

} // namespace voltaro::ui
