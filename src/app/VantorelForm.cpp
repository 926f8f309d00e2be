#include "app/VantorelForm.h"

#include "common/Clock.h"
#include "common/Files.h"
#include "common/Format.h"
#include "common/Program.h"
#include "common/StringUtils.h"
#include "common/TextFile.h"
#include "common/Version.h"
#include "export/PictureWriters.h"
#include "imaging/Shrink.h"
#include "keps/ElementSetUpdate.h"
#include "orbit/MeteorSeries.h"
#include "pass/inputs/InputKind.h"
#include "pass/inputs/SatDumpProduct.h"
#include "pass/inputs/StatTiming.h"
#include "settings/Registry.h"
#include "settings/RegistryVariables.h"
#include "settings/zorControls.h"

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHelpEvent>
#include <QInputDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QStatusBar>
#include <QTabWidget>
#include <QTimer>
#include <QToolTip>
#include <QTreeWidget>
#include <QUrl>
#include <QVBoxLayout>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>

namespace vantorel {
namespace {

QString Q(const std::string& text) {
    return QString::fromStdString(text);
}

// The program's texts carry CR LF line breaks; Qt's widgets want LF.
QString QText(const std::string& text) {
    return Q(PlainLineBreaks(text));
}

QString JoinFilters(const std::vector<std::string>& filters) {
    QStringList list;
    for (const auto& f : filters) {
        list << Q(f);
    }
    return list.join(";;");
}

// The pictures a product offers: its channels, then the composites its channels make
// (the classic false colour 2,2,1, and 1,2,4 / 3,2,1 as red, green and blue), then the
// current choice when it is another composite of them. Each as (label, choice).
std::vector<std::pair<std::string, std::string>>
ProductPictureChoices(const std::vector<std::string>& channels, const std::string& current) {
    std::vector<std::pair<std::string, std::string>> choices;
    auto has = [&](const std::string& c) {
        return std::find(channels.begin(), channels.end(), c) != channels.end();
    };
    for (const std::string& c : channels) {
        choices.emplace_back("Channel " + c, c);
    }
    std::vector<std::string> composites;
    for (const char* offered : {"1,2,4", "2,2,1", "3,2,1"}) {
        const auto parts = ParseCompositeChannels(offered);
        if (std::all_of(parts->begin(), parts->end(), has)) {
            composites.push_back(offered);
        }
    }
    if (const auto parts = ParseCompositeChannels(current);
        parts && std::all_of(parts->begin(), parts->end(), has) &&
        std::find(composites.begin(), composites.end(), FormatCompositeChannels(*parts)) ==
            composites.end()) {
        composites.push_back(FormatCompositeChannels(*parts));
    }
    for (const std::string& c : composites) {
        choices.emplace_back("Colour composite " + c + " (red, green, blue)", c);
    }
    return choices;
}

const char* const kStatusPrompt = "Drop a .BMP file for processing.";

// File > Open Recent's length.
constexpr int kRecentFiles = 8;
// The recent files' separator in their setting.
constexpr char kRecentSeparator = '|';
// A wheel's notch.
constexpr int kWheelStep = 120;

const char* const kHintBrowsePath = "Locate the directory with Kepler data.\rPress OK to use your "
                                    "new directory, \rand the program will then close.";

} // namespace

// ---- seams ---------------------------------------------------------------------------------

std::optional<std::string> TQtFormDialogs::ChooseSaveFile(QWidget* parent,
                                                          const std::string& suggested,
                                                          const std::string& defaultSuffix,
                                                          const std::vector<std::string>& filters) {
    QFileDialog dialog(parent);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setNameFilters(JoinFilters(filters).split(";;"));
    dialog.setDefaultSuffix(Q(defaultSuffix));
    dialog.selectFile(Q(suggested));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return std::nullopt;
    }
    return dialog.selectedFiles().first().toStdString();
}

std::optional<std::string> TQtFormDialogs::ChooseOpenFile(QWidget* parent,
                                                          const std::vector<std::string>& filters) {
    const QString name =
        QFileDialog::getOpenFileName(parent, QString(), QString(), JoinFilters(filters));
    if (name.isEmpty()) {
        return std::nullopt;
    }
    return name.toStdString();
}

std::optional<std::string> TQtFormDialogs::ChooseProductPicture(
    QWidget* parent, const std::vector<std::string>& channels, const std::string& current) {
    const auto choices = ProductPictureChoices(channels, current);
    QStringList labels;
    int selected = 0;
    for (std::size_t i = 0; i < choices.size(); ++i) {
        labels << Q(choices[i].first);
        if (choices[i].second == current) {
            selected = static_cast<int>(i);
        }
    }
    bool ok = false;
    // Editable: any three channels typed as R,G,B make a composite.
    const QString picked = QInputDialog::getItem(parent, "Open product",
                                                 "Picture of the product (or channels R,G,B):",
                                                 labels, selected, true, &ok);
    if (!ok) {
        return std::nullopt;
    }
    const std::string text = Trim(picked.toStdString());
    for (const auto& [label, choice] : choices) {
        if (label == text) {
            return choice;
        }
    }
    return text;
}

std::optional<std::string> TQtFormDialogs::ChooseFolder(QWidget* parent, const std::string& title,
                                                        const std::string& startFolder) {
    const QString folder = QFileDialog::getExistingDirectory(parent, Q(title), Q(startFolder));
    if (folder.isEmpty()) {
        return std::nullopt;
    }
    return folder.toStdString();
}

namespace {

// A box shown during a run: the busy cursor is not the box's.
class ArrowCursorWhileBusy {
public:
    ArrowCursorWhileBusy() : busy_(QApplication::overrideCursor() != nullptr) {
        if (busy_) {
            QApplication::setOverrideCursor(Qt::ArrowCursor);
        }
    }
    ~ArrowCursorWhileBusy() {
        if (busy_) {
            QApplication::restoreOverrideCursor();
        }
    }
    ArrowCursorWhileBusy(const ArrowCursorWhileBusy&) = delete;
    ArrowCursorWhileBusy& operator=(const ArrowCursorWhileBusy&) = delete;

private:
    bool busy_;
};

} // namespace

void TMessageBoxNotifier::ShowMessageBox(const std::string& text, const std::string& caption) {
    const ArrowCursorWhileBusy arrow;
    QMessageBox::information(parent_, Q(caption), QText(text), QMessageBox::Ok);
}

void TMessageBoxNotifier::ShowMessage(const std::string& text) {
    const ArrowCursorWhileBusy arrow;
    QMessageBox::information(parent_, kApplicationTitle, QText(text), QMessageBox::Ok);
}

// ---- the picture ---------------------------------------------------------------------------

TImageDisplay::TImageDisplay(QWidget* parent) : QWidget(parent) {
    setCursor(Qt::CrossCursor);
    setMouseTracking(true);
    setContextMenuPolicy(Qt::CustomContextMenu);
    resize(0, 0);
}

void TImageDisplay::SetPicture(const TBitmap& bitmap, QSize fullSize) {
    // A view of the run's bitmap, not a copy of its 23 MB on every arrow key; a picture
    // that is not 24-bit is converted into a bitmap of the display's own.
    converted_.reset();
    const TBitmap* bgr = &As24Bit(bitmap, converted_);
    shown_ = bgr;
    image_ = bgr->Height() > 0 && bgr->Width() > 0
                 ? QImage(bgr->ScanLine(0), bgr->Width(), bgr->Height(), bgr->Stride(),
                          QImage::Format_BGR888)
                 : QImage();
    fullSize_ = fullSize.isEmpty() ? image_.size() : fullSize;
    smoothed_ = QImage();
    TakeSize();
    update();
}

bool TImageDisplay::ViewValid() const {
    // The run changes its bitmap only to show it again at once; should it ever be resized
    // in between (a message box lets the display paint), nothing is read from it.
    return !image_.isNull() && shown_ != nullptr && shown_->Width() == image_.width() &&
           shown_->Height() == image_.height() && shown_->ScanLine(0) == image_.constBits();
}

QImage TImageDisplay::Picture() const {
    return ViewValid() ? image_.copy() : QImage();
}

QSize TImageDisplay::PictureSize() const {
    return ViewValid() ? fullSize_ : QSize();
}

void TImageDisplay::SetZoom(double zoom) {
    if (!(zoom > 0.0) || zoom == zoom_) {
        return;
    }
    zoom_ = zoom;
    smoothed_ = QImage();
    TakeSize();
    update();
}

void TImageDisplay::TakeSize() {
    if (image_.isNull()) {
        setFixedSize(0, 0);
        return;
    }
    const TScreenSize size = ZoomedSize(fullSize_.width(), fullSize_.height(), zoom_);
    setFixedSize(size.Width, size.Height);
}

QPoint TImageDisplay::PicturePixel(QPoint at) const {
    if (image_.isNull() || width() <= 0 || height() <= 0) {
        return at;
    }
    // Per axis, as the widget's rounded size has it.
    const double sx = static_cast<double>(fullSize_.width()) / width();
    const double sy = static_cast<double>(fullSize_.height()) / height();
    return {static_cast<int>(std::floor((at.x() + 0.5) * sx)),
            static_cast<int>(std::floor((at.y() + 0.5) * sy))};
}

void TImageDisplay::paintEvent(QPaintEvent* event) {
    ++paintCount_;
    if (!ViewValid()) {
        return;
    }
    QPainter painter(this);
    const QRect area = event->rect();
    if (size() == image_.size()) {
        // Drawn for the screen at this zoom, or full size at 1:1.
        painter.drawImage(area.topLeft(), image_, area);
    } else if (image_.size() != fullSize_) {
        // Drawn for another zoom, until it is drawn again for this one.
        painter.drawImage(rect(), image_);
    } else if (zoom_ < 1.0) {
        // Averaged over the picture pixels each screen pixel covers: thin lines and fine
        // detail fade instead of breaking up.
        if (smoothed_.isNull()) {
            smoothed_ = QImage(size(), QImage::Format_RGB32);
            if (!ShrinkByAreas(*shown_, width(), height(),
                               reinterpret_cast<std::uint32_t*>(smoothed_.bits()),
                               smoothed_.bytesPerLine())) {
                smoothed_ = image_.scaled(size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
            }
        }
        painter.drawImage(area.topLeft(), smoothed_, area);
    } else {
        // Whole picture pixels, each a block of screen pixels.
        const QPoint first = PicturePixel(area.topLeft());
        const QPoint last = PicturePixel(area.bottomRight());
        const QRect source = QRect(first, last).intersected(image_.rect());
        const QRectF target(source.x() * zoom_, source.y() * zoom_, source.width() * zoom_,
                            source.height() * zoom_);
        painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
        painter.drawImage(target, image_, source);
    }
}

void TImageDisplay::mouseMoveEvent(QMouseEvent* event) {
    if (panFrom_) {
        const QPoint now = event->globalPosition().toPoint();
        emit Panned(now - *panFrom_);
        panFrom_ = now;
        return;
    }
    const QPoint p = PicturePixel(event->position().toPoint());
    emit PointerMoved(p.x(), p.y());
}

void TImageDisplay::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::MiddleButton) {
        panFrom_ = event->globalPosition().toPoint();
        setCursor(Qt::ClosedHandCursor);
        return;
    }
    QWidget::mousePressEvent(event);
}

void TImageDisplay::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::MiddleButton && panFrom_) {
        panFrom_.reset();
        setCursor(Qt::CrossCursor);
        return;
    }
    QWidget::mouseReleaseEvent(event);
}

// ---- the window ----------------------------------------------------------------------------

TFormVantorelTest::TFormVantorelTest(std::vector<std::string> arguments, INotifier* notifier,
                                     IFormDialogs* dialogs, QWidget* parent)
    : QMainWindow(parent), FArguments(std::move(arguments)) {
    if (notifier == nullptr) {
        FOwnNotifier = std::make_unique<TMessageBoxNotifier>(this);
        notifier = FOwnNotifier.get();
    }
    if (dialogs == nullptr) {
        FOwnDialogs = std::make_unique<TQtFormDialogs>();
        dialogs = FOwnDialogs.get();
    }
    FNotifier = notifier;
    FDialogs = dialogs;
    FRun = std::make_unique<TProcessingRun>(*FNotifier, static_cast<IRunView*>(this));

    BuildComponents();
    // The persisted controls take their stored values once the window is built; the
    // thickness group does so before its click handler is attached.
    EditKeplerPath_->Loaded();
    EditImagesFolder_->Loaded();
    FAlignSetting = std::make_unique<TRegistryInteger>(kAlignAutomaticallyValue, 1);
    {
        const TRegistryInteger calibration(kUseCalibrationValue, 1);
        FRun->Setup().Calibration = calibration.Value() != 0;
    }
    ActionAlignAutomatically_->setChecked(FAlignSetting->Value() != 0);
    FProductPictureSetting =
        std::make_unique<TRegistryString>(kProductPictureValue, std::string());
    ApplyProductPicture(FProductPictureSetting->Value());
    FGraticuleSetting = std::make_unique<TRegistryInteger>(kGraticuleValue, 0);
    ActionGraticule_->setChecked(FGraticuleSetting->Value() != 0);
    ColorDialogGraticuleColour_->Loaded();
    FFileClockSetting = std::make_unique<TRegistryString>(kFileClockOffsetValue, "");
    if (const auto hours = ParseClockOffsetHours(FFileClockSetting->Value())) {
        ComboFileClock_->setCurrentIndex(std::max(0, ComboFileClock_->findData(*hours)));
    }
    FRecentSetting = std::make_unique<TRegistryString>(kRecentFilesValue, "");
    FillRecentMenu();
    FSatelliteSetting =
        std::make_unique<TRegistryString>(kSatelliteValue, std::string(kDefaultSatellite));
    if (const auto stored = FindMeteorSatellite(FSatelliteSetting->Value())) {
        ComboSatellite_->setCurrentIndex(ComboSatellite_->findData(Q(std::string(stored->Name))));
    }
    RadioGroupLineThickness_->Loaded();
    ColorDialogLineColour_->Loaded();
    RestorePlacement();
    FormCreate();
    connect(RadioGroupLineThickness_, &TzorRadioGroup::Click, this,
            &TFormVantorelTest::RadioGroupLineThicknessClick);
    connect(ComboSatellite_, &QComboBox::currentIndexChanged, this,
            &TFormVantorelTest::ComboSatelliteChange);
    connect(ActionAlignAutomatically_, &QAction::toggled, this, [this](bool on) {
        FAlignSetting->SetValue(on ? 1 : 0);
        FAlignSetting->Save();
        ApplyLineSettings();
    });
    connect(ActionGraticule_, &QAction::toggled, this, &TFormVantorelTest::GraticuleClick);
    connect(ComboFileClock_, &QComboBox::currentIndexChanged, this,
            &TFormVantorelTest::ComboFileClockChange);
    connect(EditPassStart_, &QLineEdit::textChanged, this, [this] { ApplyLineSettings(); });
    TimerStart_->start();
}

TFormVantorelTest::~TFormVantorelTest() {
    // FormDestroy: no more drops or key previews; the run goes before the controls,
    // which write their values to the registry as Qt destroys them.
    qApp->removeEventFilter(this);
    ScrollBoxForImage_->setAcceptDrops(false);
    disconnect(PageControl_, nullptr, this, nullptr);
    disconnect(RadioGroupLineThickness_, nullptr, this, nullptr);
    disconnect(ComboSatellite_, nullptr, this, nullptr);
    disconnect(ActionAlignAutomatically_, nullptr, this, nullptr);
    disconnect(ActionGraticule_, nullptr, this, nullptr);
    disconnect(ComboFileClock_, nullptr, this, nullptr);
    disconnect(EditPassStart_, nullptr, this, nullptr);
    disconnect(ScrollBoxForImage_->horizontalScrollBar(), nullptr, this, nullptr);
    disconnect(ScrollBoxForImage_->verticalScrollBar(), nullptr, this, nullptr);
    TimerView_->stop();
    FRun.reset();
}

void TFormVantorelTest::BuildComponents() {
    setObjectName("FormVantorelTest");
    setWindowTitle(QString(kProductName) + " - Corvane");
    // Tahoma 8 pt where it is installed; the closest sans-serif face elsewhere.
    QFont face = font();
    face.setFamilies({"Tahoma", "DejaVu Sans", face.family()});
    face.setPointSize(8);
    setFont(face);

    const TZoomActions zoom = BuildMenus();

    statusBar()->setObjectName("StatusBar");
    statusBar()->setSizeGripEnabled(false);
    StatusBarText_ = new QLabel(kStatusPrompt, statusBar());
    statusBar()->addWidget(StatusBarText_, 1);

    PageControl_ = new QTabWidget(this);
    PageControl_->setObjectName("PageControl");
    setCentralWidget(PageControl_);

    BuildImageTab();
    BuildKeplerTab();
    BuildDiagnosticsTab();
    connect(PageControl_, &QTabWidget::currentChanged, this, [this](int) {
        SavePlacement();
        const bool onKeplers = PageControl_->currentWidget() == TabSheetKeplers_;
        if (onKeplers && !FOnKeplerTab) {
            TabSheetKeplersShow();
        } else if (!onKeplers && FOnKeplerTab) {
            TabSheetKeplersExit();
        }
    });

    TimerStart_ = new QTimer(this);
    TimerStart_->setObjectName("TimerStart");
    TimerStart_->setInterval(100);
    TimerStart_->setSingleShot(true);
    connect(TimerStart_, &QTimer::timeout, this, &TFormVantorelTest::TimerStartTimer);

    ColorDialogLineColour_ = new TzorColorDialog(this);
    ColorDialogLineColour_->setObjectName("ColorDialogLineColour");
    ColorDialogLineColour_->SetColor(kDefaultLineColour);
    ColorDialogLineColour_->SetNamedAs(Q(std::string(kLineColourValue)));
    ColorDialogGraticuleColour_ = new TzorColorDialog(this);
    ColorDialogGraticuleColour_->setObjectName("ColorDialogGraticuleColour");
    ColorDialogGraticuleColour_->SetColor(kDefaultGraticuleColour);
    ColorDialogGraticuleColour_->SetNamedAs(Q(std::string(kGraticuleColourValue)));

    BuildPopupMenus(zoom);
    ConnectViewEvents();
}

TFormVantorelTest::TZoomActions TFormVantorelTest::BuildMenus() {
    QMenu* file = menuBar()->addMenu("File");
    QAction* open = file->addAction("Open");
    open->setObjectName("Open1");
    open->setShortcut(QKeySequence::Open);
    connect(open, &QAction::triggered, this, &TFormVantorelTest::Open1Click);
    connect(file->addAction("Open product folder..."), &QAction::triggered, this,
            &TFormVantorelTest::OpenProductFolderClick);
    MenuOpenRecent_ = file->addMenu("Open Recent");
    MenuOpenRecent_->setObjectName("MenuOpenRecent");
    // A fixed set of entries, filled in as the list changes: an entry is never deleted
    // while its own click is being handled.
    for (int i = 0; i < kRecentFiles; ++i) {
        QAction* entry = MenuOpenRecent_->addAction(QString());
        connect(entry, &QAction::triggered, this, [this, entry] {
            ProcessFile(entry->data().toString().toStdString());
        });
    }
    file->addSeparator();
    QAction* exit = file->addAction("Exit");
    exit->setObjectName("FileExit");
    connect(exit, &QAction::triggered, this, &TFormVantorelTest::FileExitClick);

    // Automatic alignment: on demand, and after every run unless switched off.
    QMenu* overlay = menuBar()->addMenu("Overlay");
    ActionAlignToCoasts_ = overlay->addAction("Align to coasts");
    ActionAlignToCoasts_->setObjectName("ActionAlignToCoasts");
    ActionAlignToCoasts_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_L));
    connect(ActionAlignToCoasts_, &QAction::triggered, this,
            &TFormVantorelTest::AlignToCoastsClick);
    ActionAlignAutomatically_ = overlay->addAction("Align automatically");
    ActionAlignAutomatically_->setObjectName("ActionAlignAutomatically");
    ActionAlignAutomatically_->setCheckable(true);
    overlay->addSeparator();
    ActionGraticule_ = overlay->addAction("Latitude/longitude grid");
    ActionGraticule_->setObjectName("ActionGraticule");
    ActionGraticule_->setCheckable(true);
    ActionGraticule_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_G));

    // Zoom: the menu shows the keys; Ctrl and the wheel over the picture zoom too.
    QMenu* view = menuBar()->addMenu("View");
    auto zoomAction = [this, view](const char* text, QList<QKeySequence> keys,
                                   void (TFormVantorelTest::*slot)()) {
        QAction* action = view->addAction(text);
        action->setShortcuts(keys);
        connect(action, &QAction::triggered, this, slot);
        return action;
    };
    QAction* fit = zoomAction("Fit to window", {QKeySequence(Qt::CTRL | Qt::Key_0)},
                              &TFormVantorelTest::ZoomToFit);
    QAction* actual = zoomAction("Actual size (1:1)", {QKeySequence(Qt::CTRL | Qt::Key_1)},
                                 &TFormVantorelTest::ZoomActualSize);
    zoomAction("Zoom in", {QKeySequence::ZoomIn, QKeySequence(Qt::CTRL | Qt::Key_Equal)},
               &TFormVantorelTest::ZoomIn);
    zoomAction("Zoom out", {QKeySequence::ZoomOut}, &TFormVantorelTest::ZoomOut);
    return {fit, actual};
}

void TFormVantorelTest::BuildImageTab() {
    // " Image ": the picture in its scroll box, the thickness choice beside it.
    TabSheetImage_ = new QWidget;
    TabSheetImage_->setObjectName("TabSheetImage");
    auto* imageLayout = new QHBoxLayout(TabSheetImage_);
    imageLayout->setContentsMargins(0, 0, 0, 0);
    ScrollBoxForImage_ = new QScrollArea(TabSheetImage_);
    ScrollBoxForImage_->setObjectName("ScrollBoxForImage");
    ScrollBoxForImage_->setWidgetResizable(false);
    ImageDisplay_ = new TImageDisplay;
    ImageDisplay_->setObjectName("ImageDisplay");
    ScrollBoxForImage_->setWidget(ImageDisplay_);
    ScrollBoxForImage_->setAlignment(Qt::AlignCenter);
    imageLayout->addWidget(ScrollBoxForImage_, 1);
    RadioGroupLineThickness_ = new TzorRadioGroup("Thickness ", TabSheetImage_);
    RadioGroupLineThickness_->setObjectName("RadioGroupLineThickness");
    RadioGroupLineThickness_->SetItems({"Thin", "Normal", "Thick"});
    RadioGroupLineThickness_->SetItemIndex(kDefaultLineThickness);
    RadioGroupLineThickness_->SetNamedAs(Q(std::string(kLineThicknessValue)));
    auto* side = new QVBoxLayout;
    side->addWidget(RadioGroupLineThickness_);
    side->addStretch(1);
    imageLayout->addLayout(side);
    PageControl_->addTab(TabSheetImage_, " Image ");
}

void TFormVantorelTest::BuildKeplerTab() {
    // " Kepler data ": the folder, stored as "KeplerPath", and a way to choose another.
    TabSheetKeplers_ = new QWidget;
    TabSheetKeplers_->setObjectName("TabSheetKeplers");
    auto* keplerLayout = new QVBoxLayout(TabSheetKeplers_);
    GroupBoxKeplers_ = new QGroupBox(
        " Select the path to the Kepler data and run the program again  ", TabSheetKeplers_);
    GroupBoxKeplers_->setObjectName("GroupBoxKeplers");
    auto* groupLayout = new QHBoxLayout(GroupBoxKeplers_);
    EditKeplerPath_ = new TzorEdit(GroupBoxKeplers_);
    EditKeplerPath_->setObjectName("EditKeplerPath");
    EditKeplerPath_->SetNamedAs(Q(std::string(kKeplerPathValue)));
    ButtonBrowsePath_ = new QPushButton("Browse", GroupBoxKeplers_);
    ButtonBrowsePath_->setObjectName("ButtonBrowsePath");
    ButtonBrowsePath_->setToolTip(QText(kHintBrowsePath));
    ButtonBrowsePath_->installEventFilter(this);
    connect(ButtonBrowsePath_, &QPushButton::clicked, this,
            &TFormVantorelTest::ButtonBrowsePathClick);
    ButtonUpdateElementSets_ = new QPushButton("Update element sets", GroupBoxKeplers_);
    ButtonUpdateElementSets_->setObjectName("ButtonUpdateElementSets");
    connect(ButtonUpdateElementSets_, &QPushButton::clicked, this,
            &TFormVantorelTest::ButtonUpdateElementSetsClick);
    groupLayout->addWidget(EditKeplerPath_, 1);
    groupLayout->addWidget(ButtonBrowsePath_);
    groupLayout->addWidget(ButtonUpdateElementSets_);
    keplerLayout->addWidget(GroupBoxKeplers_);
    // Where an image named on the command line is looked for when it is not found as
    // named; empty: nowhere else.
    GroupBoxImagesFolder_ = new QGroupBox(
        " Folder tried for images not found where named (may be empty) ", TabSheetKeplers_);
    GroupBoxImagesFolder_->setObjectName("GroupBoxImagesFolder");
    auto* imagesLayout = new QHBoxLayout(GroupBoxImagesFolder_);
    EditImagesFolder_ = new TzorEdit(GroupBoxImagesFolder_);
    EditImagesFolder_->setObjectName("EditImagesFolder");
    EditImagesFolder_->SetNamedAs(Q(std::string(kImagesFolderValue)));
    imagesLayout->addWidget(EditImagesFolder_, 1);
    keplerLayout->addWidget(GroupBoxImagesFolder_);
    // The satellite of pictures that do not name their own.
    GroupBoxSatellite_ =
        new QGroupBox(" Satellite of pictures that do not name their own ", TabSheetKeplers_);
    GroupBoxSatellite_->setObjectName("GroupBoxSatellite");
    auto* satelliteLayout = new QHBoxLayout(GroupBoxSatellite_);
    ComboSatellite_ = new QComboBox(GroupBoxSatellite_);
    ComboSatellite_->setObjectName("ComboSatellite");
    for (const TMeteorSatellite& s : MeteorSatellites()) {
        ComboSatellite_->addItem(
            Q(std::string(s.DisplayName) + "  (" + std::string(s.CatalogueNumber) + ")"),
            Q(std::string(s.Name)));
    }
    satelliteLayout->addWidget(ComboSatellite_);
    satelliteLayout->addStretch(1);
    keplerLayout->addWidget(GroupBoxSatellite_);
    // The clock of the computer that named the files: their names hold its local time.
    GroupBoxFileClock_ = new QGroupBox(
        " Clock of the computer that named the files (hours ahead of UTC) ", TabSheetKeplers_);
    GroupBoxFileClock_->setObjectName("GroupBoxFileClock");
    auto* clockLayout = new QHBoxLayout(GroupBoxFileClock_);
    ComboFileClock_ = new QComboBox(GroupBoxFileClock_);
    ComboFileClock_->setObjectName("ComboFileClock");
    ComboFileClock_->addItem("This computer's time zone");
    for (int hours = -12; hours <= kMostClockOffsetHours; ++hours) {
        ComboFileClock_->addItem(Q("UTC" + FormatUtcOffset(hours / 24.0)), hours);
    }
    clockLayout->addWidget(ComboFileClock_);
    clockLayout->addStretch(1);
    keplerLayout->addWidget(GroupBoxFileClock_);
    // Any decoder's picture can be placed once it has a time: one given here goes over
    // the file name and the .STAT files (not kept: it belongs to one picture).
    GroupBoxPassStart_ = new QGroupBox(" Pass start (UTC), over the file name and .STAT files ",
                                       TabSheetKeplers_);
    GroupBoxPassStart_->setObjectName("GroupBoxPassStart");
    auto* startLayout = new QHBoxLayout(GroupBoxPassStart_);
    EditPassStart_ = new QLineEdit(GroupBoxPassStart_);
    EditPassStart_->setObjectName("EditPassStart");
    EditPassStart_->setPlaceholderText("yyyy-mm-dd hh:nn:ss (empty: from the file name)");
    EditPassStart_->setClearButtonEnabled(true);
    startLayout->addWidget(EditPassStart_, 1);
    keplerLayout->addWidget(GroupBoxPassStart_);
    // What the folder holds for each satellite, and the calibration its passes get.
    GroupBoxSatellites_ = new QGroupBox(" Element sets and scanner calibration ", TabSheetKeplers_);
    GroupBoxSatellites_->setObjectName("GroupBoxSatellites");
    auto* satellitesLayout = new QVBoxLayout(GroupBoxSatellites_);
    TreeSatellites_ = new QTreeWidget(GroupBoxSatellites_);
    TreeSatellites_->setObjectName("TreeSatellites");
    TreeSatellites_->setRootIsDecorated(false);
    TreeSatellites_->setSelectionMode(QAbstractItemView::NoSelection);
    TreeSatellites_->setHeaderLabels(
        {"Satellite", "Newest element set", "Age", "Scanner calibration"});
    satellitesLayout->addWidget(TreeSatellites_);
    keplerLayout->addWidget(GroupBoxSatellites_, 1);
    PageControl_->addTab(TabSheetKeplers_, " Kepler data ");
}

void TFormVantorelTest::BuildDiagnosticsTab() {
    // " Diagnostics ": the run's account, read-only.
    TabSheetDiags_ = new QWidget;
    TabSheetDiags_->setObjectName("TabSheetDiags");
    auto* diagsLayout = new QVBoxLayout(TabSheetDiags_);
    diagsLayout->setContentsMargins(0, 0, 0, 0);
    MemoDiags_ = new QPlainTextEdit(TabSheetDiags_);
    MemoDiags_->setObjectName("MemoDiags");
    MemoDiags_->setReadOnly(true);
    MemoDiags_->setLineWrapMode(QPlainTextEdit::NoWrap);
    MemoDiags_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    MemoDiags_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    MemoDiags_->setPlainText("Diagnostics");
    MemoDiags_->setContextMenuPolicy(Qt::CustomContextMenu);
    diagsLayout->addWidget(MemoDiags_);
    PageControl_->addTab(TabSheetDiags_, " Diagnostics ");
}

void TFormVantorelTest::BuildPopupMenus(const TZoomActions& zoom) {
    PopupMenuDisplay_ = new QMenu(this);
    PopupMenuDisplay_->setObjectName("PopupMenuDisplay");
    QMenu* lineStyle = PopupMenuDisplay_->addMenu("LineStyle");
    const char* const thicknesses[] = {"Thin", "Normal", "Thick"};
    for (int item = 0; item < 3; ++item) {
        connect(lineStyle->addAction(thicknesses[item]), &QAction::triggered, this,
                [this, item] { ImageLineThicknessClick(item); });
    }
    connect(PopupMenuDisplay_->addAction("Line colour..."), &QAction::triggered, this,
            &TFormVantorelTest::ImageLineColourClick);
    PopupMenuDisplay_->addAction(ActionGraticule_);
    connect(PopupMenuDisplay_->addAction("Grid colour..."), &QAction::triggered, this,
            &TFormVantorelTest::GraticuleColourClick);
    PopupMenuDisplay_->addSeparator();
    PopupMenuDisplay_->addAction(zoom.Fit);
    PopupMenuDisplay_->addAction(zoom.Actual);
    PopupMenuDisplay_->addSeparator();
    PopupMenuDisplay_->addAction(ActionAlignToCoasts_);
    PopupMenuDisplay_->addAction(ActionAlignAutomatically_);
    PopupMenuDisplay_->addSeparator();
    connect(PopupMenuDisplay_->addAction("Copy to clipboard"), &QAction::triggered, this,
            &TFormVantorelTest::CopyToClipboardDisplayClick);
    connect(PopupMenuDisplay_->addAction("Save image as..."), &QAction::triggered, this,
            &TFormVantorelTest::ImageSaveAsClick);
    connect(ImageDisplay_, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& p) { PopupMenuDisplay_->popup(ImageDisplay_->mapToGlobal(p)); });

    PopupMenuDiags_ = new QMenu(this);
    PopupMenuDiags_->setObjectName("PopupMenuDiags");
    connect(PopupMenuDiags_->addAction("Copy to clipboard"), &QAction::triggered, this,
            &TFormVantorelTest::CopyToClipboardDiagsClick);
    connect(MemoDiags_, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& p) { PopupMenuDiags_->popup(MemoDiags_->mapToGlobal(p)); });
}

void TFormVantorelTest::ConnectViewEvents() {
    connect(ImageDisplay_, &TImageDisplay::PointerMoved, this,
            &TFormVantorelTest::ImageDisplayMouseMove);
    connect(ImageDisplay_, &TImageDisplay::Panned, this, [this](QPoint by) {
        QScrollBar* h = ScrollBoxForImage_->horizontalScrollBar();
        QScrollBar* v = ScrollBoxForImage_->verticalScrollBar();
        h->setValue(h->value() - by.x());
        v->setValue(v->value() - by.y());
    });
    // The run hears of a scroll once it settles; of a zoom at once.
    TimerView_ = new QTimer(this);
    TimerView_->setSingleShot(true);
    TimerView_->setInterval(150);
    connect(TimerView_, &QTimer::timeout, this, &TFormVantorelTest::SyncView);
    for (QScrollBar* bar : {ScrollBoxForImage_->horizontalScrollBar(),
                            ScrollBoxForImage_->verticalScrollBar()}) {
        connect(bar, &QScrollBar::valueChanged, TimerView_, qOverload<>(&QTimer::start));
    }

    // The drop target: the scroll box (its viewport receives the drags).
    ScrollBoxForImage_->setAcceptDrops(true);
    ScrollBoxForImage_->viewport()->setAcceptDrops(true);
    ScrollBoxForImage_->viewport()->installEventFilter(this);

    // Key preview: the window sees keys and the wheel before its controls.
    qApp->installEventFilter(this);
}

void TFormVantorelTest::FormCreate() {
    if (EditKeplerPath_->text().isEmpty()) {
        EditKeplerPath_->setText(Q(HalvoryValue(kTwoLineDataPathValue)));
    }
    FKeplerPath = EditKeplerPath_->text().toStdString();
    FRun->Start(FKeplerPath, kVersion, ChosenSatellite());
    EditKeplerPath_->setText(Q(FRun->KeplerFolder()));
    ShowSatelliteStates();
    if (RadioGroupLineThickness_->ItemIndex() < 0) {
        RadioGroupLineThickness_->SetItemIndex(kDefaultLineThickness);
    }
    ApplyLineSettings();
    FDiagsShown = 0;
    MemoDiags_->clear();
    SyncDiags();
}

template <typename Work> void TFormVantorelTest::Guarded(Work&& work) {
    try {
        work();
    } catch (const std::exception& e) {
        SyncDiags();
        FNotifier->ShowMessage(e.what());
    }
    SyncDiags();
}

void TFormVantorelTest::SyncDiags() {
    // A registry file the settings cannot be read from or saved to is said once.
    for (const std::string& line : SplitLines(TakeRegistryProblemReport())) {
        if (!line.empty()) {
            FRun->Diags().Add(line);
        }
    }
    const TStringList& diags = FRun->Diags();
    if (diags.Count() < FDiagsShown) {
        MemoDiags_->clear();
        FDiagsShown = 0;
    }
    for (; FDiagsShown < diags.Count(); ++FDiagsShown) {
        MemoDiags_->appendPlainText(Q(diags[FDiagsShown]));
    }
}

TPassSatellite TFormVantorelTest::ChosenSatellite() const {
    const auto s = FindMeteorSatellite(ComboSatellite_->currentData().toString().toStdString());
    return s ? TPassSatellite::Of(*s) : TPassSatellite{};
}

void TFormVantorelTest::ComboSatelliteChange() {
    const TPassSatellite satellite = ChosenSatellite();
    FSatelliteSetting->SetValue(satellite.Name);
    FSatelliteSetting->Save();
    FRun->ChooseSatellite(satellite);
    ShowSatelliteStates();
    SyncDiags();
}

void TFormVantorelTest::ApplyLineSettings() {
    FRun->Setup().LineColour = static_cast<TColor>(ColorDialogLineColour_->Color());
    FRun->Setup().LineThickness = std::max(0, RadioGroupLineThickness_->ItemIndex());
    FRun->Setup().Align = ActionAlignAutomatically_->isChecked();
    FRun->Setup().FallbackFolder = EditImagesFolder_->text().trimmed().toStdString();
    if (!FRun->Setup().FallbackFolder.empty()) {
        FRun->Setup().FallbackFolder = IncludeTrailingPathDelimiter(FRun->Setup().FallbackFolder);
    }
    FRun->Setup().Graticule = ActionGraticule_->isChecked();
    FRun->Setup().GraticuleColour = static_cast<TColor>(ColorDialogGraticuleColour_->Color());
    FRun->Setup().FileClockOffsetHours = ChosenFileClock();
    const std::string start = EditPassStart_->text().trimmed().toStdString();
    FRun->Setup().Start = start.empty() ? std::nullopt : ParseUtcDateTime(start);
    // A time that does not read is shown as such rather than quietly not used.
    EditPassStart_->setStyleSheet(!start.empty() && !FRun->Setup().Start
                                      ? QStringLiteral("QLineEdit { color: red; }")
                                      : QString());
}

std::optional<int> TFormVantorelTest::ChosenFileClock() const {
    const QVariant hours = ComboFileClock_->currentData();
    return hours.isValid() ? std::optional<int>(hours.toInt()) : std::nullopt;
}

void TFormVantorelTest::ComboFileClockChange() {
    const auto hours = ChosenFileClock();
    FFileClockSetting->SetValue(hours ? std::to_string(*hours) : std::string());
    FFileClockSetting->Save();
    ApplyLineSettings();
    SyncDiags();
}

std::vector<std::string> TFormVantorelTest::RecentFiles() const {
    std::vector<std::string> files;
    const std::string& list = FRecentSetting->Value();
    for (size_t from = 0; from <= list.size() && files.size() < size_t{kRecentFiles};) {
        const size_t to = std::min(list.find(kRecentSeparator, from), list.size());
        if (to > from) {
            files.push_back(list.substr(from, to - from));
        }
        from = to + 1;
    }
    return files;
}

void TFormVantorelTest::AddRecentFile(const std::string& path) {
    std::vector<std::string> files = RecentFiles();
    std::erase(files, path);
    files.insert(files.begin(), path);
    std::string joined;
    for (size_t i = 0; i < files.size() && i < static_cast<size_t>(kRecentFiles); ++i) {
        joined += (i == 0 ? "" : std::string(1, kRecentSeparator)) + files[i];
    }
    FRecentSetting->SetValue(joined);
    FRecentSetting->Save();
    FillRecentMenu();
}

void TFormVantorelTest::FillRecentMenu() {
    const std::vector<std::string> files = RecentFiles();
    const QList<QAction*> entries = MenuOpenRecent_->actions();
    for (qsizetype i = 0; i < entries.size(); ++i) {
        const bool used = i < static_cast<qsizetype>(files.size());
        const QString path = used ? Q(files[static_cast<size_t>(i)]) : QString();
        QString shown = path;
        entries[i]->setText(QString("&%1  %2").arg(i + 1).arg(shown.replace("&", "&&")));
        entries[i]->setData(path);
        entries[i]->setVisible(used);
    }
    MenuOpenRecent_->setEnabled(!files.empty());
}

// ---- start-up and life ---------------------------------------------------------------------

void TFormVantorelTest::TimerStartTimer() {
    TimerStart_->stop();
    if (!DirectoryExists(FKeplerPath) || FRun->Satellite() == nullptr) {
        FNotifier->ShowMessageBox("Error getting Kepler data for " +
                                      FRun->ChosenSatellite().DisplayName +
                                      "\r\n\r\nPlease enter the location of the Kepler data."
                                      "\r\n\r\nThe program will close if the Kepler path is "
                                      "changed.",
                                  kKeplerMissingCaption);
        ShowKeplerTab();
    } else if (FArguments.size() == 1) {
        ProcessFile(FArguments[0]);
    }
}

void TFormVantorelTest::ButtonBrowsePathClick() {
    const std::string start = DirectoryExists(FKeplerPath) ? FKeplerPath : ProgramFolder();
    const auto folder = FDialogs->ChooseFolder(this, "Select Kepler data path", start);
    if (!folder || SameFolder(*folder, FKeplerPath)) {
        return;
    }
    FKeplerPath = *folder;
    EditKeplerPath_->setText(Q(FKeplerPath));
    EditKeplerPath_->Store(); // kept even if the program does not close cleanly
    FNotifier->ShowMessageBox("Program will now close", "Kepler Path chaged");
    close();
}

void TFormVantorelTest::ButtonUpdateElementSetsClick() {
    TElementSetUpdateRequest request;
    request.Urls = ConfiguredElementSetUrls();
    request.KeplerFolder = FRun->KeplerFolder();
    StatusBarText_->setText("Fetching element sets ...");
    ButtonUpdateElementSets_->setEnabled(false);
    QApplication::setOverrideCursor(Qt::WaitCursor);
    const TElementSetUpdate update = UpdateElementSets(request);
    QApplication::restoreOverrideCursor();
    ButtonUpdateElementSets_->setEnabled(true);
    for (const std::string& line : update.Report) {
        FRun->Diags().Add(line);
    }
    const bool failed = update.Outcome == TElementSetUpdate::TOutcome::Failed;
    if (update.Outcome == TElementSetUpdate::TOutcome::Written) {
        // The next pass uses the new sets without a restart.
        Guarded([&] { FRun->ChooseSatellite(FRun->ChosenSatellite()); });
        ShowSatelliteStates();
    }
    StatusBarText_->setText(failed ? "Element sets not updated: see the Diagnostics"
                                   : "Element sets updated: see the Diagnostics");
    SyncDiags();
}

void TFormVantorelTest::ShowSatelliteStates() {
    TreeSatellites_->clear();
    for (const TPassSession::TSatelliteState& s : FRun->SatelliteStates(NowUTC())) {
        auto* row = new QTreeWidgetItem(TreeSatellites_);
        row->setText(0, Q(std::string(s.Satellite.DisplayName) + " (" +
                          std::string(s.Satellite.CatalogueNumber) + ")"));
        if (s.NewestEpoch) {
            row->setText(1, Q(FormatDateTime("yyyy-mm-dd hh:nn \"UTC\"", *s.NewestEpoch)));
            row->setText(2, Q(Format("%.1f days", s.AgeDays)));
        } else {
            row->setText(1, "none in the folder");
        }
        row->setText(3, Q(s.Calibration));
        if (s.Stale) { // more than a week old: the overlay may be kilometres off
            for (const int column : {1, 2}) {
                row->setForeground(column, QColor(192, 0, 0));
            }
        }
    }
    for (int column = 0; column < TreeSatellites_->columnCount(); ++column) {
        TreeSatellites_->resizeColumnToContents(column);
    }
}

void TFormVantorelTest::TabSheetKeplersShow() {
    ShowSatelliteStates(); // the ages as of now
    FOnKeplerTab = true;
    FSavedHintPause = FHintHidePause;
    FHintHidePause = kKeplerTabHintHidePause;
}

void TFormVantorelTest::TabSheetKeplersExit() {
    FOnKeplerTab = false;
    FHintHidePause = FSavedHintPause;
}

void TFormVantorelTest::FileExitClick() {
    close();
}

// ---- intake --------------------------------------------------------------------------------

void TFormVantorelTest::OpenProductFolderClick() {
    const std::vector<std::string> recent = RecentFiles();
    std::string start;
    if (!recent.empty()) {
        start = DirectoryExists(recent.front()) ? recent.front() : ExtractFilePath(recent.front());
    }
    const auto folder = FDialogs->ChooseFolder(this, "Open a SatDump product folder", start);
    if (folder && ChooseProductPicture(*folder)) {
        ProcessFile(*folder);
    }
}

void TFormVantorelTest::Open1Click() {
    const auto name = FDialogs->ChooseOpenFile(
        this, {"Channel file set (*_6?.bmp)", "Channel images (*.bmp *.png *.jpg *.jpeg)",
               "SatDump products (product.cbor)", "All files (*)"});
    if (name && ChooseProductPicture(*name)) {
        ProcessFile(*name);
    }
}

bool TFormVantorelTest::ChooseProductPicture(const std::string& file) {
    const bool wholeProduct =
        DirectoryExists(file) || SameText(ExtractFileName(file), "product.cbor");
    if (!wholeProduct || InputKindOf(file) != TInputKind::SatDumpProduct) {
        return true;
    }
    std::vector<std::string> channels;
    try {
        for (const TSatDumpImage& image : OpenSatDumpProduct(file).Product.Images) {
            channels.push_back(image.Channel);
        }
    } catch (const std::exception&) {
        return true; // the run says what is wrong with it
    }
    const auto choice =
        FDialogs->ChooseProductPicture(this, channels, FProductPictureSetting->Value());
    if (!choice) {
        return false;
    }
    FProductPictureSetting->SetValue(*choice);
    FProductPictureSetting->Save();
    ApplyProductPicture(*choice);
    return true;
}

void TFormVantorelTest::ApplyProductPicture(const std::string& choice) {
    FRun->Setup().Composite = ParseCompositeChannels(choice);
    FRun->Setup().Channel = FRun->Setup().Composite ? std::string() : Trim(choice);
}

void TFormVantorelTest::DropFileTargetDrop(const std::vector<std::string>& files) {
    raise();
    activateWindow();
    if (files.size() != 1) {
        FNotifier->ShowMessageBox("Please drop just a single .BMP file",
                                  "Vantorel - Too many files dropped");
        return;
    }
    const std::string& file = files.front();
    const std::string ext = UpperCase(ExtractFileExt(file));
    const bool product = IsDecoderOutput(InputKindOf(file));
    if (!product && ext != ".BMP" && ext != ".PNG" && ext != ".JPG" && ext != ".JPEG") {
        FNotifier->ShowMessageBox("Only .BMP, .PNG and .JPG files are accepted:\r\n\r\n" +
                                      ExtractFileName(file),
                                  "Vantorel - Wrong file type");
        return;
    }
    FRun->Diags().Add("File dropped: " + ExpandFileName(file));
    ProcessFile(file);
}

void TFormVantorelTest::ProcessFile(const std::string& fileName) {
    // The run repaints as it goes: a timer or a drop handled then must not start another.
    if (FBusy) {
        return;
    }
    ApplyLineSettings();
    // Opened inputs are remembered whether or not their run succeeds: a retry is a click.
    if (FileExists(fileName) || DirectoryExists(fileName)) {
        AddRecentFile(ExpandFileName(fileName));
    } else if (!FRun->Setup().FallbackFolder.empty() &&
               FileExists(FRun->Setup().FallbackFolder + fileName)) {
        AddRecentFile(ExpandFileName(FRun->Setup().FallbackFolder + fileName));
    }
    // Progress: the run's account as it grows, in the status bar, with the picture and
    // the diagnostics repainted; the user's input waits until the run is over.
    std::string name = fileName; // a folder's name when a product folder is named
    while (name.size() > 1 && name.back() == '/') {
        name.pop_back();
    }
    name = ExtractFileName(name);
    StatusBarText_->setText(Q("Processing " + name + " ..."));
    QApplication::setOverrideCursor(Qt::WaitCursor);
    FBusy = true;
    TStringList& diags = FRun->Diags();
    const auto previous = diags.OnAdd;
    diags.OnAdd = [this, &name, &previous](const std::string& line) {
        if (previous) {
            previous(line);
        }
        if (line.empty()) {
            return;
        }
        StatusBarText_->setText(Q("Processing " + name + ":  " + TrimLeft(line)));
        SyncDiags();
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    };
    Guarded([&] { FRun->ProcessFile(fileName); });
    diags.OnAdd = previous;
    FBusy = false;
    QApplication::restoreOverrideCursor();
    if (FRun->Pass() == nullptr) {
        StatusBarText_->setText(kStatusPrompt); // no readout of an earlier pass stays up
    } else {
        StatusBarText_->setText(Q("Processed " + name));
    }
    SyncView();
}

// ---- display, readout and export -----------------------------------------------------------

std::string TFormVantorelTest::StatusText() const {
    return StatusBarText_->text().toStdString();
}

void TFormVantorelTest::ImageDisplayMouseMove(int x, int y) {
    if (const auto text = FRun->Readout(x, y)) {
        StatusBarText_->setText(Q(*text));
    }
}

bool TFormVantorelTest::FormKeyDown(int key, Qt::KeyboardModifiers shift) {
    const bool shifted = shift.testFlag(Qt::ShiftModifier);
    switch (key) {
    case Qt::Key_Escape:
        close();
        return true;
    case Qt::Key_Left:
        Guarded([&] { FRun->ArrowKey(TArrowKey::Left, shifted); });
        return true;
    case Qt::Key_Right:
        Guarded([&] { FRun->ArrowKey(TArrowKey::Right, shifted); });
        return true;
    case Qt::Key_Up:
        Guarded([&] { FRun->ArrowKey(TArrowKey::Up, shifted); });
        return true;
    case Qt::Key_Down:
        Guarded([&] { FRun->ArrowKey(TArrowKey::Down, shifted); });
        return true;
    default:
        return false;
    }
}

void TFormVantorelTest::FormMouseWheel(Qt::KeyboardModifiers shift, int wheelDelta) {
    if (wheelDelta == 0) {
        return;
    }
    Guarded([&] { FRun->MouseWheel(wheelDelta, shift.testFlag(Qt::ShiftModifier)); });
}

void TFormVantorelTest::AlignToCoastsClick() {
    if (FRun->Pass() == nullptr) {
        return;
    }
    QApplication::setOverrideCursor(Qt::WaitCursor);
    Guarded([&] { FRun->AlignToCoasts(); });
    QApplication::restoreOverrideCursor();
    ShowImageTab();
}

void TFormVantorelTest::RadioGroupLineThicknessClick() {
    ApplyLineSettings();
    Guarded([&] { FRun->RedrawOverlay(); });
    ShowImageTab();
}

void TFormVantorelTest::ImageLineThicknessClick(int item) {
    RadioGroupLineThickness_->SetItemIndex(item);
    ApplyLineSettings();
    Guarded([&] { FRun->RedrawOverlay(); });
}

void TFormVantorelTest::GraticuleClick(bool shown) {
    if (ActionGraticule_->isChecked() != shown) {
        const QSignalBlocker quiet(ActionGraticule_);
        ActionGraticule_->setChecked(shown);
    }
    FGraticuleSetting->SetValue(shown ? 1 : 0);
    FGraticuleSetting->Save();
    ApplyLineSettings();
    Guarded([&] { FRun->RedrawOverlay(); });
}

void TFormVantorelTest::GraticuleColourClick() {
    ColorDialogGraticuleColour_->Execute(this);
    ApplyLineSettings();
    Guarded([&] { FRun->RedrawOverlay(); });
}

void TFormVantorelTest::ImageLineColourClick() {
    ColorDialogLineColour_->Execute(this);
    ApplyLineSettings();
    Guarded([&] { FRun->RedrawOverlay(); });
}

void TFormVantorelTest::ImageSaveAsClick() {
    if (FRun->Pass() == nullptr) {
        FNotifier->ShowMessage("There is no processed picture to save.");
        return;
    }
    const std::string suggested = FRun->SuggestedSaveName();
    std::string suffix = ExtractFileExt(FRun->ImageFile());
    if (!suffix.empty()) {
        suffix.erase(0, 1);
    }
    const auto name = FDialogs->ChooseSaveFile(
        this, suggested, suffix,
        {"BMP file (*.bmp)", "JPG file (*.jpg *.jpeg)", "PNG file (*.png)",
         "GeoTIFF (*.tif *.tiff)"});
    if (!name) {
        FNotifier->ShowMessage("Save image cancelled.");
        return;
    }
    Guarded([&] {
        const std::string written = FRun->SavePicture(*name);
        // Where a GIS tool will place it is worth keeping in the account.
        if (PictureFormatForName(*name) == TPictureFormat::GeoTiff) {
            FRun->Diags().Add(written);
            SyncDiags();
        }
    });
}

void TFormVantorelTest::CopyToClipboardDisplayClick() {
    if (FRun->Pass() == nullptr || FRun->PictureAtFullSize().Width() == 0) {
        QGuiApplication::clipboard()->setImage(ImageDisplay_->Picture());
        return;
    }
    // As saved: at full size, whatever the zoom.
    TImageDisplay full;
    full.SetPicture(FRun->PictureAtFullSize());
    QGuiApplication::clipboard()->setImage(full.Picture());
}

void TFormVantorelTest::CopyToClipboardDiagsClick() {
    MemoDiags_->selectAll();
    MemoDiags_->copy();
    QTextCursor cursor = MemoDiags_->textCursor();
    cursor.clearSelection();
    MemoDiags_->setTextCursor(cursor);
}

// ---- zoom ----------------------------------------------------------------------------------

const std::vector<double>& TFormVantorelTest::ZoomLevels() {
    // Whole picture pixels above full size; below it, fractions that average evenly.
    static const std::vector<double> levels{1.0 / 16, 1.0 / 12, 1.0 / 8, 1.0 / 6, 1.0 / 4,
                                            1.0 / 3,  1.0 / 2,  1.0,     2.0,     3.0,
                                            4.0,      6.0,      8.0};
    return levels;
}

double TFormVantorelTest::Zoom() const {
    return ImageDisplay_->Zoom();
}

double TFormVantorelTest::FitZoom() const {
    const QSize picture = ImageDisplay_->PictureSize();
    if (picture.isEmpty()) {
        return 1.0;
    }
    const QSize room = ScrollBoxForImage_->maximumViewportSize();
    return std::min({1.0, static_cast<double>(room.width()) / picture.width(),
                     static_cast<double>(room.height()) / picture.height()});
}

void TFormVantorelTest::ZoomToFit() {
    FZoomFits = true;
    ApplyZoom(FitZoom(), std::nullopt);
}

void TFormVantorelTest::ZoomActualSize() {
    SetZoom(1.0);
}

double TFormVantorelTest::NextZoom(bool in) const {
    const auto& levels = ZoomLevels();
    const double now = Zoom();
    if (in) {
        const auto next = std::upper_bound(levels.begin(), levels.end(), now * (1.0 + 1e-9));
        return next != levels.end() ? *next : now;
    }
    const auto next = std::lower_bound(levels.begin(), levels.end(), now * (1.0 - 1e-9));
    return next != levels.begin() ? *std::prev(next) : now;
}

void TFormVantorelTest::ZoomIn() {
    SetZoom(NextZoom(true));
}

void TFormVantorelTest::ZoomOut() {
    SetZoom(NextZoom(false));
}

void TFormVantorelTest::SetZoom(double zoom, std::optional<QPoint> anchor) {
    FZoomFits = false;
    ApplyZoom(zoom, anchor);
}

void TFormVantorelTest::ApplyZoom(double zoom, std::optional<QPoint> anchor) {
    zoom = std::clamp(zoom, ZoomLevels().front(), ZoomLevels().back());
    QWidget* viewport = ScrollBoxForImage_->viewport();
    const QPoint at = anchor.value_or(viewport->rect().center());
    const double before = ImageDisplay_->Zoom();
    const QPoint onPicture = ImageDisplay_->mapFrom(viewport, at);
    ImageDisplay_->SetZoom(zoom);
    // The picture point that was under `at` stays there.
    ScrollBoxForImage_->horizontalScrollBar()->setValue(
        static_cast<int>(std::lround(onPicture.x() / before * zoom)) - at.x());
    ScrollBoxForImage_->verticalScrollBar()->setValue(
        static_cast<int>(std::lround(onPicture.y() / before * zoom)) - at.y());
    SyncView();
}

void TFormVantorelTest::SyncView() {
    TimerView_->stop();
    if (FBusy || FRun == nullptr || FRun->Pass() == nullptr) {
        return;
    }
    const QRect shown = QRect(-ImageDisplay_->pos(), ScrollBoxForImage_->viewport()->size())
                            .intersected(ImageDisplay_->rect());
    if (shown.isEmpty()) {
        return;
    }
    const QPoint first = ImageDisplay_->PicturePixel(shown.topLeft());
    const QPoint last = ImageDisplay_->PicturePixel(shown.bottomRight());
    Guarded([&] { FRun->SetView(first.x(), first.y(), last.x() + 1, last.y() + 1, Zoom()); });
}

// ---- what the run asks of the window -------------------------------------------------------

void TFormVantorelTest::ShowImageTab() {
    PageControl_->setCurrentWidget(TabSheetImage_);
}

void TFormVantorelTest::ShowKeplerTab() {
    PageControl_->setCurrentWidget(TabSheetKeplers_);
}

void TFormVantorelTest::Maximise() {
    showMaximized();
}

void TFormVantorelTest::RestorePlacement() {
    FPlacing = true;
    FPlacementSetting = std::make_unique<TRegistryString>(kWindowPlacementValue, "");
    std::vector<int> stored;
    for (const std::string& field : SplitDelimited(FPlacementSetting->Value(), ',')) {
        if (const auto n = ParseInteger(Trim(field))) {
            stored.push_back(*n);
        }
    }
    const QRect was =
        stored.size() == 6 ? QRect(stored[0], stored[1], stored[2], stored[3]) : QRect();
    // A place on no screen of this desktop (one unplugged since) is not taken.
    bool onScreen = false;
    for (const QScreen* screen : QGuiApplication::screens()) {
        onScreen = onScreen || screen->availableGeometry().intersects(was);
    }
    if (onScreen && was.width() >= 200 && was.height() >= 150) {
        setGeometry(was);
        if (stored[4] != 0) {
            setWindowState(windowState() | Qt::WindowMaximized);
        }
        if (stored[5] >= 0 && stored[5] < PageControl_->count()) {
            PageControl_->setCurrentIndex(stored[5]);
        }
    } else if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        QRect first(0, 0, area.width() * 2 / 3, area.height() * 2 / 3);
        first.moveCenter(area.center());
        setGeometry(first);
    }
    FPlacing = false;
}

void TFormVantorelTest::SavePlacement() {
    if (FPlacing || !FPlacementSetting) {
        return;
    }
    const bool maximised = isMaximized();
    const QRect normal = maximised && normalGeometry().isValid() ? normalGeometry() : geometry();
    const std::string placement =
        Format("%d,%d,%d,%d,%d,%d", normal.x(), normal.y(), normal.width(), normal.height(),
               maximised ? 1 : 0, PageControl_->currentIndex());
    if (placement != FPlacementSetting->Value()) {
        FPlacementSetting->SetValue(placement);
        FPlacementSetting->Save();
    }
}

void TFormVantorelTest::moveEvent(QMoveEvent* event) {
    QMainWindow::moveEvent(event);
    SavePlacement();
}

void TFormVantorelTest::resizeEvent(QResizeEvent* event) {
    QMainWindow::resizeEvent(event);
    SavePlacement();
}

void TFormVantorelTest::changeEvent(QEvent* event) {
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange) {
        SavePlacement();
    }
}

void TFormVantorelTest::CaptionChanged(const std::string& caption) {
    setWindowTitle(Q(caption));
}

void TFormVantorelTest::PictureChanged() {
    const QSize before = ImageDisplay_->PictureSize();
    const TScreenSize full = FRun->FullPictureSize();
    ImageDisplay_->SetPicture(FRun->DisplayBitmap(), QSize(full.Width, full.Height));
    if (FZoomFits && ImageDisplay_->PictureSize() != before) {
        ApplyZoom(FitZoom(), std::nullopt);
    }
}

// ---- events --------------------------------------------------------------------------------

bool TFormVantorelTest::eventFilter(QObject* watched, QEvent* event) {
    auto* widget = qobject_cast<QWidget*>(watched);
    const bool ours = widget != nullptr && widget->window() == this;
    switch (event->type()) {
    case QEvent::KeyPress:
        if (ours && !QApplication::activePopupWidget() && !QApplication::activeModalWidget()) {
            auto* key = static_cast<QKeyEvent*>(event);
            // The overlay's keys belong to the picture; elsewhere the controls keep theirs,
            // and Escape closes only when nothing is being typed.
            if (PageControl_->currentWidget() == TabSheetImage_) {
                return FormKeyDown(key->key(), key->modifiers());
            }
            if (key->key() == Qt::Key_Escape &&
                qobject_cast<QLineEdit*>(QApplication::focusWidget()) == nullptr) {
                return FormKeyDown(key->key(), key->modifiers());
            }
        }
        break;
    case QEvent::Wheel:
        // Only over the picture: elsewhere the wheel scrolls what is under it.
        if (ours && (widget == ScrollBoxForImage_ || ScrollBoxForImage_->isAncestorOf(widget))) {
            auto* wheel = static_cast<QWheelEvent*>(event);
            // Some platforms turn a shifted wheel into a sideways one.
            const QPoint angle = wheel->angleDelta();
            const int delta = angle.y() != 0 ? angle.y() : angle.x();
            if (wheel->modifiers().testFlag(Qt::ControlModifier)) {
                // A step a notch, about the pointer; fine-grained wheels add up to notches.
                const QPoint at =
                    ScrollBoxForImage_->viewport()->mapFromGlobal(wheel->globalPosition())
                        .toPoint();
                for (FWheelZoom += delta; std::abs(FWheelZoom) >= kWheelStep;) {
                    const bool in = FWheelZoom > 0;
                    FWheelZoom += in ? -kWheelStep : kWheelStep;
                    SetZoom(NextZoom(in), at);
                }
                return true;
            }
            FormMouseWheel(wheel->modifiers(), delta);
            return true;
        }
        break;
    case QEvent::Resize:
        if (watched == ScrollBoxForImage_->viewport()) {
            if (FZoomFits) {
                ApplyZoom(FitZoom(), std::nullopt);
            } else {
                TimerView_->start();
            }
        }
        break;
    case QEvent::DragEnter:
    case QEvent::DragMove:
        if (watched == ScrollBoxForImage_->viewport()) {
            auto* drag = static_cast<QDropEvent*>(event);
            if (drag->mimeData()->hasUrls() && (drag->possibleActions() & Qt::CopyAction)) {
                drag->setDropAction(Qt::CopyAction);
                drag->accept();
            } else {
                drag->ignore();
            }
            return true;
        }
        break;
    case QEvent::Drop:
        if (watched == ScrollBoxForImage_->viewport()) {
            auto* drop = static_cast<QDropEvent*>(event);
            std::vector<std::string> files;
            for (const QUrl& url : drop->mimeData()->urls()) {
                files.push_back(url.isLocalFile() ? url.toLocalFile().toStdString()
                                                  : url.toString().toStdString());
            }
            drop->setDropAction(Qt::CopyAction);
            drop->accept();
            DropFileTargetDrop(files);
            return true;
        }
        break;
    case QEvent::ToolTip:
        if (watched == ButtonBrowsePath_) {
            auto* help = static_cast<QHelpEvent*>(event);
            QToolTip::showText(help->globalPos(), ButtonBrowsePath_->toolTip(), ButtonBrowsePath_,
                               {}, FHintHidePause);
            return true;
        }
        break;
    default:
        break;
    }
    return QMainWindow::eventFilter(watched, event);
}

} // namespace vantorel
