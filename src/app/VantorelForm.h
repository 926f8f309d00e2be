#pragma once

// The program's one window: the picture with its overlay, the Kepler data folder, the
// diagnostics. It owns a processing run and forwards its events to it; everything that
// asks the user something (message boxes, file, folder and colour choices) goes through
// seams so that tests can answer.

#include "app/ProcessingRun.h"
#include "common/Notifier.h"
#include "settings/RegistryVariables.h"

#include <QImage>
#include <QMainWindow>
#include <QWidget>

#include <memory>
#include <optional>
#include <string>
#include <vector>

class QAction;
class QComboBox;
class QLineEdit;
class QGroupBox;
class QLabel;
class QMenu;
class QPlainTextEdit;
class QPushButton;
class QScrollArea;
class QTabWidget;
class QTimer;
class QTreeWidget;

namespace vantorel {

class TzorColorDialog;
class TzorEdit;
class TzorRadioGroup;

/// The file and folder choices of the window. Each returns nullopt when cancelled.
class IFormDialogs {
public:
    virtual ~IFormDialogs() = default;
    /// A name to save under. filters: "BMP file (*.bmp)" style entries; defaultSuffix
    /// without the dot. Overwriting an existing file asks first.
    virtual std::optional<std::string> ChooseSaveFile(QWidget* parent, const std::string& suggested,
                                                      const std::string& defaultSuffix,
                                                      const std::vector<std::string>& filters) = 0;
    /// An existing file to open.
    virtual std::optional<std::string> ChooseOpenFile(QWidget* parent,
                                                      const std::vector<std::string>& filters) = 0;
    /// An existing folder, starting in startFolder.
    virtual std::optional<std::string> ChooseFolder(QWidget* parent, const std::string& title,
                                                    const std::string& startFolder) = 0;
    /// Which picture of a decoder's product to open: a channel's name ("2"), or three
    /// channel names "R,G,B" for a colour composite of them. channels: the product's;
    /// current: the choice offered first (the last one made, "" for none). Without a
    /// dialog of its own, the current choice (or the first channel).
    virtual std::optional<std::string> ChooseProductPicture(QWidget* parent,
                                                            const std::vector<std::string>& channels,
                                                            const std::string& current) {
        (void)parent;
        return current.empty() && !channels.empty() ? channels.front() : current;
    }
};

/// Qt's own file dialogs.
class TQtFormDialogs final : public IFormDialogs {
public:
    std::optional<std::string> ChooseSaveFile(QWidget* parent, const std::string& suggested,
                                              const std::string& defaultSuffix,
                                              const std::vector<std::string>& filters) override;
    std::optional<std::string> ChooseOpenFile(QWidget* parent,
                                              const std::vector<std::string>& filters) override;
    std::optional<std::string> ChooseFolder(QWidget* parent, const std::string& title,
                                            const std::string& startFolder) override;
    std::optional<std::string> ChooseProductPicture(QWidget* parent,
                                                    const std::vector<std::string>& channels,
                                                    const std::string& current) override;
};

/// Message boxes with one OK button, and plain messages under the application title.
class TMessageBoxNotifier final : public INotifier {
public:
    explicit TMessageBoxNotifier(QWidget* parent = nullptr) : parent_(parent) {}
    void SetParent(QWidget* parent) { parent_ = parent; }
    void ShowMessageBox(const std::string& text, const std::string& caption) override;
    void ShowMessage(const std::string& text) override;

private:
    QWidget* parent_;
};

/// Shows the displayed picture zoomed: smoothed when smaller than full size, in sharp
/// pixels when larger. Reports the pointer in picture pixels, and drags with the middle
/// button as screen pixels to pan by.
class TImageDisplay final : public QWidget {
    Q_OBJECT
public:
    explicit TImageDisplay(QWidget* parent = nullptr);
    /// Shows the bitmap as a picture of `fullSize` (its own size when empty): the widget
    /// takes that size at the zoom, and a bitmap already drawn at that size is shown as
    /// it is. The bitmap must outlive the next call and be shown again whenever it
    /// changes: it is painted from where it lies.
    void SetPicture(const TBitmap& bitmap, QSize fullSize = {});
    /// Screen pixels per picture pixel (positive; 1 is full size).
    void SetZoom(double zoom);
    double Zoom() const { return zoom_; }
    /// The picture pixel under a point of the widget: the one under the centre of the
    /// screen pixel there (not clipped to the picture).
    QPoint PicturePixel(QPoint at) const;
    /// Paint events so far (the key-to-picture benchmark waits for one).
    int PaintCount() const { return paintCount_; }
    /// A copy of the bitmap shown (drawn smaller than the picture when zoomed out).
    QImage Picture() const;
    /// The full size of the picture it shows.
    QSize PictureSize() const;

signals:
    void PointerMoved(int x, int y);
    void Panned(QPoint by);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    bool ViewValid() const;
    void TakeSize();

    QImage image_;                   ///< a view of *shown_
    const TBitmap* shown_ = nullptr; ///< the run's bitmap or converted_
    std::optional<TBitmap> converted_;
    QSize fullSize_;  ///< of the picture image_ shows
    QImage smoothed_; // image_ at the zoom below 1, made when first painted
    double zoom_ = 1.0;
    std::optional<QPoint> panFrom_; // global position of the middle button's last move
    int paintCount_ = 0;
};

class TFormVantorelTest final : public QMainWindow, private IRunView {
    Q_OBJECT
public:
    /// The caption of the Kepler message; its text names the chosen satellite.
    static constexpr const char* kKeplerMissingCaption = "Vantorel - Kepler data missing";
    static constexpr int kDefaultHintHidePause = 2500;
    static constexpr int kKeplerTabHintHidePause = 4500;

    /// arguments: the command line without the program name (one names a file to
    /// process at start). notifier and dialogs default to Qt's message boxes and dialogs.
    explicit TFormVantorelTest(std::vector<std::string> arguments, INotifier* notifier = nullptr,
                               IFormDialogs* dialogs = nullptr, QWidget* parent = nullptr);
    ~TFormVantorelTest() override;

    // Event handlers, public so that tests and the benchmark can drive them directly.
    void TimerStartTimer();
    void ButtonBrowsePathClick();
    /// Fetches element sets into the Kepler folder (the KepsUrls setting's URLs); the
    /// result goes to the diagnostics.
    void ButtonUpdateElementSetsClick();
    void TabSheetKeplersShow();
    void TabSheetKeplersExit();
    void FileExitClick();
    void Open1Click();
    void DropFileTargetDrop(const std::vector<std::string>& files);
    void ProcessFile(const std::string& fileName);
    void ImageDisplayMouseMove(int x, int y);
    /// An arrow key, Escape or another key; true when it was handled.
    bool FormKeyDown(int key, Qt::KeyboardModifiers shift);
    void FormMouseWheel(Qt::KeyboardModifiers shift, int wheelDelta);
    void RadioGroupLineThicknessClick();
    void AlignToCoastsClick();
    void ImageLineThicknessClick(int item);
    void ImageLineColourClick();
    void ImageSaveAsClick();
    void CopyToClipboardDisplayClick();
    void CopyToClipboardDiagsClick();
    /// File > Open product folder: a SatDump product's folder.
    void OpenProductFolderClick();
    /// The graticule switched on or off (pop-up menu and View menu), and its colour.
    void GraticuleClick(bool shown);
    void GraticuleColourClick();

    // Zoom. Fitting keeps the whole picture in the window as it changes size; every zoom
    // is kept while nudging and for the passes that follow.
    void ZoomToFit();
    void ZoomActualSize();
    void ZoomIn();
    void ZoomOut();
    /// A zoom (screen pixels per picture pixel); `anchor`, a point of the scroll box's
    /// viewport, keeps the picture pixel under it (the viewport's centre without one).
    void SetZoom(double zoom, std::optional<QPoint> anchor = std::nullopt);
    double Zoom() const;
    bool ZoomFits() const { return FZoomFits; }
    /// The zoom levels that zooming in and out step through.
    static const std::vector<double>& ZoomLevels();

    // What tests look at.
    TProcessingRun& Run() { return *FRun; }
    const std::string& KeplerPath() const { return FKeplerPath; }
    /// File > Open Recent's entries, most recent first.
    std::vector<std::string> RecentFiles() const;
    std::string StatusText() const;
    /// The application's hint hide pause in milliseconds (longer on the Kepler tab).
    int HintHidePause() const { return FHintHidePause; }
    QTabWidget* PageControl() const { return PageControl_; }
    QTreeWidget* TreeSatellites() const { return TreeSatellites_; }
    QWidget* TabSheetImage() const { return TabSheetImage_; }
    QWidget* TabSheetKeplers() const { return TabSheetKeplers_; }
    QWidget* TabSheetDiags() const { return TabSheetDiags_; }
    QScrollArea* ScrollBoxForImage() const { return ScrollBoxForImage_; }
    TImageDisplay* ImageDisplay() const { return ImageDisplay_; }
    TzorRadioGroup* RadioGroupLineThickness() const { return RadioGroupLineThickness_; }
    TzorEdit* EditKeplerPath() const { return EditKeplerPath_; }
    TzorEdit* EditImagesFolder() const { return EditImagesFolder_; }
    QComboBox* ComboSatellite() const { return ComboSatellite_; }
    QComboBox* ComboFileClock() const { return ComboFileClock_; }
    QLineEdit* EditPassStart() const { return EditPassStart_; }
    QMenu* MenuOpenRecent() const { return MenuOpenRecent_; }
    QAction* ActionGraticule() const { return ActionGraticule_; }
    TzorColorDialog* ColorDialogGraticuleColour() const { return ColorDialogGraticuleColour_; }
    QAction* ActionAlignToCoasts() const { return ActionAlignToCoasts_; }
    QAction* ActionAlignAutomatically() const { return ActionAlignAutomatically_; }
    QPushButton* ButtonBrowsePath() const { return ButtonBrowsePath_; }
    QPushButton* ButtonUpdateElementSets() const { return ButtonUpdateElementSets_; }
    QPlainTextEdit* MemoDiags() const { return MemoDiags_; }
    TzorColorDialog* ColorDialogLineColour() const { return ColorDialogLineColour_; }
    QTimer* TimerStart() const { return TimerStart_; }
    QMenu* PopupMenuDisplay() const { return PopupMenuDisplay_; }
    QMenu* PopupMenuDiags() const { return PopupMenuDiags_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    // The window's size, place and state are stored as soon as they change.
    void moveEvent(QMoveEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    // IRunView
    void ShowImageTab() override;
    void ShowKeplerTab() override;
    void Maximise() override;
    void CaptionChanged(const std::string& caption) override;
    void PictureChanged() override;

    void BuildComponents();
    /// The size, place, state and tab the window was left with; at the first start two
    /// thirds of the screen, centred.
    void RestorePlacement();
    void SavePlacement();
    /// Each satellite's newest element set, its age (in the warning colour past a week)
    /// and its calibration, as they stand now.
    void ShowSatelliteStates();
    /// The View menu's zoom actions, which the picture's popup menu shows too.
    struct TZoomActions {
        QAction* Fit = nullptr;
        QAction* Actual = nullptr;
    };
    TZoomActions BuildMenus();
    void BuildImageTab();
    void BuildKeplerTab();
    void BuildDiagnosticsTab();
    void BuildPopupMenus(const TZoomActions& zoom);
    /// The picture's pointer, panning, scrolling, drops and keys.
    void ConnectViewEvents();
    void FormCreate();
    /// Runs one event's work; an error shows the application's error message.
    template <typename Work> void Guarded(Work&& work);
    /// Brings the memo up to date with the run's diagnostics.
    void SyncDiags();
    void ApplyLineSettings();
    /// The satellite shown in the combo box (Meteor-M N2 when it shows none).
    TPassSatellite ChosenSatellite() const;
    void ComboSatelliteChange();
    /// For a product that names no picture itself, asks which one (the last choice first)
    /// and keeps the answer; false when the question was cancelled.
    bool ChooseProductPicture(const std::string& file);
    /// Makes a stored product picture choice ("2" or "1,2,4") the run's.
    void ApplyProductPicture(const std::string& choice);
    /// Hours ahead of UTC chosen for the file clock; nullopt: this computer's time zone.
    std::optional<int> ChosenFileClock() const;
    void ComboFileClockChange();
    void AddRecentFile(const std::string& path);
    void FillRecentMenu();
    /// Tells the run which part of the picture is in view and at what zoom.
    void SyncView();
    /// The zoom that shows the whole picture in the scroll box (at most full size).
    double FitZoom() const;
    /// Zooms the picture (within ZoomLevels' range) about `anchor` (see SetZoom), keeping
    /// or leaving the fit as the caller decided.
    void ApplyZoom(double zoom, std::optional<QPoint> anchor);
    /// The zoom level after the present zoom, in or out (the present one at either end).
    double NextZoom(bool in) const;

    std::vector<std::string> FArguments;
    std::unique_ptr<TMessageBoxNotifier> FOwnNotifier;
    std::unique_ptr<TQtFormDialogs> FOwnDialogs;
    INotifier* FNotifier;
    IFormDialogs* FDialogs;
    std::unique_ptr<TProcessingRun> FRun;
    std::string FKeplerPath;
    int FHintHidePause = kDefaultHintHidePause;
    int FSavedHintPause = kDefaultHintHidePause;
    bool FOnKeplerTab = false;
    int FDiagsShown = 0;

    QTabWidget* PageControl_ = nullptr;
    QLabel* StatusBarText_ = nullptr;
    QWidget* TabSheetImage_ = nullptr;
    QWidget* TabSheetKeplers_ = nullptr;
    QWidget* TabSheetDiags_ = nullptr;
    QScrollArea* ScrollBoxForImage_ = nullptr;
    TImageDisplay* ImageDisplay_ = nullptr;
    TzorRadioGroup* RadioGroupLineThickness_ = nullptr;
    QGroupBox* GroupBoxKeplers_ = nullptr;
    TzorEdit* EditKeplerPath_ = nullptr;
    QGroupBox* GroupBoxImagesFolder_ = nullptr;
    QGroupBox* GroupBoxSatellite_ = nullptr;
    QComboBox* ComboSatellite_ = nullptr;
    std::unique_ptr<TRegistryString> FSatelliteSetting;
    std::unique_ptr<TRegistryInteger> FAlignSetting;
    std::unique_ptr<TRegistryString> FProductPictureSetting;
    std::unique_ptr<TRegistryInteger> FGraticuleSetting;
    std::unique_ptr<TRegistryString> FFileClockSetting;
    std::unique_ptr<TRegistryString> FRecentSetting;
    std::unique_ptr<TRegistryString> FPlacementSetting;
    bool FPlacing = false; ///< while it is restored: nothing to store
    QGroupBox* GroupBoxFileClock_ = nullptr;
    QComboBox* ComboFileClock_ = nullptr;
    QGroupBox* GroupBoxPassStart_ = nullptr;
    QGroupBox* GroupBoxSatellites_ = nullptr;
    QTreeWidget* TreeSatellites_ = nullptr;
    QLineEdit* EditPassStart_ = nullptr;
    QMenu* MenuOpenRecent_ = nullptr;
    QAction* ActionGraticule_ = nullptr;
    TzorColorDialog* ColorDialogGraticuleColour_ = nullptr;
    QTimer* TimerView_ = nullptr; // a scroll settles before the run hears of it
    bool FZoomFits = true;
    bool FBusy = false; // a run is under way
    int FWheelZoom = 0; // wheel turns towards the next zoom step (120 a step)
    QAction* ActionAlignToCoasts_ = nullptr;
    QAction* ActionAlignAutomatically_ = nullptr;
    TzorEdit* EditImagesFolder_ = nullptr;
    QPushButton* ButtonBrowsePath_ = nullptr;
    QPushButton* ButtonUpdateElementSets_ = nullptr;
    QPlainTextEdit* MemoDiags_ = nullptr;
    QTimer* TimerStart_ = nullptr;
    TzorColorDialog* ColorDialogLineColour_ = nullptr;
    QMenu* PopupMenuDisplay_ = nullptr;
    QMenu* PopupMenuDiags_ = nullptr;
};

} // namespace vantorel
