#include "tools/ScpiServer.h"

#include <QTcpSocket>

#include <algorithm>

namespace voltaro {

// One connection: its socket, its side of the conversation, the part of a
// line it has sent so far, and the wait of a READ?.
struct ScpiServer::Client : QObject {
    Client(QTcpSocket* s, const std::string& identity) : socket(s), interpreter(identity) {
        socket->setParent(this);
        wait.setSingleShot(true);
        wait.setInterval(kReadWaitMs);
        drained.start();
    }
    QTcpSocket* socket;
    ScpiInterpreter interpreter;
    std::string line;
    bool skipping = false; // the rest of an over-long line is dropped
    QTimer wait;
    QElapsedTimer drained; // since its answers last moved, or none waited
};

ScpiServer::ScpiServer(std::string identity, std::function<void(const std::string&)> say, QObject* parent)
    : QObject(parent), identity_(std::move(identity)), say_(std::move(say)) {
    connect(&server_, &QTcpServer::newConnection, this, &ScpiServer::accept);
    stalls_.setInterval(1000);
    connect(&stalls_, &QTimer::timeout, this, &ScpiServer::checkStalls);
}

ScpiServer::~ScpiServer() {
    for (Client* c : clients_)
        delete c;
}

bool ScpiServer::listen(const QHostAddress& address, quint16 port, std::string* error) {
    if (server_.listen(address, port)) {
        stalls_.start();
        return true;
    }
    *error = "cannot serve SCPI on " + address.toString().toStdString() + " port " + std::to_string(port) +
             ": " + server_.errorString().toStdString() + " (give --scpi another port, or 0 for a free one)";
    return false;
}

void ScpiServer::accept() {
    while (QTcpSocket* socket = server_.nextPendingConnection()) {
        if (clientCount() >= kMostClients) {
            if (++refused_ == 1)
                say_("refused an SCPI client from " + socket->peerAddress().toString().toStdString() + ": " +
                     std::to_string(kMostClients) + " are served already (further refusals are not told)");
            socket->abort();
            socket->deleteLater();
            continue;
        }
        // Qt reads no further ahead than this: a client that floods is held back by TCP.
        socket->setReadBufferSize(4 * kLongestLine);
        // An answer goes out at once, not held back to be joined with the next.
        socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        auto* c = new Client(socket, identity_);
        clients_.push_back(c);
        connect(socket, &QTcpSocket::readyRead, c, [this, c] { serve(*c); });
        connect(socket, &QTcpSocket::bytesWritten, c, [this, c] {
            c->drained.restart();
            serve(*c);
        });
        connect(socket, &QTcpSocket::disconnected, c, [this, c] { drop(c); });
        connect(&c->wait, &QTimer::timeout, c, [this, c] {
            std::string out;
            c->interpreter.nextReading(nullptr, out);
            send(*c, out);
            serve(*c);
        });
        serve(*c);
    }
}

void ScpiServer::reading(const ScpiReading& r) {
    newest_ = r;
    newestAge_.start();
    for (Client* c : clients_) {
        if (!c->interpreter.waiting())
            continue;
        c->wait.stop();
        std::string out;
        c->interpreter.nextReading(&r, out);
        send(*c, out);
        serve(*c);
    }
}

void ScpiServer::serve(Client& c) {
    const ScpiReading* newest = newest_ && newestAge_.elapsed() <= kStaleMs ? &*newest_ : nullptr;
    std::string out;
    c.interpreter.run(newest, out);
    // Lines are read while no command waits and the client takes its answers.
    while (!c.interpreter.waiting() &&
           c.socket->bytesToWrite() + static_cast<qint64>(out.size()) < kMostPending) {
        const auto line = nextLine(c);
        if (!line)
            break;
        c.interpreter.takeLine(*line);
        c.interpreter.run(newest, out);
    }
    if (c.interpreter.waiting() && !c.wait.isActive())
        c.wait.start();
    send(c, out);
}

std::optional<std::string> ScpiServer::nextLine(Client& c) {
    for (;;) {
        const std::size_t end = c.line.find('\n');
        if (end != std::string::npos) {
            std::string line = c.line.substr(0, end);
            c.line.erase(0, end + 1);
            if (std::exchange(c.skipping, false))
                continue;
            return line;
        }
        if (static_cast<qsizetype>(c.line.size()) >= kLongestLine) {
            if (!std::exchange(c.skipping, true))
                c.interpreter.pushError(-363);
            c.line.clear();
        }
        char chunk[4096];
        const qint64 room = std::min<qint64>(sizeof chunk, kLongestLine - static_cast<qint64>(c.line.size()));
        const qint64 n = c.socket->read(chunk, room);
        if (n <= 0)
            return std::nullopt;
        c.line.append(chunk, static_cast<std::size_t>(n));
    }
}

void ScpiServer::send(Client& c, const std::string& out) {
    if (out.empty())
        return;
    if (c.socket->bytesToWrite() == 0)
        c.drained.restart();
    c.socket->write(out.data(), static_cast<qint64>(out.size()));
}

void ScpiServer::checkStalls() {
    std::vector<Client*> stalled;
    for (Client* c : clients_) {
        if (c->socket->bytesToWrite() == 0)
            c->drained.restart();
        else if (c->drained.elapsed() > kStallMs)
            stalled.push_back(c);
    }
    for (Client* c : stalled) {
        say_("closed the SCPI client " + c->socket->peerAddress().toString().toStdString() + ":" +
             std::to_string(c->socket->peerPort()) +
             ": it sent commands but read none of their answers for " + std::to_string(kStallMs / 1000) +
             " s");
        drop(c);
    }
}

void ScpiServer::drop(Client* c) {
    const auto it = std::find(clients_.begin(), clients_.end(), c);
    if (it == clients_.end())
        return;
    clients_.erase(it);
    c->socket->disconnect(c);
    c->wait.stop();
    c->socket->abort();
    c->deleteLater();
}

} // namespace voltaro
