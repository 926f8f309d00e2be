// The screen's side of processing: the caption and the view told what a run of the session
// left, and the readout and offset steps on the shown pass.
#include "app/ProcessingRun.h"

#include "common/Files.h"
#include "common/Format.h"
#include "orbit/Orbits.h"

namespace vantorel {

TProcessingRun::TProcessingRun(INotifier& notifier, IRunView* view)
    : FNotifier(notifier), FView(view != nullptr ? view : &FNoView) {}

TProcessingRun::~TProcessingRun() = default;

void TProcessingRun::Start(const std::string& keplerPath, const std::string& version,
                           const TPassSatellite& satellite) {
    Setup().Keplers = keplerPath;
    FBaseCaption = "Vantorel - V" + version;
    // Read at every start, as the program's files stand then.
    FSession.Start(LoadSessionData(), FBaseCaption, satellite);
    if (Satellite() == nullptr) {
        FView->ShowKeplerTab();
    }
    SetCaption(FBaseCaption);
}

void TProcessingRun::SetCaption(std::string caption) {
    FCaption = std::move(caption);
    FView->CaptionChanged(FCaption);
}

bool TProcessingRun::ProcessFile(const std::string& fileName) {
    return ProcessFile(fileName, [this](const TReportEntry& entry) {
        // Reprocessing an archive must not mean a box per pass for the same old set: the
        // box comes once per set, the account line every run.
        if (entry.Issue == TPassIssue::StaleElementSet) {
            const TSatellite* set = Satellite();
            const std::string key = set != nullptr ? set->Line1 : std::string();
            if (!FStaleSetsShown.insert(key).second) {
                return;
            }
        }
        Deliver(entry, Diags(), FNotifier);
    });
}

bool TProcessingRun::ProcessFile(const std::string& fileName, const TDelivery& deliver) {
    const TPassSession::TRunEnd end =
        FSession.ProcessFile(fileName, deliver, [this](const TPassSession::TRunEnd& drawn) {
            if (drawn.EndedBy == TPassIssue::NoElementSet) {
                FView->ShowKeplerTab();
            }
            Show(drawn);
        });
    return end.Finished;
}

void TProcessingRun::Show(const TPassSession::TRunEnd& end) {
    if (end.Finished) {
        const TPassResult& pass = *Pass();
        SetCaption(FBaseCaption + "  \u2014  " + ExtractFileName(ImageFile()) + "  \u2014  " +
                   FormatDateTime("yyyy-mm-dd hh:nn \"UTC\", ", pass.Times.At(0)) +
                   FSession.PassSatellite().DisplayName);
        FView->ShowImageTab();
        FView->PictureChanged();
        FView->Maximise();
        return;
    }
    if (!end.UnprocessedFile.empty()) {
        SetCaption(FBaseCaption + "  \u2014  " + ExtractFileName(end.UnprocessedFile) +
                   "  (not processed)");
        FView->ShowImageTab();
    } else {
        SetCaption(FBaseCaption);
    }
    FView->PictureChanged();
}

bool TProcessingRun::AlignToCoasts(bool redraw, const TAlignmentOptions& options) {
    const bool aligned = FSession.AlignToCoasts(redraw, options);
    if (aligned && redraw) {
        FView->PictureChanged();
    }
    return aligned;
}

void TProcessingRun::RedrawOverlay() {
    if (Pass() == nullptr) {
        return;
    }
    FSession.Redraw();
    FView->PictureChanged();
}

void TProcessingRun::SetView(int left, int top, int right, int bottom, double zoom) {
    if (FSession.SetView({left, top, right, bottom}, zoom)) {
        RedrawOverlay();
    }
}

const TExtBitmap& TProcessingRun::ChannelBitmap() const {
    static const TExtBitmap kNone;
    return Pass() != nullptr ? Pass()->Channel : kNone;
}

const LocationGrid& TProcessingRun::GroundTable() const {
    static const LocationGrid kNone;
    return Pass() != nullptr ? Pass()->GroundTable : kNone;
}

const TWarpedMapping& TProcessingRun::Mapping() const {
    static const TWarpedMapping kNone;
    return Pass() != nullptr ? Pass()->Mapping : kNone;
}

bool TProcessingRun::LookUpLonLat(int x, int y, float& lon, float& lat) const {
    return FSession.LookUpLonLat(x, y, lon, lat);
}

std::optional<TProcessingRun::TPixelGround> TProcessingRun::GroundAt(int pictureX,
                                                                     int pictureY) const {
    return FSession.GroundAt(pictureX, pictureY);
}

std::optional<std::string> TProcessingRun::Readout(int pictureX, int pictureY) const {
    return FSession.Readout(pictureX, pictureY);
}

bool TProcessingRun::PicturePosition(float lon, float lat, int& pictureX, int& pictureY) const {
    return FSession.PicturePosition(lon, lat, pictureX, pictureY);
}

void TProcessingRun::ArrowKey(TArrowKey key, bool shift) {
    if (Pass() == nullptr) {
        return;
    }
    int lineOffset = LineOffset();
    int pixelOffset = PixelOffset();
    int pixelStep = shift ? 16 : 2;
    int lineStep = shift ? 8 : 1;
    if (Pass()->Northbound) {
        pixelStep = -pixelStep;
        lineStep = -lineStep;
    }
    switch (key) {
    case TArrowKey::Left:
        pixelOffset -= pixelStep;
        break;
    case TArrowKey::Right:
        pixelOffset += pixelStep;
        break;
    case TArrowKey::Up:
        lineOffset += lineStep;
        break;
    case TArrowKey::Down:
        lineOffset -= lineStep;
        break;
    }
    SetOffsets(lineOffset, pixelOffset);
    RedrawOverlay();
}

void TProcessingRun::MouseWheel(int delta, bool shift) {
    if (delta == 0 || Pass() == nullptr) {
        return;
    }
    int step = delta > 0 ? 5 : -5;
    if (Pass()->Northbound) {
        step = -step;
    }
    if (shift) {
        SetOffsets(LineOffset(), PixelOffset() + step);
    } else {
        SetOffsets(LineOffset() + step, PixelOffset());
    }
    RedrawOverlay();
}

std::string TProcessingRun::SuggestedSaveName() const {
    const std::string ext = ExtractFileExt(ImageFile());
    return ChangeFileExt(ImageFile(), ".geo" + ext);
}

std::string TProcessingRun::SavePicture(const std::string& fileName, bool overlay) {
    return FSession.SavePicture(fileName, overlay);
}

std::string TProcessingRun::SaveProjectedPicture(const std::string& fileName,
                                                 const std::string& crs, double step) const {
    return FSession.SaveProjectedPicture(fileName, crs, step);
}

} // namespace vantorel
