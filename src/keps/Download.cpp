// One download through Qt Network's QNetworkAccessManager, made synchronous with a
// local event loop. Each call owns its manager, so calls on different threads share
// nothing.
#include "keps/Download.h"

#include "common/Format.h"
#include "common/Version.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>
#include <QUrl>
#if QT_CONFIG(ssl)
#include <QSslError>
#endif

#include <algorithm>
#include <memory>

namespace vantorel {
namespace {

constexpr int kMaxRedirects = 5;

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

} // namespace

TDownloaded Download(const std::string& url, const TDownloadLimits& limits) {
    const QUrl target(QString::fromStdString(url), QUrl::StrictMode);
    if (!target.isValid() || (target.scheme() != "http" && target.scheme() != "https") ||
        target.host().isEmpty()) {
        return {std::nullopt, "\"" + url + "\" is not an http or https URL"};
    }
    EnsureCoreApplication();

    // Declared before the manager so that they outlive its reply, whose handlers write them.
    std::string body;
    bool tooLarge = false;
    bool timedOut = false;
    std::string sslProblems;
    QNetworkAccessManager manager;
    QNetworkRequest request(target);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::NoLessSafeRedirectPolicy);
    request.setMaximumRedirectsAllowed(kMaxRedirects);
    request.setHeader(QNetworkRequest::UserAgentHeader,
                      QString("Vantorel/") + QString::fromLatin1(kVersion));
    QNetworkReply* reply = manager.get(request); // owned by the manager
    // Qt reads the network on a thread of its own into the reply's buffer: bounded, it
    // stops reading there until this thread has taken what came, whatever the reply
    // declares or does not (a chunked reply has no length to refuse it by).
    reply->setReadBufferSize(static_cast<qint64>(std::min<std::size_t>(limits.MaxBytes, 1 << 20)) +
                             1);
    QObject::connect(reply, &QNetworkReply::downloadProgress, [&](qint64 received, qint64) {
        if (received > 0 && static_cast<std::size_t>(received) > limits.MaxBytes) {
            tooLarge = true;
            reply->abort();
        }
    });
    QObject::connect(reply, &QNetworkReply::readyRead, [&] {
        // Read as it comes so that an oversized reply is cut off, not buffered whole.
        const QByteArray chunk = reply->readAll();
        if (body.size() + static_cast<std::size_t>(chunk.size()) > limits.MaxBytes) {
            tooLarge = true;
            reply->abort();
            return;
        }
        body.append(chunk.constData(), static_cast<std::size_t>(chunk.size()));
    });
#if QT_CONFIG(ssl)
    QObject::connect(reply, &QNetworkReply::sslErrors, [&](const QList<QSslError>& errors) {
        for (const QSslError& e : errors) {
            if (!sslProblems.empty()) {
                sslProblems += "; ";
            }
            sslProblems += e.errorString().toStdString();
        }
    });
#endif
    QTimer deadline;
    deadline.setSingleShot(true);
    deadline.setTimerType(Qt::PreciseTimer);
    QObject::connect(&deadline, &QTimer::timeout, [&] {
        timedOut = true;
        reply->abort();
    });
    QEventLoop loop;
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    deadline.start(limits.Timeout);
    if (!reply->isFinished()) {
        // A window stays painted, but its buttons wait: nothing can start a second run
        // or change the folder meanwhile.
        loop.exec(QEventLoop::ExcludeUserInputEvents);
    }
    deadline.stop();

    std::string where = url;
    if (reply->url() != target) {
        where += " (redirected to " + reply->url().toString().toStdString() + ")";
    }
    if (timedOut) {
        return {std::nullopt, where + Format(": no complete reply within %g s",
                                             static_cast<double>(limits.Timeout.count()) / 1000)};
    }
    if (tooLarge) {
        return {std::nullopt, where + ": the reply is larger than " + SizeText(limits.MaxBytes)};
    }
    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (status.isValid() && (status.toInt() < 200 || status.toInt() > 299)) {
        std::string text = where + Format(": HTTP status %d", status.toInt());
        const QString reason =
            reply->attribute(QNetworkRequest::HttpReasonPhraseAttribute).toString();
        if (!reason.isEmpty()) {
            text += ' ';
            text += reason.toStdString();
        }
        const std::string said = TextExcerpt(body);
        return {std::nullopt, said.empty() ? text : text + " (the server says \"" + said + "\")"};
    }
    if (reply->error() != QNetworkReply::NoError) {
        std::string text = where + ": " + reply->errorString().toStdString();
        if (!sslProblems.empty() && text.find(sslProblems) == std::string::npos) {
            text += " (" + sslProblems + ")";
        }
        return {std::nullopt, text};
    }
    return {std::move(body), ""};
}

std::string TextExcerpt(std::string_view bytes) {
    constexpr std::size_t kMaxChars = 120;
    const std::size_t start = bytes.find_first_not_of(" \t\r\n");
    if (start == std::string_view::npos) {
        return "";
    }
    std::string line;
    for (std::size_t i = start; i < bytes.size() && bytes[i] != '\r' && bytes[i] != '\n'; ++i) {
        if (line.size() == kMaxChars) {
            line += "...";
            break;
        }
        const auto c = static_cast<unsigned char>(bytes[i]);
        line += c >= 0x20 && c < 0x7F ? static_cast<char>(c) : '?';
    }
    return line;
}

} // namespace vantorel
