#pragma once

// What the batch and the watch take in: channel images and decoder product folders, named
// or found in folders; and where their pictures go.

#include "imaging/Bitmap.h"
#include "session/RunSetup.h"

#include <string>
#include <string_view>
#include <vector>

namespace vantorel {

/// One input of a batch.
struct TBatchInput {
    std::string Path;
    bool Product = false; ///< a SatDump product (its folder, product.cbor or a picture in it)
    std::string Target;   ///< the picture's name when the command line gives one, else ""
    /// Why it cannot be run, when a folder search found it so (named like a pass, but a
    /// link to nothing or no regular file); "" otherwise. It fails, saying so.
    std::string Unusable;
};

/// A file a folder search takes as a channel image: a BMP, JPEG or PNG named with its pass
/// time, and not a picture this program wrote (".geo" before the extension).
bool IsChannelImageName(std::string_view fileName);

/// The inputs in a folder and the folders below it, sorted by path: channel images, and
/// product folders (whose own pictures are not taken one by one). Hidden entries are
/// skipped; so is a folder that cannot be read. What is named like a channel image but
/// cannot be one (a dangling link, a FIFO, a device) is there with its reason in Unusable.
std::vector<TBatchInput> FindInputs(const std::string& folder);

/// The inputs named: a folder that is not a product folder is searched (FindInputs), and
/// each one that holds nothing is added to `empty`; anything else is taken as named.
std::vector<TBatchInput> ExpandInputs(const std::vector<std::string>& named,
                                      std::vector<std::string>& empty);

/// Where pictures go and in which format.
struct TOutputOptions {
    std::string OutDir; ///< "" to write each picture beside its image
    std::string Format; ///< "bmp", "jpg" or "png"; "" for the image's own
};

/// The picture's name for an image: ".geo" and the format's extension (else the image's)
/// in place of its extension, beside it or in the output folder. There a product's picture
/// is prefixed with the name of the folder that holds the product folder, as all products
/// name their pictures alike.
std::string OutputName(const std::string& imageFile, bool product, const TOutputOptions& options);

/// The picture a batch input is planned to give, before its run: the name it was given, the
/// name for a channel image, or for the picture a product input would be processed from
/// (its channel's, or the composite's); "" when the product cannot be read (its run will
/// say why).
std::string PlannedOutput(const TBatchInput& input, const TRunSetup& setup,
                          const TOutputOptions& options);

/// Writes a picture under a hidden temporary name beside `target` and then puts it there
/// whole, where no file is unless `overwrite`. Throws std::runtime_error when the target
/// exists, and the writer's errors.
void PlacePicture(const TBitmap& picture, const std::string& target, bool overwrite);

/// "FILE exists already (--overwrite replaces it)".
std::string ExistsMessage(const std::string& target);

} // namespace vantorel
