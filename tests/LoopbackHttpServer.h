#pragma once

// A tiny HTTP server on 127.0.0.1 for download tests: every request gets one canned
// reply, or none at all. It is served by whatever event loop runs, so the download under
// test, waiting in its own loop on the same thread, drives it.

#include <QByteArray>
#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>

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
                    socket->disconnectFromHost();
                }
            });
        }
    }

    QTcpServer server_;
    std::optional<std::string> reply_;
    int requests_ = 0;
};

/// A server on a thread of its own that answers every request with `head` and then
/// `piece` without end, each written as fast as the reader takes it (blocking, as a
/// remote server is): framed as a chunk of a chunked body each, or bare.
class StreamingHttpServer {
public:
    StreamingHttpServer(std::string head, std::string piece, bool framed)
        : head_(std::move(head)),
          frame_(framed ? Hex(piece.size()) + "\r\n" + piece + "\r\n" : std::move(piece)) {
        listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (listener_ < 0 ||
            ::bind(listener_, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
            ::listen(listener_, 4) != 0 ||
            ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
            throw std::runtime_error("cannot listen on 127.0.0.1");
        }
        port_ = ntohs(address.sin_port);
        thread_ = std::thread([this] { Serve(); });
    }
    ~StreamingHttpServer() {
        stop_ = true;
        thread_.join();
        ::close(listener_);
    }
    StreamingHttpServer(const StreamingHttpServer&) = delete;
    StreamingHttpServer& operator=(const StreamingHttpServer&) = delete;

    std::string Url() const { return "http://127.0.0.1:" + std::to_string(port_) + "/weather.txt"; }

private:
    // Waits for `events` on `fd` in short steps, so that the destructor is never kept.
    bool Ready(int fd, short events) const {
        pollfd p{fd, events, 0};
        while (!stop_) {
            if (::poll(&p, 1, 20) > 0) {
                return true;
            }
        }
        return false;
    }

    void Serve() {
        while (Ready(listener_, POLLIN)) {
            const int client = ::accept(listener_, nullptr, nullptr);
            if (client < 0) {
                continue;
            }
            std::string request;
            char buffer[4096];
            while (request.find("\r\n\r\n") == std::string::npos && Ready(client, POLLIN)) {
                const ssize_t n = ::recv(client, buffer, sizeof buffer, 0);
                if (n <= 0) {
                    break;
                }
                request.append(buffer, static_cast<std::size_t>(n));
            }
            if (request.find("\r\n\r\n") != std::string::npos) {
                Send(client, head_);
                while (Send(client, frame_)) {
                }
            }
            ::close(client);
        }
    }

    // False once the reader has gone (or the server stops).
    bool Send(int fd, const std::string& data) const {
        std::size_t sent = 0;
        while (sent < data.size()) {
            if (!Ready(fd, POLLOUT)) {
                return false;
            }
            const ssize_t n = ::send(fd, data.data() + sent, data.size() - sent, MSG_NOSIGNAL);
            if (n <= 0) {
                return false;
            }
            sent += static_cast<std::size_t>(n);
        }
        return true;
    }

    static std::string Hex(std::size_t n) {
        std::string digits;
        do {
            digits.insert(digits.begin(), "0123456789abcdef"[n % 16]);
            n /= 16;
        } while (n > 0);
        return digits;
    }

    std::string head_;
    std::string frame_;
    int listener_ = -1;
    int port_ = 0;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

} // namespace vantorel::testing
