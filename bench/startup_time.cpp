// Start-up to a shown window: builds the real main window, shows it and quits
// at its first paint. Time the whole process from outside (for example
// `/usr/bin/time -v`); it also prints the time from main() to the first paint.
#include "widgets/app/TFCOMM.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QFile>
#include <QTemporaryDir>

#include <cstdio>

namespace {

class FirstPaint : public QObject {
public:
    explicit FirstPaint(QElapsedTimer& t) : t_(t) {}
    bool eventFilter(QObject*, QEvent* e) override {
        if (e->type() == QEvent::Paint && !done_) {
            done_ = true;
            std::fprintf(stderr, "main() to first paint: %.1f ms\n", t_.nsecsElapsed() / 1e6);
            QMetaObject::invokeMethod(qApp, &QCoreApplication::quit, Qt::QueuedConnection);
        }
        return false;
    }

private:
    QElapsedTimer& t_;
    bool done_ = false;
};

} // namespace

int main(int argc, char** argv) {
    QElapsedTimer t;
    t.start();
    QApplication app(argc, argv);
    // The journal of what is recorded here goes to a folder of its own, not the user's.
    QTemporaryDir state;
    qputenv("XDG_STATE_HOME", QFile::encodeName(state.path()));
    voltaro::TFCOMM window;
    FirstPaint probe(t);
    window.centralWidget()->installEventFilter(&probe);
    window.show();
    return QApplication::exec();
}
