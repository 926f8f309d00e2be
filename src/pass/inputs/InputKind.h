#pragma once

// What an input is, decided in one place for the window, the CLI, the batch and the watch.

#include <string>

namespace vantorel {

enum class TInputKind {
    ChannelImage,         ///< a picture file named with its pass time (BMP, JPEG or PNG)
    SatDumpProduct,       ///< a product's folder, its product.cbor, or a picture beside one
    SatDumpPictureFolder, ///< a folder of MSU-MR pictures with dataset.json, no product.cbor
};

/// The kind of input a path names (which need not exist: it is then a channel image).
TInputKind InputKindOf(const std::string& path);

/// A decoder's product of either kind, which carries its own satellite and times.
inline bool IsDecoderOutput(TInputKind kind) {
    return kind != TInputKind::ChannelImage;
}

} // namespace vantorel
