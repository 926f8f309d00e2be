// One download over a socket of Qt Network, made synchronous with a local event loop.
// The socket's read buffer is bounded and the reply is parsed as it arrives, so a server
// faster than the cap can hold no more than the cap in memory (a QNetworkAccessManager
// reads ahead on a thread of its own, without bound). Each call owns its sockets, so
// calls on different threads share nothing. Built into the download module with the
// reply's parser (see DownloadModule.h).
#include "keps/DownloadModule.h"

#include "common/Format.h"
#include "common/Version.h"
#include "keps/HttpReply.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTcpSocket>
#include <QTimer>
#include <QUrl>
#if QT_CONFIG(ssl)
#include <QSslError>
#include <QSslSocket>
#endif

#include <algorithm>
#include <memory>

namespace vantorel {
namespace {

constexpr int kMaxRedirects = 5;
// What the socket reads ahead of the parser.
constexpr qint64 kSocketBuffer = 64 * 1024;
void EnsureCoreApplication() {
    if (QCoreApplication::instance() != nullptr) {
        return;
    }
    static int argc = 1;
    static char name[] = "vantorel";
    static char* argv[] = {name, nullptr};
    static const std::unique_ptr<QCoreApplication> app =
        std::make_unique<QCoreApplication>(argc, argv);
}

std::string SizeText(std::size_t bytes) {
    constexpr std::size_t kMiB = std::size_t{1} << 20;
    return bytes % kMiB == 0 ? Format("%u MiB", bytes / kMiB) : Format("%u bytes", bytes);
}

// One request and its reply, with no redirect followed.
struct TExchange {
    THttpReply Reply;
    bool TimedOut = false;
    std::string Error; // the socket's, "" when it worked
};

std::string RequestText(const QUrl& target) {
    QByteArray path = target.path(QUrl::FullyEncoded).toLatin1();
    if (path.isEmpty()) {
        path = "/";
    }
    if (target.hasQuery()) {
        path += '?' + target.query(QUrl::FullyEncoded).toLatin1();
    }
    const int defaultPort = target.scheme() == "https" ? 443 : 80;
    QByteArray host = target.host(QUrl::FullyEncoded).toLatin1();
    if (host.contains(':')) {
        host = '[' + host + ']';
    }
    if (target.port(defaultPort) != defaultPort) {
        host += ':' + QByteArray::number(target.port());
    }
    return "GET " + path.toStdString() + " HTTP/1.1\r\nHost: " + host.toStdString() +
           "\r\nUser-Agent: Vantorel/" + kVersion +
           "\r\nAccept: */*\r\nAccept-Encoding: identity\r\nConnection: close\r\n\r\n";
}

TExchange Exchange(const QUrl& target, std::size_t maxBytes, int remainingMs) {
    TExchange exchange{THttpReply(maxBytes), false, ""};
    const bool secure = target.scheme() == "https";
    std::unique_ptr<QTcpSocket> socket;
    std::string sslProblems;
#if QT_CONFIG(ssl)
    if (secure) {
        if (!QSslSocket::supportsSsl()) {
            exchange.Error = "https is not available: Qt has no TLS backend here";
            return exchange;
        }
        auto ssl = std::make_unique<QSslSocket>();
        QObject::connect(ssl.get(), &QSslSocket::sslErrors, [&](const QList<QSslError>& errors) {
            for (const QSslError& e : errors) {
                if (!sslProblems.empty()) {
                    sslProblems += "; ";
                }
                sslProblems += e.errorString().toStdString();
            }
        });
        socket = std::move(ssl);
    }
#endif
    if (secure && socket == nullptr) {
        exchange.Error = "https is not available: Qt was built without TLS";
        return exchange;
    }
    if (socket == nullptr) {
        socket = std::make_unique<QTcpSocket>();
    }
    // Bounded: the socket stops reading from the network until the parser has taken it.
    socket->setReadBufferSize(kSocketBuffer);

    QEventLoop loop;
    const std::string request = RequestText(target);
    const auto send = [&] { socket->write(request.data(), static_cast<qint64>(request.size())); };
    const auto finish = [&] {
        socket->abort();
        loop.quit();
    };
    const auto take = [&] {
        while (socket->bytesAvailable() > 0) {
            const QByteArray bytes = socket->read(kSocketBuffer);
            const THttpReply::TState state =
                exchange.Reply.Feed(std::string_view(bytes.constData(), bytes.size()));
            if (state != THttpReply::TState::Head && state != THttpReply::TState::Body) {
                finish();
                return;
            }
        }
    };
    QObject::connect(socket.get(), &QTcpSocket::readyRead, take);
    QObject::connect(socket.get(), &QTcpSocket::disconnected, [&] {
        take();
        exchange.Reply.End();
        loop.quit();
    });
    QObject::connect(
        socket.get(), &QAbstractSocket::errorOccurred, [&](QAbstractSocket::SocketError error) {
            if (error == QAbstractSocket::RemoteHostClosedError) {
                return; // the end of a reply that runs to it: `disconnected`
            }
            exchange.Error = socket->errorString().toStdString();
            if (!sslProblems.empty() && exchange.Error.find(sslProblems) == std::string::npos) {
                exchange.Error += " (" + sslProblems + ")";
            }
            loop.quit();
        });
    QTimer deadline;
    deadline.setSingleShot(true);
    deadline.setTimerType(Qt::PreciseTimer);
    QObject::connect(&deadline, &QTimer::timeout, [&] {
        exchange.TimedOut = true;
        finish();
    });
    const quint16 port = static_cast<quint16>(target.port(secure ? 443 : 80));
#if QT_CONFIG(ssl)
    if (auto* ssl = qobject_cast<QSslSocket*>(socket.get())) {
        QObject::connect(ssl, &QSslSocket::encrypted, send);
        ssl->connectToHostEncrypted(target.host(), port);
    }
#endif
    if (!secure) {
        QObject::connect(socket.get(), &QTcpSocket::connected, send);
        socket->connectToHost(target.host(), port);
    }
    deadline.start(std::max(remainingMs, 1));
    // A window stays painted, but its buttons wait: nothing can start a second run or
    // change the folder meanwhile.
    loop.exec(QEventLoop::ExcludeUserInputEvents);
    deadline.stop();
    QObject::disconnect(socket.get(), nullptr, nullptr, nullptr);
    socket->abort();
    if (exchange.Error.empty() && !exchange.TimedOut &&
        (exchange.Reply.State() == THttpReply::TState::Head ||
         exchange.Reply.State() == THttpReply::TState::Body)) {
        exchange.Reply.End();
    }
    return exchange;
}

bool IsRedirect(int status) {
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

TDownloaded Get(const std::string& url, const TDownloadLimits& limits) {
    const QUrl first(QString::fromStdString(url), QUrl::StrictMode);
    if (!first.isValid() || (first.scheme() != "http" && first.scheme() != "https") ||
        first.host().isEmpty()) {
        return {std::nullopt, "\"" + url + "\" is not an http or https URL"};
    }
    EnsureCoreApplication();

    QElapsedTimer elapsed;
    elapsed.start();
    const auto timeout = static_cast<qint64>(limits.Timeout.count());
    QUrl target = first;
    for (int redirects = 0;; ++redirects) {
        TExchange exchange =
            Exchange(target, limits.MaxBytes,
                     static_cast<int>(std::max<qint64>(timeout - elapsed.elapsed(), 0)));
        std::string where = url;
        if (target != first) {
            where += " (redirected to " + target.toString().toStdString() + ")";
        }
        const THttpReply& reply = exchange.Reply;
        if (exchange.TimedOut) {
            return {std::nullopt,
                    where + Format(": no complete reply within %g s",
                                   static_cast<double>(limits.Timeout.count()) / 1000)};
        }
        if (!exchange.Error.empty()) {
            return {std::nullopt, where + ": " + exchange.Error};
        }
        if (reply.State() == THttpReply::TState::TooLarge) {
            return {std::nullopt,
                    where + ": the reply is larger than " + SizeText(limits.MaxBytes)};
        }
        if (reply.State() == THttpReply::TState::Broken) {
            return {std::nullopt, where + ": " + reply.Problem()};
        }
        if (IsRedirect(reply.Status()) && !reply.Location().empty()) {
            const QUrl next = target.resolved(QUrl(QString::fromStdString(reply.Location())));
            if (!next.isValid() || (next.scheme() != "http" && next.scheme() != "https")) {
                return {std::nullopt, where + ": redirected to \"" + reply.Location() +
                                          "\", which is not an http or https URL"};
            }
            if (target.scheme() == "https" && next.scheme() == "http") {
                return {std::nullopt, where + ": redirected from https to http (" +
                                          next.toString().toStdString() + "), refused"};
            }
            if (redirects == kMaxRedirects) {
                return {std::nullopt, where + Format(": more than %d redirects", kMaxRedirects)};
            }
            target = next;
            continue;
        }
        if (reply.Status() < 200 || reply.Status() > 299) {
            std::string text = where + Format(": HTTP status %d", reply.Status());
            if (!reply.Reason().empty()) {
                text += ' ';
                text += reply.Reason();
            }
            const std::string said = TextExcerpt(reply.Body());
            return {std::nullopt,
                    said.empty() ? text : text + " (the server says \"" + said + "\")"};
        }
        return {reply.Body(), ""};
    }
}

class TQtDownload final : public download::TModule {
public:
    TDownloaded Download(const std::string& url, const TDownloadLimits& limits) override {
        return Get(url, limits);
    }
};

} // namespace
} // namespace vantorel

extern "C" vantorel::download::TModule* VantorelDownloadModule() {
    static vantorel::TQtDownload module;
    return &module;
}
