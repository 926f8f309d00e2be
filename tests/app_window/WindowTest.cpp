// The real window under the offscreen platform: start-up, intake, readout, keys, the
// overlay controls, export and the settings kept between starts.
#include "LoopbackHttpServer.h"
#include "SamplePass.h"
#include "SampleProduct.h"
#include "TempDir.h"
#include "TestData.h"
#include "app/VantorelForm.h"
#include "common/Clock.h"
#include "common/Format.h"
#include "common/Program.h"
#include "imaging/JPEG_IO.h"
#include "imaging/zorPNGImage.h"
#include "settings/Registry.h"
#include "settings/RegistryVariables.h"
#include "settings/SettingsSandbox.h"
#include "settings/zorControls.h"

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QMenu>
#include <QMimeData>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <QUrl>

#include <deque>
#include <filesystem>
#include <fstream>
#include <memory>

namespace vantorel {
namespace {

using testing::TempDir;

using testing::kSampleImage;
using testing::kSampleKeps;
using testing::kSource;

// Answers the window's file and folder choices from a queue; nullopt = cancel.
class QueuedDialogs final : public IFormDialogs {
public:
    std::deque<std::optional<std::string>> answers;
    std::vector<std::string> asked; // what each question offered

    std::optional<std::string> ChooseSaveFile(QWidget*, const std::string& suggested,
                                              const std::string& defaultSuffix,
                                              const std::vector<std::string>& filters) override {
        asked.push_back(suggested + "|" + defaultSuffix + "|" + std::to_string(filters.size()));
        return Next();
    }
    std::optional<std::string> ChooseOpenFile(QWidget*,
                                              const std::vector<std::string>& filters) override {
        asked.push_back(filters.front());
        return Next();
    }
    std::optional<std::string> ChooseFolder(QWidget*, const std::string& title,
                                            const std::string& start) override {
        asked.push_back(title + "|" + start);
        return Next();
    }
    std::optional<std::string> ChooseProductPicture(QWidget*,
                                                    const std::vector<std::string>& channels,
                                                    const std::string& current) override {
        std::string offered;
        for (const std::string& c : channels) {
            offered += c + " ";
        }
        asked.push_back(offered + "|" + current);
        // Unasked for, the choice a window without the question makes.
        return answers.empty() ? IFormDialogs::ChooseProductPicture(nullptr, channels, current)
                               : Next();
    }

private:
    std::optional<std::string> Next() {
        if (answers.empty()) {
            return std::nullopt;
        }
        auto a = answers.front();
        answers.pop_front();
        return a;
    }
};

class WindowTest : public QObject {
    Q_OBJECT

    std::unique_ptr<testing::ProgramFolder> program_;
    std::unique_ptr<TSettingsSandbox> registry_;
    FixedClock clock_{EncodeDateTime(2020, 9, 28, 12, 0, 0), 0.0};
    std::unique_ptr<ScopedClock> scopedClock_;
    RecordingNotifier notifier_;
    QueuedDialogs dialogs_;

    std::unique_ptr<TFormVantorelTest> Open(std::vector<std::string> arguments = {}) {
        auto form =
            std::make_unique<TFormVantorelTest>(std::move(arguments), &notifier_, &dialogs_);
        form->show();
        return form;
    }
    // The window's stored settings, as another start would find them.
    static void Store(std::string_view name, const RegistryValue& value) {
        TRegistry registry(CurrentRegistrySettings().rootKey);
        registry.OpenKey(ProgramKeyPath());
        registry.WriteValue(name, value);
    }
    static std::optional<RegistryValue> Stored(std::string_view name) {
        TRegistry registry(CurrentRegistrySettings().rootKey);
        if (!registry.OpenKeyReadOnly(ProgramKeyPath())) {
            return std::nullopt;
        }
        return registry.ReadValue(name);
    }
    static int Count(const TStringList& lines, const std::string& prefix) {
        int n = 0;
        for (const auto& line : lines.Lines()) {
            n += line.rfind(prefix, 0) == 0;
        }
        return n;
    }
    static QImage Shown(TFormVantorelTest& form) { return form.ImageDisplay()->Picture(); }
    static void Drop(TFormVantorelTest& form, const QList<QUrl>& urls) {
        QMimeData data;
        data.setUrls(urls);
        QWidget* target = form.ScrollBoxForImage()->viewport();
        QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(target, &enter);
        QVERIFY(enter.isAccepted());
        QDropEvent drop(QPointF(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(target, &drop);
    }

private slots:
    void init() {
        program_ = std::make_unique<testing::ProgramFolder>();
        registry_ = std::make_unique<TSettingsSandbox>();
        ResetRegistrySettings();
        SetRegistryProgramName("");
        scopedClock_ = std::make_unique<ScopedClock>(clock_);
        notifier_.entries.clear();
        dialogs_.answers.clear();
        dialogs_.asked.clear();
        Store(kKeplerPathValue, RegistryValue::String(kSampleKeps));
    }
    void cleanup() {
        scopedClock_.reset();
        registry_.reset();
        ResetRegistrySettings();
        program_.reset();
    }

    void startUpAccountAndComponents() {
        auto form = Open();
        const auto lines = form->MemoDiags()->toPlainText().split('\n');
        QCOMPARE(lines.value(0),
                 QString("Vantorel - V0.1.0.0  starting at:  2020-Sep-28 12:00 UTC"));
        QCOMPARE(lines.value(1), QString("Kepler source:"));
        QCOMPARE(lines.value(4), QString::fromStdString("  Multi-Kepler folder: " + kSampleKeps +
                                                        "  (1 satellites available)"));
        QVERIFY(
            lines.value(5).startsWith("Cartography loaded from: " +
                                      QString::fromStdString(program_->folder / "Countries.dat")));
        QCOMPARE(lines.value(6), QString());
        QCOMPARE(form->windowTitle(), QString("Vantorel - V0.1.0.0"));
        QCOMPARE(form->StatusText(), std::string("Drop a .BMP file for processing."));
        QCOMPARE(form->PageControl()->tabText(0), QString(" Image "));
        QCOMPARE(form->PageControl()->tabText(1), QString(" Kepler data "));
        QCOMPARE(form->PageControl()->tabText(2), QString(" Diagnostics "));
        QCOMPARE(form->PageControl()->currentWidget(), form->TabSheetImage());
        QCOMPARE(form->ImageDisplay()->cursor().shape(), Qt::CrossCursor);
        QVERIFY(form->MemoDiags()->isReadOnly());
        QCOMPARE(form->TimerStart()->interval(), 100);
        QCOMPARE(form->EditKeplerPath()->text(), QString::fromStdString(kSampleKeps));
        QCOMPARE(form->RadioGroupLineThickness()->ItemIndex(), 1);
        QCOMPARE(form->ColorDialogLineColour()->Color(), 65535);

        // The timer fires once: Kepler data is there and no file was named.
        QTRY_VERIFY(!form->TimerStart()->isActive());
        QVERIFY(notifier_.entries.empty());
        QCOMPARE(Count(form->Run().Diags(), "Processing: "), 0);
        // The Kepler tab holds its hints longer.
        QCOMPARE(form->HintHidePause(), 2500);
        form->PageControl()->setCurrentWidget(form->TabSheetKeplers());
        QCOMPARE(form->HintHidePause(), 4500);
        form->PageControl()->setCurrentWidget(form->TabSheetDiags());
        QCOMPARE(form->HintHidePause(), 2500);
    }

    void anUnreadableRegistryLineIsSaidOnceInTheDiagnostics() {
        {
            std::ofstream file(registry_->Folder() + "HKEY_CURRENT_USER.reg", std::ios::app);
            file << "this line is no registry line\n";
        }
        auto form = Open();
        form->ImageLineThicknessClick(2); // a save that is refused
        QCOMPARE(Count(form->Run().Diags(), "Settings: the registry file " + registry_->Folder() +
                                                "HKEY_CURRENT_USER.reg has a line"),
                 1);
    }

    void missingKeplerDataSendsTheUserToTheKeplerTab() {
        TempDir empty;
        Store(kKeplerPathValue, RegistryValue::String(empty.Path()));
        auto form = Open({kSampleImage});
        QCOMPARE(form->PageControl()->currentWidget(), form->TabSheetKeplers());
        form->TimerStartTimer();
        QCOMPARE(notifier_.entries.size(), std::size_t{1});
        QCOMPARE(notifier_.entries[0].caption, std::string("Vantorel - Kepler data missing"));
        QCOMPARE(notifier_.entries[0].text,
                 std::string("Error getting Kepler data for Meteor-M N2\r\n\r\nPlease enter the "
                             "location of the Kepler data.\r\n\r\nThe program will close if the "
                             "Kepler path is changed."));
        QCOMPARE(form->PageControl()->currentWidget(), form->TabSheetKeplers());
        QCOMPARE(Count(form->Run().Diags(), "Processing: "), 0); // the argument waits
        QVERIFY(form->isVisible());
    }

    void commandLineArguments() {
        auto two = Open({kSampleImage, kSampleImage});
        two->TimerStartTimer();
        QCOMPARE(Count(two->Run().Diags(), "Processing: "), 0);
        two.reset();
        auto one = Open({kSampleImage});
        QTRY_COMPARE(Count(one->Run().Diags(), "Plotting "), 1);
        QCOMPARE(one->windowTitle(),
                 QString::fromUtf8("Vantorel - V0.1.0.0  \u2014  2020_09_27_08_00_58_64.bmp  "
                                   "\u2014  2020-09-27 08:01 UTC, Meteor-M N2"));
    }

    void dropsAreCheckedThenProcessed() {
        auto form = Open();
        Drop(*form, {QUrl::fromLocalFile("/tmp/a_64.bmp"), QUrl::fromLocalFile("/tmp/b_64.bmp")});
        Drop(*form, {QUrl::fromLocalFile("/tmp/pass_64.txt")});
        QCOMPARE(notifier_.entries.size(), std::size_t{2});
        QCOMPARE(notifier_.entries[0].caption, std::string("Vantorel - Too many files dropped"));
        QCOMPARE(notifier_.entries[0].text, std::string("Please drop just a single .BMP file"));
        QCOMPARE(notifier_.entries[1].caption, std::string("Vantorel - Wrong file type"));
        QCOMPARE(notifier_.entries[1].text,
                 std::string("Only .BMP, .PNG and .JPG files are accepted:\r\n\r\npass_64.txt"));
        QCOMPARE(Count(form->Run().Diags(), "Processing: "), 0);

        form->PageControl()->setCurrentWidget(form->TabSheetDiags());
        Drop(*form, {QUrl::fromLocalFile(QString::fromStdString(kSampleImage))});
        QCOMPARE(notifier_.entries.size(), std::size_t{2});
        const auto text = form->MemoDiags()->toPlainText();
        QVERIFY(text.contains(
            QString::fromStdString("File dropped: " + kSampleImage + "\nProcessing: ")));
        QVERIFY(text.endsWith("Plotting " + QString::number(form->Run().Cartography().Count()) +
                              " line boundaries"));
        QCOMPARE(form->PageControl()->currentWidget(), form->TabSheetImage());
        QCOMPARE(form->ImageDisplay()->PictureSize(), QSize(1568, 4000));
        // Fitted to the window: the whole height in view, drawn at the size it is shown.
        QVERIFY(form->ZoomFits());
        QCOMPARE(Shown(*form).size(), form->ImageDisplay()->size());
        QVERIFY(qAbs(form->ImageDisplay()->height() -
                     form->ScrollBoxForImage()->maximumViewportSize().height()) <= 1);

        // A PNG or JPEG channel image, whatever the case of ".jpeg", is processed too.
        TempDir dir;
        TExtBitmap sample;
        sample.LoadFromFile(kSampleImage);
        const std::string jpeg = dir / "2020_09_27_08_00_58_64.JPEG";
        WriteJpegFile(sample, jpeg, 90, true, "");
        Drop(*form, {QUrl::fromLocalFile(QString::fromStdString(jpeg))});
        QCOMPARE(Count(form->Run().Diags(), "Plotting "), 2);
        QCOMPARE(form->Run().ImageFile(), jpeg);
    }

    void anErrorInARunLeavesTheWindowUsable() {
        TempDir dir;
        const std::string broken = dir / "2020_09_27_08_00_58_64.bmp";
        dir.Write("2020_09_27_08_00_58_64.bmp", "BM not really a bitmap");
        auto form = Open();
        form->ProcessFile(broken);
        QCOMPARE(notifier_.entries.size(), std::size_t{1});
        QCOMPARE(notifier_.entries[0].caption, std::string(kApplicationTitle));
        QVERIFY(!notifier_.entries[0].text.empty());
        dialogs_.answers.push_back(kSampleImage);
        form->Open1Click();
        QCOMPARE(dialogs_.asked.back(), std::string("Channel file set (*_6?.bmp)"));
        QCOMPARE(Count(form->Run().Diags(), "Plotting "), 1);
    }

    // A product opened whole asks which picture, offering its channels and the last choice;
    // a composite of three of them is processed in colour, and the choice is kept.
    void aProductAsksForItsPictureAndKeepsTheChoice() {
        TempDir dir;
        TPassSources sources;
        TPassReport report;
        const TPassOutcome sample = testing::RunSamplePass(sources, report);
        QVERIFY(sample.Result);
        TBitmap picture;
        picture.LoadFromFile(kSampleImage);
        const std::string folder =
            testing::WriteSampleProduct(dir, picture, sample.Result->Times,
                                        {{"1", 0, 2400}, {"2", 160, 2400}, {"4", 80, 2400}});
        {
            dialogs_.answers = {folder, std::string("1,2,4")};
            auto form = Open();
            form->Open1Click();
            QCOMPARE(dialogs_.asked.back(), std::string("1 2 4 |"));
            QTRY_COMPARE(Count(form->Run().Diags(), "Plotting "), 1);
            QCOMPARE(form->Run().ChannelBitmap().PixelFormat(), TPixelFormat::pf24bit);
            QCOMPARE(form->Run().ChannelBitmap().Height(), 2400 - 160);
        }
        QCOMPARE(Stored(kProductPictureValue)->AsString(), std::optional<std::string>("1,2,4"));
        dialogs_.answers = {folder, std::nullopt};
        auto again = Open();
        again->Open1Click();
        QCOMPARE(dialogs_.asked.back(), std::string("1 2 4 |1,2,4"));
        QCOMPARE(Count(again->Run().Diags(), "Processing"), 0);
    }

    void readoutFollowsThePointer() {
        auto form = Open({kSampleImage});
        QTRY_COMPARE(Count(form->Run().Diags(), "Plotting "), 1);
        form->ZoomActualSize();
        QMouseEvent move(QEvent::MouseMove, QPointF(771, 2000), QPointF(771, 2000), Qt::NoButton,
                         Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(form->ImageDisplay(), &move);
        float lon = 0, lat = 0;
        QVERIFY(form->Run().LookUpLonLat(771, 2000, lon, lat));
        QCOMPARE(form->StatusText(),
                 *form->Run().Readout(771, 2000)); // the run's readout, shown as is
        QVERIFY(form->StatusText().rfind("X: 771   Y: 2000     Lon: ", 0) == 0);
        QVERIFY(form->StatusText().find("Offset line: 10   pixel: -20") != std::string::npos);
        // In the margin the offsets leave, the readout has no ground to show (not 0, 0).
        form->ImageDisplayMouseMove(1560, 10);
        QCOMPARE(form->StatusText(), std::string("X: 1560   Y: 10     Lon: -   Lat: -     "
                                                 "Offset line: 10   pixel: -20"));
        // Outside the picture the status bar keeps the last readout.
        form->ImageDisplayMouseMove(1568, 10);
        QCOMPARE(form->StatusText(), std::string("X: 1560   Y: 10     Lon: -   Lat: -     "
                                                 "Offset line: 10   pixel: -20"));
        // The readout follows the drawn overlay: nudged 2 pixels right and a line up, the
        // position that was under (771, 2000) is under (773, 1999).
        auto position = [&](int x, int y) {
            const std::string text = *form->Run().Readout(x, y);
            return text.substr(text.find("Lon:"), text.find("Offset") - text.find("Lon:"));
        };
        const std::string before = position(771, 2000);
        form->FormKeyDown(Qt::Key_Right, Qt::NoModifier);
        form->FormKeyDown(Qt::Key_Up, Qt::NoModifier);
        QCOMPARE(position(773, 1999), before);
    }

    void zoomKeepsTheReadoutAndTheNudgesInPicturePixels() {
        auto form = Open({kSampleImage});
        QTRY_COMPARE(Count(form->Run().Diags(), "Plotting "), 1);
        QVERIFY(form->ZoomFits());
        QScrollArea* box = form->ScrollBoxForImage();
        auto pointAt = [&](QPoint onScreen) {
            QMouseEvent move(QEvent::MouseMove, onScreen, form->ImageDisplay()->mapToGlobal(onScreen),
                             Qt::NoButton, Qt::NoButton, Qt::NoModifier);
            QApplication::sendEvent(form->ImageDisplay(), &move);
        };
        int pixelOffset = form->Run().PixelOffset();
        for (const double zoom : {0.25, 1.0, 4.0}) {
            form->SetZoom(zoom);
            QCOMPARE(form->ImageDisplay()->size(),
                     QSize(qRound(1568 * zoom), qRound(4000 * zoom)));
            // A screen pixel whose middle lies on picture pixel (770, 2002) at every zoom.
            const QPoint at(int(770 * zoom), int(2002 * zoom));
            pointAt(at);
            QCOMPARE(form->StatusText().rfind("X: 770   Y: 2002     Lon: ", 0), std::size_t{0});
            // A nudge is two picture pixels, whatever the zoom, and keeps it.
            form->FormKeyDown(Qt::Key_Right, Qt::NoModifier);
            QCOMPARE(form->Run().PixelOffset(), pixelOffset += 2);
            QCOMPARE(form->Zoom(), zoom);
            pointAt(at);
            QVERIFY(form->StatusText().find("pixel: " + std::to_string(pixelOffset)) !=
                    std::string::npos);
        }

        // Ctrl+wheel zooms in a step about the pointer: the picture pixel under it stays.
        form->SetZoom(1.0);
        const QPoint over = box->viewport()->rect().center() + QPoint(40, 30);
        const QPoint under = form->ImageDisplay()->PicturePixel(
            form->ImageDisplay()->mapFrom(box->viewport(), over));
        QWheelEvent wheel(form->ImageDisplay()->mapFrom(box->viewport(), over),
                          box->viewport()->mapToGlobal(over), QPoint(), QPoint(0, 120),
                          Qt::NoButton, Qt::ControlModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(form->ImageDisplay(), &wheel);
        QCOMPARE(form->Zoom(), 2.0);
        QCOMPARE(form->Run().LineOffset(), 10); // no nudge
        QCOMPARE(form->ImageDisplay()->PicturePixel(
                     form->ImageDisplay()->mapFrom(box->viewport(), over)),
                 under);
        // Ctrl - steps back; Ctrl 0 fits the whole pass again.
        QTest::keyClick(form.get(), Qt::Key_Minus, Qt::ControlModifier);
        QCOMPARE(form->Zoom(), 1.0);
        // The middle button drags the picture.
        const int top = box->verticalScrollBar()->value();
        QTest::mousePress(form->ImageDisplay(), Qt::MiddleButton, {}, QPoint(100, 300));
        QMouseEvent drag(QEvent::MouseMove, QPointF(100, 250),
                         form->ImageDisplay()->mapToGlobal(QPointF(100, 250)), Qt::NoButton,
                         Qt::MiddleButton, Qt::NoModifier);
        QApplication::sendEvent(form->ImageDisplay(), &drag);
        QTest::mouseRelease(form->ImageDisplay(), Qt::MiddleButton, {}, QPoint(100, 250));
        QCOMPARE(box->verticalScrollBar()->value(), top + 50);
        QTest::keyClick(form.get(), Qt::Key_0, Qt::ControlModifier);
        QVERIFY(form->ZoomFits());
        QVERIFY(form->Zoom() < 0.25);
        // The fit stays for the next pass.
        form->ProcessFile(kSampleImage);
        QVERIFY(form->ZoomFits());
        QCOMPARE(form->StatusText(), std::string("Processed 2020_09_27_08_00_58_64.bmp"));
    }

    void gridAndRunChoicesAreKeptAndUsedByTheNextRun() {
        {
            auto form = Open();
            QVERIFY(!form->ActionGraticule()->isChecked());
            QVERIFY(form->PopupMenuDisplay()->actions().contains(form->ActionGraticule()));
            form->ActionGraticule()->trigger();
            form->ComboSatellite()->setCurrentIndex(form->ComboSatellite()->findText(
                "Meteor-M N2-3", Qt::MatchStartsWith));
            form->ComboFileClock()->setCurrentIndex(form->ComboFileClock()->findData(3));
            QCOMPARE(Stored(kGraticuleValue)->AsInteger(), std::optional<std::int32_t>(1));
            QCOMPARE(Stored(kFileClockOffsetValue)->AsString(), std::optional<std::string>("3"));
        }
        auto form = Open();
        QVERIFY(form->ActionGraticule()->isChecked());
        QCOMPARE(form->ComboFileClock()->currentData(), QVariant(3));
        // The run states the choices; the file clock moves the pass start.
        form->ProcessFile(kSampleImage);
        QCOMPARE(Count(form->Run().Diags(), "Satellite: Meteor-M N2-3 (catalogue number 57166)"),
                 1);
        form->ComboSatellite()->setCurrentIndex(
            form->ComboSatellite()->findText("Meteor-M N2 ", Qt::MatchStartsWith));
        form->ProcessFile(kSampleImage);
        QCOMPARE(Count(form->Run().Diags(), "  File clock: UTC+3, as chosen"), 1);
        QCOMPARE(Count(form->Run().Diags(), "Pass start from file name: 2020-09-27 05:00:58 UTC"),
                 1);
        form->ComboFileClock()->setCurrentIndex(0);
        QCOMPARE(Stored(kFileClockOffsetValue)->AsString(), std::optional<std::string>(""));
        form->ProcessFile(kSampleImage);
        QCOMPARE(Count(form->Run().Diags(), "Pass start from file name: 2020-09-27 08:00:58 UTC"),
                 1);
        QVERIFY(form->Run().Setup().Graticule);
        // A start given goes over the name and the .STAT (one that does not read, nowhere).
        form->EditPassStart()->setText("2020-09-27 08:01:00.5");
        form->ProcessFile(kSampleImage);
        QCOMPARE(Count(form->Run().Diags(), "Pass start as given: 2020-09-27 08:01:00.500 UTC (over "
                                            "the file name and the .STAT files)"),
                 1);
        form->EditPassStart()->setText("yesterday");
        QVERIFY(!form->Run().Setup().Start);
        QVERIFY(!form->EditPassStart()->styleSheet().isEmpty());
    }

    void recentInputsAreRememberedAndReopened() {
        TempDir dir;
        std::vector<std::string> files;
        for (const char* name : {"a_64.bmp", "b_64.bmp", "c_64.bmp", "d_64.bmp", "e_64.bmp",
                                 "f_64.bmp", "g_64.bmp", "h_64.bmp", "i_64.bmp"}) {
            files.push_back(dir.Write(name, "not a bitmap"));
        }
        {
            auto form = Open();
            QVERIFY(!form->MenuOpenRecent()->isEnabled());
            for (const std::string& f : files) {
                form->ProcessFile(f); // remembered even though the run fails
            }
            form->ProcessFile(kSampleImage);
            QCOMPARE(form->RecentFiles().size(), std::size_t{8});
            QCOMPARE(form->RecentFiles()[0], kSampleImage);
            QCOMPARE(form->RecentFiles()[1], files[8]);
        }
        auto form = Open();
        QCOMPARE(form->RecentFiles().size(), std::size_t{8});
        QAction* second = form->MenuOpenRecent()->actions()[1];
        QVERIFY(second->isVisible());
        QVERIFY(second->text().endsWith(QString::fromStdString(files[8])));
        // While the run works: a busy cursor and its account in the status bar.
        std::vector<std::string> seen;
        form->Run().Diags().OnAdd = [&](const std::string&) {
            seen.push_back(QApplication::overrideCursor() != nullptr &&
                                   QApplication::overrideCursor()->shape() == Qt::WaitCursor
                               ? form->StatusText()
                               : "not busy");
        };
        form->MenuOpenRecent()->actions()[0]->trigger();
        QCOMPARE(Count(form->Run().Diags(), "Plotting "), 1);
        QVERIFY(!seen.empty());
        QCOMPARE(seen.front().rfind("Processing 2020_09_27_08_00_58_64.bmp", 0), std::size_t{0});
        QVERIFY(QApplication::overrideCursor() == nullptr);
        QCOMPARE(form->RecentFiles()[0], kSampleImage);
    }

    void theWindowComesBackAsItWasLeft() {
        const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
        const QSize firstSize(area.width() * 2 / 3, area.height() * 2 / 3);
        QRect placed;
        {
            auto form = Open(); // the first start: two thirds of the screen, centred
            QCOMPARE(form->geometry().size(), firstSize);
            QVERIFY((form->geometry().center() - area.center()).manhattanLength() <= 2);
            form->setGeometry(area.left() + 40, area.top() + 30, 560, 480);
            form->PageControl()->setCurrentIndex(2);
            placed = form->geometry(); // no smaller than the window can be
            const auto stored = [] {
                return QString::fromStdString(*Stored(kWindowPlacementValue)->AsString());
            };
            QCOMPARE(stored(), QString("%1,%2,%3,%4,0,2")
                                   .arg(placed.x())
                                   .arg(placed.y())
                                   .arg(placed.width())
                                   .arg(placed.height()));
            form->showMaximized(); // stored at once, with the size it had before
            QTRY_VERIFY(
                stored().endsWith(QString(",%1,%2,1,2").arg(placed.width()).arg(placed.height())));
        }
        {
            auto form = Open();
            QVERIFY(form->isMaximized());
            QCOMPARE(form->PageControl()->currentIndex(), 2);
            form->showNormal();
            QTRY_COMPARE(form->geometry(), placed);
        }
        // A place on no screen of this desktop is not taken.
        Store(kWindowPlacementValue, RegistryValue::String("-90000,-90000,560,480,0,1"));
        auto form = Open();
        QCOMPARE(form->geometry().size(), firstSize);
    }

    // The Kepler data tab tells each satellite's newest set, its age (in the warning
    // colour past a week) and the calibration its passes get.
    void theKeplerTabTellsTheSetsAgesAndCalibrations() {
        std::filesystem::copy_file(kSource + "/data/Scanner.cal", program_->folder / "Scanner.cal");
        const FixedClock later(EncodeDateTime(2020, 9, 30, 2, 26, 0), 0.0);
        ScopedClock scoped(later);
        auto form = Open();
        QTRY_VERIFY(form->TreeSatellites()->topLevelItemCount() == 4);
        const QTreeWidgetItem* n2 = form->TreeSatellites()->topLevelItem(0);
        QCOMPARE(n2->text(0), QString("Meteor-M N2 (40069)"));
        QCOMPARE(n2->text(2), QString("3.0 days"));
        QVERIFY(n2->text(3).endsWith("; not measured"));
        QCOMPARE(n2->foreground(2).style(), Qt::NoBrush);
        QCOMPARE(form->TreeSatellites()->topLevelItem(3)->text(1), QString("none in the folder"));

        const FixedClock stale(EncodeDateTime(2020, 10, 10, 0, 0, 0), 0.0);
        ScopedClock staler(stale);
        form->PageControl()->setCurrentIndex(1); // shown again: the ages as of now
        QCOMPARE(form->TreeSatellites()->topLevelItem(0)->text(2), QString("12.9 days"));
        QCOMPARE(form->TreeSatellites()->topLevelItem(0)->foreground(2).color(), QColor(192, 0, 0));
    }

    void alignToCoastsOnDemandAndAfterEveryRun() {
        TempDir dir;
        const std::string image = testing::ShiftedSampleCopy(dir, 37, 23);
        {
            auto form = Open();
            form->ActionAlignAutomatically()->setChecked(false); // kept as a setting
            form->ProcessFile(image);
            QCOMPARE(form->Run().LineOffset(), 10);
            QCOMPARE(form->Run().PixelOffset(), -20);
            form->ActionAlignToCoasts()->trigger();
            QCOMPARE(form->Run().LineOffset(), -13);
            QCOMPARE(form->Run().PixelOffset(), 17);
            QVERIFY(form->PopupMenuDisplay()->actions().contains(form->ActionAlignToCoasts()));
        }
        QCOMPARE(Stored(kAlignAutomaticallyValue)->AsInteger(), std::optional<std::int32_t>(0));
        Store(kAlignAutomaticallyValue, RegistryValue::Dword(1));
        auto form = Open();
        QVERIFY(form->ActionAlignAutomatically()->isChecked());
        form->ProcessFile(image);
        QCOMPARE(form->Run().PixelOffset(), 17);
        QCOMPARE(Count(form->Run().Diags(), "Automatic alignment: offsets line -13 pixel 17"), 1);
    }

    void oneStaleKeplersBoxPerElementSet() {
        const FixedClock later(EncodeDateTime(2020, 10, 10, 0, 0, 0), 0.0);
        ScopedClock scoped(later);
        auto form = Open();
        form->ProcessFile(kSampleImage);
        form->ProcessFile(kSampleImage);
        int boxes = 0;
        for (const auto& e : notifier_.entries) {
            boxes += e.caption == "Vantorel - Stale Keplers";
        }
        QCOMPARE(boxes, 1);
        QCOMPARE(Count(form->Run().Diags(), "Stale Keplers: "), 2);
    }

    void theImagesFolderIsASettingAndEmptyByDefault() {
        TempDir dir;
        std::filesystem::copy_file(kSampleImage, dir / "2020_09_27_08_00_58_64.bmp");
        auto form = Open();
        QCOMPARE(form->EditImagesFolder()->text(), QString());
        form->ProcessFile("2020_09_27_08_00_58_64.bmp"); // not here, and no folder to try
        QCOMPARE(Count(form->Run().Diags(), "Plotting "), 0);
        form->EditImagesFolder()->setText(QString::fromStdString(dir.Path()));
        form->ProcessFile("2020_09_27_08_00_58_64.bmp");
        QCOMPARE(Count(form->Run().Diags(), "Plotting "), 1);
        QCOMPARE(form->Run().ImageFile(), dir / "2020_09_27_08_00_58_64.bmp");
    }

    void aFailedRunLeavesNothingOfTheLastPass() {
        auto form = Open({kSampleImage});
        QTRY_COMPARE(Count(form->Run().Diags(), "Plotting "), 1);
        form->ImageDisplayMouseMove(700, 1);
        // A JPEG that does not decode, opened after a good pass.
        TempDir dir;
        const std::string broken = dir.Write("2020_09_27_08_00_58_64.jpg",
                                             std::string("\xFF\xD8\xFF\x91garbage", 11));
        dialogs_.answers.push_back(broken);
        notifier_.entries.clear();
        form->Open1Click();
        QVERIFY(!notifier_.entries.empty());
        QCOMPARE(form->StatusText(), std::string("Drop a .BMP file for processing."));
        const QImage shown = Shown(*form);
        QTest::keyClick(form.get(), Qt::Key_Right);
        QCOMPARE(Shown(*form), shown);
        QCOMPARE(Count(form->Run().Diags(), "Plotting "), 1);
        const size_t asked = dialogs_.asked.size();
        form->ImageSaveAsClick();
        QCOMPARE(dialogs_.asked.size(), asked); // nothing offered to overwrite
        QCOMPARE(notifier_.entries.back().text, std::string("There is no processed picture to save."));
    }

    void southToNorthReadoutIsTurned() {
        TempDir dir;
        const std::string image = dir / "2020_09_27_08_51_40_64.bmp";
        std::filesystem::copy_file(kSampleImage, image);
        dir.Write("2020_09_27_08_51_40_64.stat", "11:51:40.000\n\n0.1538925\n");
        auto form = Open();
        form->ProcessFile(image);
        QVERIFY(form->Run().Northbound());
        form->ImageDisplayMouseMove(1568 - 771, 4000 - 2000);
        QVERIFY(form->StatusText().rfind("X: 771   Y: 2000     Lon: ", 0) == 0);
        QCOMPARE(form->StatusText(), *form->Run().Readout(1568 - 771, 4000 - 2000));
    }

    void keysAndWheelMoveTheOverlay() {
        auto form = Open({kSampleImage});
        QTRY_COMPARE(Count(form->Run().Diags(), "Plotting "), 1);
        const QImage before = Shown(*form);
        // On the Kepler tab the edit keeps its keys: the cursor moves, Escape does not
        // close, and the overlay stays.
        form->PageControl()->setCurrentWidget(form->TabSheetKeplers());
        form->EditKeplerPath()->setFocus();
        form->EditKeplerPath()->setCursorPosition(3);
        QTest::keyClick(form->EditKeplerPath(), Qt::Key_Right);
        QCOMPARE(form->EditKeplerPath()->cursorPosition(), 4);
        QTest::keyClick(form->EditKeplerPath(), Qt::Key_Escape);
        QVERIFY(form->isVisible());
        QCOMPARE(form->Run().PixelOffset(), -20);
        // The wheel over the diagnostics scrolls them, not the overlay.
        form->PageControl()->setCurrentWidget(form->TabSheetDiags());
        QWheelEvent overText(QPointF(10, 10), QPointF(10, 10), QPoint(), QPoint(0, 120),
                             Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(form->MemoDiags()->viewport(), &overText);
        QCOMPARE(form->Run().LineOffset(), 10);
        // On the picture's tab the keys and the wheel over the picture reach the run, with
        // their Shift (the steps themselves are the run's).
        form->PageControl()->setCurrentWidget(form->TabSheetImage());
        QTest::keyClick(form.get(), Qt::Key_Right);
        QTest::keyClick(form.get(), Qt::Key_Up, Qt::ShiftModifier);
        QCOMPARE(form->Run().PixelOffset(), -20 + 2);
        QCOMPARE(form->Run().LineOffset(), 10 + 8);
        QVERIFY(Shown(*form) != before);
        const int plotting = Count(form->Run().Diags(), "Plotting ");
        QWheelEvent wheel(QPointF(10, 10), QPointF(10, 10), QPoint(), QPoint(0, -120), Qt::NoButton,
                          Qt::ShiftModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(form->ImageDisplay(), &wheel);
        QCOMPARE(form->Run().PixelOffset(), -18 - 5);
        QCOMPARE(Count(form->Run().Diags(), "Plotting "), plotting); // one line a run

        // The picture moved with the overlay: the offsets back where they were give the
        // first picture again.
        form->Run().SetOffsets(10, -20);
        form->Run().RedrawOverlay();
        QCOMPARE(form->ImageDisplay()->Picture(), before);
    }

    void thicknessAndColourControlsRedraw() {
        auto form = Open({kSampleImage});
        QTRY_COMPARE(Count(form->Run().Diags(), "Plotting "), 1);
        form->PageControl()->setCurrentWidget(form->TabSheetDiags());
        // The thickness group: a click redraws and shows the picture.
        auto buttons = form->RadioGroupLineThickness()->findChildren<QRadioButton*>();
        QCOMPARE(buttons.size(), 3);
        const QImage normal = Shown(*form);
        QTest::mouseClick(buttons[2], Qt::LeftButton);
        QCOMPARE(form->Run().Setup().LineThickness, 2);
        QCOMPARE(Count(form->Run().Diags(), "Plotting "), 1); // a redraw, not a run
        QCOMPARE(form->PageControl()->currentWidget(), form->TabSheetImage());
        const QImage thick = Shown(*form);
        auto yellow = [](const QImage& image) {
            int n = 0;
            for (int y = 0; y < image.height(); y += 3) {
                for (int x = 0; x < image.width(); ++x) {
                    n += image.pixel(x, y) == qRgb(255, 255, 0);
                }
            }
            return n;
        };
        QVERIFY(yellow(thick) > yellow(normal) * 5 / 4);
        // The pop-up's items choose in the group.
        form->ImageLineThicknessClick(0);
        QCOMPARE(form->RadioGroupLineThickness()->ItemIndex(), 0);
        QVERIFY(yellow(Shown(*form)) < yellow(normal));

        // The colour dialog: cancelled still redraws; confirmed recolours the lines.
        const int before = Count(form->Run().Diags(), "Plotting ");
        form->ColorDialogLineColour()->SetChooser(
            [](const QColor&, QWidget*) { return std::optional<QColor>(); });
        form->ImageLineColourClick();
        QCOMPARE(Count(form->Run().Diags(), "Plotting "), before);
        QCOMPARE(form->ColorDialogLineColour()->Color(), 65535);
        form->ColorDialogLineColour()->SetChooser(
            [](const QColor&, QWidget*) { return std::optional<QColor>(QColor(255, 0, 0)); });
        form->ImageLineColourClick();
        QCOMPARE(form->Run().Setup().LineColour, TColor{0x0000FF});
        int red = 0;
        const QImage recoloured = Shown(*form);
        for (int y = 0; y < recoloured.height(); y += 3) {
            for (int x = 0; x < recoloured.width(); ++x) {
                red += recoloured.pixel(x, y) == qRgb(255, 0, 0);
            }
        }
        QVERIFY(red > 1000);
    }

    void savedPicturesHoldWhatIsShown() {
        TempDir dir;
        auto form = Open({kSampleImage});
        QTRY_COMPARE(Count(form->Run().Diags(), "Plotting "), 1);
        form->FormKeyDown(Qt::Key_Right, Qt::NoModifier); // what is shown, offsets included
        // Saved while fitted (lines drawn wider for the screen): what 1:1 shows.
        QVERIFY(form->ZoomFits() && form->Zoom() < 0.5);
        const QImage fitted = Shown(*form);

        dialogs_.answers = {dir / "a.bmp", dir / "a.png", dir / "a.jpg", std::nullopt};
        for (int i = 0; i < 4; ++i) {
            form->ImageSaveAsClick();
        }
        QCOMPARE(dialogs_.asked.front(), kSource + "/samples/2020_09_27_08_00_58_64.geo.bmp|bmp|4");
        QCOMPARE(notifier_.entries.size(), std::size_t{1});
        QCOMPARE(notifier_.entries[0].text, std::string("Save image cancelled."));

        form->CopyToClipboardDisplayClick();
        const QImage copied = QGuiApplication::clipboard()->image();
        form->ZoomActualSize();
        const QImage shown = Shown(*form);
        QVERIFY(shown != fitted);
        TBitmap bmp;
        bmp.LoadFromFile(dir / "a.bmp");
        QCOMPARE(bmp.PixelFormat(), TPixelFormat::pf24bit);
        TPngImage png;
        png.LoadFromFile(dir / "a.png");
        TBitmap fromPng;
        png.CopyToBitmap(fromPng, 0, 0);
        for (const TBitmap* saved : {&bmp, &fromPng}) {
            QCOMPARE(saved->Width(), shown.width());
            QCOMPARE(saved->Height(), shown.height());
            int differing = 0;
            for (int y = 0; y < shown.height(); y += 5) {
                for (int x = 0; x < shown.width(); ++x) {
                    const TColor c = saved->PixelColor(x, y); // 0x00BBGGRR
                    differing +=
                        qRgb(c & 0xFF, (c >> 8) & 0xFF, (c >> 16) & 0xFF) != shown.pixel(x, y);
                }
            }
            QCOMPARE(differing, 0);
        }
        TBitmap jpeg;
        QVERIFY(ReadJpegFile(&jpeg, dir / "a.jpg", false, 0).Complete());
        QCOMPARE(jpeg.Width(), shown.width());

        // The clipboard: the picture, and the diagnostics text.
        QCOMPARE(copied.convertToFormat(QImage::Format_RGB32),
                 shown.convertToFormat(QImage::Format_RGB32));
        form->CopyToClipboardDiagsClick();
        QCOMPARE(QGuiApplication::clipboard()->text(), form->MemoDiags()->toPlainText());
        QVERIFY(!form->MemoDiags()->textCursor().hasSelection());
    }

    void settingsAreStoredAtCloseAndLoadedAtTheNextStart() {
        {
            auto form = Open();
            QVERIFY(!Stored(kLineThicknessValue)); // nothing written before a change
            form->ImageLineThicknessClick(2);
            form->ColorDialogLineColour()->SetChooser(
                [](const QColor&, QWidget*) { return std::optional<QColor>(QColor(0, 0, 255)); });
            form->ImageLineColourClick();
            // Written as they change: a crash now would lose nothing.
            QCOMPARE(Stored(kLineThicknessValue)->AsInteger(), std::optional<std::int32_t>(2));
            QCOMPARE(Stored(kLineColourValue)->AsInteger(), std::optional<std::int32_t>(0xFF0000));
            form->EditImagesFolder()->setText("/srv/images");
            emit form->EditImagesFolder()->editingFinished();
            QCOMPARE(Stored(kImagesFolderValue)->AsString(),
                     std::optional<std::string>("/srv/images"));
            form->EditImagesFolder()->setText("");
        }
        QCOMPARE(Stored(kLineThicknessValue)->AsInteger(), std::optional<std::int32_t>(2));
        QCOMPARE(Stored(kLineColourValue)->AsInteger(), std::optional<std::int32_t>(0xFF0000));
        QCOMPARE(Stored(kKeplerPathValue)->AsString(), std::optional<std::string>(kSampleKeps));
        {
            auto form = Open();
            QCOMPARE(form->RadioGroupLineThickness()->ItemIndex(), 2);
            QCOMPARE(form->Run().Setup().LineThickness, 2);
            QCOMPARE(form->Run().Setup().LineColour, TColor{0xFF0000});
            QCOMPARE(Count(form->Run().Diags(), "Plotting "), 0); // loading ran no handler
        }
        // A thickness stored as text: "Normal".
        Store(kLineThicknessValue, RegistryValue::String("2"));
        auto form = Open();
        QCOMPARE(form->RadioGroupLineThickness()->ItemIndex(), 1);
    }

    void anEmptyKeplerPathAsksTheSiblingTracker() {
        Store(kKeplerPathValue, RegistryValue::String(""));
        {
            TRegistry registry(RegistryRoot::CurrentUser);
            registry.OpenKey("\\Software\\Corvane\\Halvory");
            registry.WriteValue(kTwoLineDataPathValue,
                                RegistryValue::String(kSource + "/samples/keps"));
        }
        auto form = Open();
        QCOMPARE(form->KeplerPath(), kSource + "/samples/keps");
        QCOMPARE(form->EditKeplerPath()->text(), QString::fromStdString(kSampleKeps));
        QVERIFY(form->Run().Satellite() != nullptr);
    }

    void browsingForAnotherFolderClosesTheWindow() {
        TempDir other;
        // The same folder reached through a symbolic link and through "..".
        std::filesystem::create_directory_symlink(kSource + "/samples", other / "link");
        const std::string kepsNoSlash = kSampleKeps.substr(0, kSampleKeps.size() - 1);
        auto form = Open();
        // A real dialog answers without a trailing delimiter.
        dialogs_.answers = {std::nullopt, kepsNoSlash, other / "link/keps",
                            kSource + "/samples/keps/../keps", other / "link"};
        for (int i = 0; i < 4; ++i) {
            form->ButtonBrowsePathClick(); // cancelled, then the same folder three ways
        }
        QCOMPARE(dialogs_.asked[0], "Select Kepler data path|" + kSampleKeps);
        QVERIFY(notifier_.entries.empty());
        QVERIFY(form->isVisible());
        form->ButtonBrowsePathClick();
        QCOMPARE(notifier_.entries.size(), std::size_t{1});
        QCOMPARE(notifier_.entries[0].caption, std::string("Kepler Path chaged"));
        QCOMPARE(notifier_.entries[0].text, std::string("Program will now close"));
        QVERIFY(!form->isVisible());
        // Stored at once, not only at a clean close.
        QCOMPARE(Stored(kKeplerPathValue)->AsString(), std::optional<std::string>(other / "link"));
    }

    void updateElementSetsFetchesIntoTheKeplerFolderAndLoadsThem() {
        TempDir keps;
        Store(kKeplerPathValue, RegistryValue::String(keps.Path()));
        testing::LoopbackHttpServer server(testing::LoopbackHttpServer::Reply(
            testing::ReadTestData("keps/weather-2024-08-31.txt")));
        Store(kKepsUrlsValue, RegistryValue::String(server.Url()));
        auto form = Open();
        QVERIFY(form->Run().Satellite() == nullptr);
        form->ButtonUpdateElementSets()->click();
        QCOMPARE(Count(form->Run().Diags(), "Written to " + keps / "weather-2020-09-28.txt"), 1);
        QCOMPARE(form->StatusText(), std::string("Element sets updated: see the Diagnostics"));
        QVERIFY(form->MemoDiags()->toPlainText().contains("METEOR-M2 4 (59051): epoch"));
        QVERIFY(form->Run().Satellite() != nullptr);
        QVERIFY(QApplication::overrideCursor() == nullptr);
        QVERIFY(form->ButtonUpdateElementSets()->isEnabled());
    }

    void escapeAndExitClose() {
        auto form = Open();
        QTest::keyClick(form.get(), Qt::Key_Escape);
        QVERIFY(!form->isVisible());
        form->show();
        form->FileExitClick();
        QVERIFY(!form->isVisible());
    }
};

} // namespace
} // namespace vantorel

QTEST_MAIN(vantorel::WindowTest)
#include "WindowTest.moc"
