#include "tools/VoltaroLog.h"

#include <QCoreApplication>

#include <csignal>
#include <sys/signalfd.h>

int main(int argc, char** argv) {
    // Interrupts arrive through a descriptor the event loop watches, so the
    // cable's read thread is stopped and the device released before exit.
    // Blocked before any thread starts, so every thread leaves them to it.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    const int stopFd = signalfd(-1, &stopSignals, SFD_CLOEXEC | SFD_NONBLOCK);

    QCoreApplication app(argc, argv);
    voltaro::VoltaroLog log(stopFd, stdout, stderr);
    return log.run(std::vector<std::string>(argv + 1, argv + argc));
}
