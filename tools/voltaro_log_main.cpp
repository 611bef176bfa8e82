#include "core/recording/FileWrites.h"
#include "tools/SystemdManager.h"
#include "tools/VoltaroLog.h"

#include <QCoreApplication>

#include <csignal>
#include <sys/signalfd.h>

int main(int argc, char** argv) {
    // Interrupts arrive through a descriptor the event loop watches, so the
    // cable's read thread is stopped, the device released and the output
    // file completed before exit. Blocked before any thread starts, so every
    // thread leaves them to it. A hang-up (the terminal closed) ends the
    // recording the same way, unless it is ignored (nohup).
    voltaro::filewrites::withholdWritesFromOthers();
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    struct sigaction hangUp {};
    if (sigaction(SIGHUP, nullptr, &hangUp) == 0 && hangUp.sa_handler != SIG_IGN)
        sigaddset(&stopSignals, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    const int stopFd = signalfd(-1, &stopSignals, SFD_CLOEXEC | SFD_NONBLOCK);
    // A reader of standard output that goes away, or a file grown past the
    // size limit, is an error the program reports, not the end of it.
    std::signal(SIGPIPE, SIG_IGN);
    std::signal(SIGXFSZ, SIG_IGN);

    QCoreApplication app(argc, argv);
    voltaro::VoltaroLog log(stopFd, stdout, stderr);
    log.setServiceManager(voltaro::systemdManager());
    return log.run(std::vector<std::string>(argv + 1, argv + argc));
}
