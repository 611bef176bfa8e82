#pragma once

// voltaro-log and meter-sim as child processes of a test: the programs the
// user runs, fed through pseudo-terminals.

#include "support/Wait.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QStringList>

#include <csignal>
#include <functional>
#include <vector>

namespace voltaro::testing {

// voltaro-log running in a child process: its standard output read line by
// line as it comes, with the time each line arrived here.
class LogProcess {
public:
    // `errorTo`: a file (a terminal) for standard error instead of a pipe.
    explicit LogProcess(const QStringList& args, const QString& stateHome,
                        const std::function<void()>& inChild = {}, const QString& errorTo = {}) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_STATE_HOME", stateHome);
        p_.setProcessEnvironment(env);
        if (inChild)
            p_.setChildProcessModifier(inChild);
        QObject::connect(&p_, &QProcess::readyReadStandardOutput, [this] { readLines(); });
        QObject::connect(&p_, &QProcess::readyReadStandardError,
                         [this] { err += QString::fromUtf8(p_.readAllStandardError()); });
        if (!errorTo.isEmpty())
            p_.setStandardErrorFile(errorTo);
        clock_.start();
        p_.start(QStringLiteral(VOLTARO_LOG_PATH), args);
        p_.waitForStarted(5000);
    }
    ~LogProcess() {
        if (p_.state() != QProcess::NotRunning) {
            p_.kill();
            p_.waitForFinished(5000);
        }
    }

    bool waitForLines(qsizetype n, int timeoutMs = 10000) {
        return waitUntil([&] { return lines.size() >= n || p_.state() == QProcess::NotRunning; },
                         timeoutMs) &&
               lines.size() >= n;
    }
    bool waitForError(const QString& text, int timeoutMs = 10000) {
        return waitUntil([&] { return err.contains(text) || p_.state() == QProcess::NotRunning; },
                         timeoutMs) &&
               err.contains(text);
    }
    bool running() const { return p_.state() != QProcess::NotRunning; }
    void signal(int sig) { ::kill(static_cast<pid_t>(p_.processId()), sig); }
    qint64 now() const { return clock_.elapsed(); }
    // The exit status once it has ended; -1 for a program killed or still running.
    int finish(int timeoutMs = 10000) {
        waitUntil([&] { return p_.state() == QProcess::NotRunning; }, timeoutMs);
        if (p_.state() != QProcess::NotRunning)
            return -1;
        readLines();
        err += QString::fromUtf8(p_.readAllStandardError());
        return p_.exitStatus() == QProcess::NormalExit ? p_.exitCode() : -1;
    }

    QStringList lines;
    std::vector<qint64> arrived; // ms since the start, one per line
    QString err;

private:
    void readLines() {
        pending_ += p_.readAllStandardOutput();
        qsizetype end;
        while ((end = pending_.indexOf('\n')) >= 0) {
            lines << QString::fromUtf8(pending_.left(end));
            arrived.push_back(clock_.elapsed());
            pending_.remove(0, end + 1);
        }
    }

    QProcess p_;
    QElapsedTimer clock_;
    QByteArray pending_;
};

// meter-sim serving a pseudo-terminal.
class SimPty {
public:
    explicit SimPty(const QStringList& args) {
        sim_.start(QStringLiteral(METER_SIM_PATH), QStringList{"--pty"} + args);
        if (sim_.waitForStarted(5000) && sim_.waitForReadyRead(5000))
            path = QString::fromUtf8(sim_.readLine()).trimmed();
    }
    ~SimPty() {
        sim_.kill();
        sim_.waitForFinished(5000);
    }
    QString path;

private:
    QProcess sim_;
};

} // namespace voltaro::testing
