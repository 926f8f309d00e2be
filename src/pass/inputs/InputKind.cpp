#include "pass/inputs/InputKind.h"

#include "pass/inputs/SatDumpProduct.h"

namespace vantorel {

TInputKind InputKindOf(const std::string& path) {
    if (FindSatDumpProductFile(path)) {
        return TInputKind::SatDumpProduct;
    }
    return FindSatDumpDatasetFile(path) ? TInputKind::SatDumpPictureFolder
                                        : TInputKind::ChannelImage;
}

} // namespace vantorel
