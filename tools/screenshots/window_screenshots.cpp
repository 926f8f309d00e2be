// Runs the real window on a channel image and saves a screenshot of each tab, taken from
// the screen (run it under Xvfb: tools/screenshots/take.sh).
//   window_screenshots IMAGE OUTPUT_FOLDER
#include "app/VantorelForm.h"
#include "common/Notifier.h"
#include "settings/RegistryVariables.h"

#include <QApplication>
#include <QDir>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QScreen>
#include <QScrollArea>
#include <QTabWidget>
#include <QTimer>

#include <iostream>

namespace {

void Settle(int milliseconds) {
    QEventLoop loop;
    QTimer::singleShot(milliseconds, &loop, &QEventLoop::quit);
    loop.exec();
}

bool Shoot(vantorel::TFormVantorelTest& form, const QString& file) {
    Settle(300);
    const QPixmap shot = QGuiApplication::primaryScreen()->grabWindow(0);
    const QRect frame = form.frameGeometry();
    if (!shot.copy(frame).save(file)) {
        std::cerr << "Cannot write " << file.toStdString() << "\n";
        return false;
    }
    std::cout << file.toStdString() << "\n";
    return true;
}

} // namespace

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    if (argc != 3) {
        std::cerr << "usage: window_screenshots IMAGE OUTPUT_FOLDER\n";
        return 2;
    }
    const QString out = QString::fromLocal8Bit(argv[2]);
    QDir().mkpath(out);
    // The window's own settings; message boxes go to the terminal so nothing waits.
    vantorel::SetRegistryProgramName(vantorel::kWindowProgramName);
    vantorel::StreamNotifier notifier(std::cerr);
    // At the size and place of a first start: two thirds of the screen, centred.
    vantorel::TFormVantorelTest form({argv[1]}, &notifier);
    form.ActionGraticule()->setChecked(true);
    form.show();
    // The start timer processes the image; a product takes longer than a channel file.
    for (int waited = 0; form.Run().Pass() == nullptr && waited < 30000; waited += 100) {
        Settle(100);
    }
    form.showNormal();
    Settle(300);

    // The whole pass fitted to the window, with its grid; the readout of a pixel.
    form.ZoomToFit();
    QScrollArea* box = form.ScrollBoxForImage();
    auto pointAt = [&](QPoint inViewport) {
        const QPoint at = form.ImageDisplay()->mapFrom(box->viewport(), inViewport);
        const QPoint pixel = form.ImageDisplay()->PicturePixel(at);
        form.ImageDisplayMouseMove(pixel.x(), pixel.y());
    };
    pointAt(box->viewport()->rect().center());
    bool ok = Shoot(form, out + "/window-image.png");
    // Zoomed in on the middle of the pass to align.
    form.SetZoom(2.0);
    pointAt(box->viewport()->rect().center());
    ok = Shoot(form, out + "/window-zoomed.png") && ok;
    form.PageControl()->setCurrentWidget(form.TabSheetKeplers());
    ok = Shoot(form, out + "/window-kepler-data.png") && ok;
    form.PageControl()->setCurrentWidget(form.TabSheetDiags());
    ok = Shoot(form, out + "/window-diagnostics.png") && ok;
    return ok ? 0 : 1;
}
