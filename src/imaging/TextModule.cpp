// The text module: fonts and text painting through Qt Gui (see TextModule.h).
#include "imaging/TextModule.h"

#include <QFont>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QString>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <memory>
#include <mutex>
#include <unordered_map>

namespace vantorel::text {
namespace {

QFont MakeQFont(const TFontSpec& font) {
    // Asking the font database is slow (a fontconfig match each time) and labels are
    // written on every redraw: each family name is looked up once.
    // Runs on several threads at once draw labels: the look-ups share one lock. Never
    // destroyed: the fonts may still be being read ahead on a thread of their own while
    // the program's statics end.
    static const bool hasDejaVu = QFontDatabase::hasFamily(QStringLiteral("DejaVu Sans"));
    struct TFamilies {
        std::mutex lock;
        std::unordered_map<std::string, QString> byName;
    };
    static TFamilies& families = *new TFamilies;
    QString family;
    {
        const std::lock_guard lock(families.lock);
        auto known = families.byName.find(font.Name);
        if (known == families.byName.end()) {
            QString found = QString::fromStdString(font.Name);
            if (!QFontDatabase::hasFamily(found) && hasDejaVu) {
                found = QStringLiteral("DejaVu Sans");
            }
            known = families.byName.emplace(font.Name, found).first;
        }
        family = known->second;
    }
    QFont q(family);
    // Points at 96 pixels per inch, as the platform's screen fonts are sized.
    q.setPixelSize(std::max(1, static_cast<int>(std::lround(font.Size * 96.0 / 72.0))));
    q.setBold(font.Bold);
    q.setStyleStrategy(QFont::NoAntialias);
    q.setHintingPreference(QFont::PreferFullHinting);
    return q;
}

QColor ToQColor(TRgb c) {
    return QColor(c.Red, c.Green, c.Blue);
}

class TQtText final : public TModule {
public:
    bool EnsureApplication() override {
        if (QCoreApplication::instance() != nullptr) {
            return HasApplication();
        }
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
            qputenv("QT_QPA_PLATFORM", "offscreen");
        }
        // Under cron there is no runtime folder, and Qt says so on every run: a private
        // one, as Qt would make, keeps station logs clean.
        if (qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR")) {
            const std::string folder = "/tmp/runtime-" + std::to_string(::getuid());
            struct stat info {};
            if ((::mkdir(folder.c_str(), 0700) == 0 || errno == EEXIST) &&
                ::lstat(folder.c_str(), &info) == 0 && S_ISDIR(info.st_mode) &&
                info.st_uid == ::getuid() && (info.st_mode & 0777) == 0700) {
                qputenv("XDG_RUNTIME_DIR", QByteArray::fromStdString(folder));
            }
        }
        static int argc = 1;
        static char name[] = "vantorel";
        static char* argv[] = {name, nullptr};
        app_ = std::make_unique<QGuiApplication>(argc, argv);
        return true;
    }

    bool HasApplication() override {
        return qobject_cast<QGuiApplication*>(QCoreApplication::instance()) != nullptr;
    }

    void EndApplication() override { app_.reset(); }

    void PrepareFonts() override {
        // The font database is safe on any thread.
        if (HasApplication()) {
            (void)MakeQFont(TFontSpec{"Tahoma", 8, false});
        }
    }

    int Width(const TFontSpec& font, const std::string& text) override {
        return QFontMetrics(MakeQFont(font)).horizontalAdvance(QString::fromStdString(text));
    }

    int Height(const TFontSpec& font) override { return QFontMetrics(MakeQFont(font)).height(); }

    void Paint(const TFontSpec& font, TRgb ink, const TRgb* fill, const std::string& text,
               TPatch& patch) override {
        const QFont qfont = MakeQFont(font);
        const QFontMetrics metrics(qfont);
        const QString qtext = QString::fromStdString(text);
        patch.Width = metrics.horizontalAdvance(qtext);
        patch.Height = metrics.height();
        patch.Pixels.clear();
        if (patch.Width <= 0) {
            patch.Width = 0;
            return;
        }
        QImage image(patch.Width, patch.Height, QImage::Format_ARGB32);
        image.fill(Qt::transparent);
        {
            QPainter painter(&image);
            painter.setRenderHint(QPainter::Antialiasing, false);
            painter.setRenderHint(QPainter::TextAntialiasing, false);
            if (fill != nullptr) {
                painter.fillRect(0, 0, patch.Width, patch.Height, ToQColor(*fill));
            }
            painter.setFont(qfont);
            painter.setPen(ToQColor(ink));
            painter.drawText(0, metrics.ascent(), qtext);
        }
        patch.Pixels.resize(static_cast<std::size_t>(patch.Width) * patch.Height);
        for (int y = 0; y < patch.Height; ++y) {
            std::memcpy(patch.Pixels.data() + static_cast<std::size_t>(y) * patch.Width,
                        image.constScanLine(y), static_cast<std::size_t>(patch.Width) * 4);
        }
    }

private:
    std::unique_ptr<QGuiApplication> app_;
};

} // namespace
} // namespace vantorel::text

extern "C" vantorel::text::TModule* VantorelTextModule() {
    // Never destroyed: the application it made is ended by EndApplication, before exit.
    static auto* module = new vantorel::text::TQtText();
    return module;
}
