// Downloads through the download module, loaded on the first one (see DownloadModule.h).
#include "keps/Download.h"

#include "common/Module.h"
#include "keps/DownloadModule.h"

namespace vantorel {

TDownloaded Download(const std::string& url, const TDownloadLimits& limits) {
    const auto& loaded =
        LoadModuleOnce<download::TModule>("vantorel-download.so", "VantorelDownloadModule");
    if (loaded.Module == nullptr) {
        return {std::nullopt, url +
                                  ": downloads need the module vantorel-download.so, which "
                                  "cannot be loaded (" +
                                  loaded.Failure + ")"};
    }
    return loaded.Module->Download(url, limits);
}

} // namespace vantorel
