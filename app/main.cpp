// Program entry: the main window and the second, never-shown window, then the
// event loop until the application is told to quit.
#include "app/EndingSignals.h"
#include "app/TFCOMM.h"

#include <QApplication>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QString());
    voltaro::TFCOMM FCOMM;
    voltaro::endOnSignals(FCOMM);
    QWidget TForm1;
    TForm1.setObjectName(QStringLiteral("TForm1"));
    TForm1.setWindowTitle(QStringLiteral("Form1"));
    TForm1.resize(696, 480);
    FCOMM.show();
    return QApplication::exec();
}
