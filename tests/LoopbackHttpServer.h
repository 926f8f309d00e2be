#pragma once

// A tiny HTTP server on 127.0.0.1 for download tests: every request gets one canned
// reply, or none at all. It is served by whatever event loop runs, so the download under
// test, waiting in its own loop on the same thread, drives it.

#include <QByteArray>
#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>

#include <memory>
#include <optional>
#include <stdexcept>
#include <string>

namespace vantorel::testing {

class LoopbackHttpServer {
public:
    /// reply: the whole response, status line to body; nullopt: read requests, never answer.
    explicit LoopbackHttpServer(std::optional<std::string> reply) : reply_(std::move(reply)) {
        if (!server_.listen(QHostAddress::LocalHost, 0)) {
            throw std::runtime_error("cannot listen on 127.0.0.1");
        }
        QObject::connect(&server_, &QTcpServer::newConnection, [this] { Accept(); });
    }

    /// A 200 reply (or another status) with a body.
    static std::string Reply(const std::string& body, const std::string& status = "200 OK") {
        return "HTTP/1.1 " + status +
               "\r\nContent-Type: text/plain\r\nContent-Length: " + std::to_string(body.size()) +
               "\r\nConnection: close\r\n\r\n" + body;
    }

    /// After `reply`, `piece` without end, each sent once the last has gone: framed as a
    /// chunk of a chunked body each, or bare (the reply declared one chunk of any size).
    void StreamEndlessly(std::string piece, bool framed) {
        endless_ = std::move(piece);
        framed_ = framed;
    }

    std::string Url(const std::string& path = "/weather.txt") const {
        return "http://127.0.0.1:" + std::to_string(server_.serverPort()) + path;
    }
    /// Requests whose header has arrived.
    int Requests() const { return requests_; }

private:
    void Accept() {
        while (QTcpSocket* socket = server_.nextPendingConnection()) { // owned by server_
            auto received = std::make_shared<QByteArray>();
            QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, socket, received] {
                const bool complete = received->contains("\r\n\r\n");
                received->append(socket->readAll());
                if (complete || !received->contains("\r\n\r\n")) {
                    return;
                }
                ++requests_;
                if (reply_) {
                    socket->write(reply_->data(), static_cast<qint64>(reply_->size()));
                    if (endless_.empty()) {
                        socket->disconnectFromHost();
                        return;
                    }
                    const std::string frame =
                        framed_ ? Hex(endless_.size()) + "\r\n" + endless_ + "\r\n" : endless_;
                    QObject::connect(socket, &QTcpSocket::bytesWritten, socket, [socket, frame] {
                        if (socket->bytesToWrite() == 0) {
                            socket->write(frame.data(), static_cast<qint64>(frame.size()));
                        }
                    });
                    socket->write(frame.data(), static_cast<qint64>(frame.size()));
                }
            });
        }
    }

    static std::string Hex(std::size_t n) {
        std::string digits;
        do {
            digits.insert(digits.begin(), "0123456789abcdef"[n % 16]);
            n /= 16;
        } while (n > 0);
        return digits;
    }

    QTcpServer server_;
    std::optional<std::string> reply_;
    std::string endless_;
    bool framed_ = true;
    int requests_ = 0;
};

} // namespace vantorel::testing
