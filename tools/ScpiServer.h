#pragma once

#include "tools/ScpiCommands.h"

#include <QElapsedTimer>
#include <QHostAddress>
#include <QObject>
#include <QTcpServer>
#include <QTimer>

#include <functional>
#include <optional>
#include <string>
#include <vector>

class QTcpSocket;

namespace voltaro {

// voltaro-log's SCPI server: raw socket SCPI as instruments serve it on
// port 5025, newline-terminated lines in and out, for test scripts. It
// answers from the newest reading it was given; READ? and MEASure? wait for
// the next one (up to two seconds) without holding up the others. A reading
// older than kStaleMs is none: the meter streams several a second, so the
// link is gone, and FETCh? says the data are stale rather than repeat it.
//
// Each client has its own error queue and bounds of its own: a line longer
// than kLongestLine is dropped with -363; while kMostPending bytes of its
// answers wait to be sent, its lines are not read (the kernel's buffers push
// back on its sender); a client whose answers have not moved for
// kStallMs is closed. At most kMostClients are served at once. Runs on the
// thread of the event loop.
class ScpiServer : public QObject {
    Q_OBJECT
public:
    static constexpr qsizetype kLongestLine = 4096;
    static constexpr qint64 kMostPending = 64 * 1024;
    static constexpr int kReadWaitMs = 2000;
    static constexpr qint64 kStaleMs = 3000;
    static constexpr qint64 kStallMs = 5000;
    static constexpr int kMostClients = 32;

    // `identity`: what *IDN? answers; `say` tells the user of a client
    // closed for not reading and of the first connection refused.
    ScpiServer(std::string identity, std::function<void(const std::string&)> say, QObject* parent = nullptr);
    ~ScpiServer() override;

    // Listens on `address`, port `port` (0: a free one); false with `error` set when it cannot.
    bool listen(const QHostAddress& address, quint16 port, std::string* error);
    quint16 port() const { return server_.serverPort(); }
    QHostAddress address() const { return server_.serverAddress(); }

    // The meter's newest reading; a client waiting for the next one gets it.
    void reading(const ScpiReading& r);
    // Clients connected now.
    int clientCount() const { return static_cast<int>(clients_.size()); }

private:
    struct Client;
    void accept();
    void serve(Client& c);
    std::optional<std::string> nextLine(Client& c);
    void send(Client& c, const std::string& out);
    void checkStalls();
    void drop(Client* c);

    std::string identity_;
    std::function<void(const std::string&)> say_;
    QTcpServer server_;
    std::vector<Client*> clients_; // owned; deleted later when dropped
    std::optional<ScpiReading> newest_;
    QElapsedTimer newestAge_;
    QTimer stalls_;
    int refused_ = 0; // connections refused because there were too many
};

} // namespace voltaro
