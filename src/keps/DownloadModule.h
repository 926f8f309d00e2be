#pragma once

// Downloads as an interface the download module implements. Qt Network brings a dozen
// shared libraries with it (Kerberos, libproxy, Brotli): linked into the programs,
// loading them took about 1.5 ms of every start, though few runs download anything. The
// module is loaded on the first download.

#include "keps/Download.h"

namespace vantorel::download {

class TModule {
public:
    virtual ~TModule() = default;
    virtual TDownloaded Download(const std::string& url, const TDownloadLimits& limits) = 0;
};

} // namespace vantorel::download

/// The module's entry: one instance for the process.
extern "C" vantorel::download::TModule* VantorelDownloadModule();
