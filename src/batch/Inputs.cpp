#include "batch/Inputs.h"

#include "common/Files.h"
#include "common/StringUtils.h"
#include "export/PictureWriters.h"
#include "pass/inputs/InputKind.h"
#include "pass/inputs/SatDumpProduct.h"
#include "pass/inputs/StatTiming.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <system_error>

namespace vantorel {
namespace {

namespace fs = std::filesystem;

bool Hidden(const fs::path& p) {
    const std::string name = p.filename().string();
    return !name.empty() && name[0] == '.';
}

bool IsProductFolder(const std::string& path) {
    return DirectoryExists(path) && IsDecoderOutput(InputKindOf(path));
}

} // namespace

bool IsChannelImageName(std::string_view fileName) {
    const std::string name = LowerCase(std::string(fileName));
    const std::string ext = ExtractFileExt(name);
    if (ext != ".bmp" && ext != ".jpg" && ext != ".jpeg" && ext != ".png") {
        return false;
    }
    const std::string stem = name.substr(0, name.size() - ext.size());
    if (stem.size() >= 4 && stem.compare(stem.size() - 4, 4, ".geo") == 0) {
        return false;
    }
    return LocalStartFromFileName(fileName).has_value();
}

std::vector<TBatchInput> FindInputs(const std::string& folder) {
    std::vector<TBatchInput> found;
    std::error_code ec;
    fs::recursive_directory_iterator it(folder, fs::directory_options::skip_permission_denied, ec);
    for (const fs::recursive_directory_iterator end; !ec && it != end; it.increment(ec)) {
        const fs::path& p = it->path();
        if (Hidden(p)) {
            if (it->is_directory(ec)) {
                it.disable_recursion_pending();
            }
            continue;
        }
        if (it->is_directory(ec)) {
            if (IsProductFolder(p.string())) {
                found.push_back({p.string(), true, {}, {}});
                it.disable_recursion_pending();
            }
        } else if (IsChannelImageName(p.filename().string())) {
            std::string unusable;
            if (it->is_symlink(ec) && !fs::exists(it->status(ec))) {
                unusable = "a link to nothing (" + fs::read_symlink(p, ec).string() + ")";
            } else if (!it->is_regular_file(ec)) {
                unusable = "it is no regular file (a FIFO, a device or a socket)";
            }
            found.push_back({p.string(), false, {}, unusable});
        }
    }
    std::sort(found.begin(), found.end(),
              [](const TBatchInput& a, const TBatchInput& b) { return a.Path < b.Path; });
    return found;
}

std::vector<TBatchInput> ExpandInputs(const std::vector<std::string>& named,
                                      std::vector<std::string>& empty) {
    std::vector<TBatchInput> inputs;
    for (const std::string& path : named) {
        if (DirectoryExists(path) && !IsProductFolder(path)) {
            const std::vector<TBatchInput> found = FindInputs(path);
            if (found.empty()) {
                empty.push_back(path);
            }
            inputs.insert(inputs.end(), found.begin(), found.end());
        } else {
            inputs.push_back({path, IsDecoderOutput(InputKindOf(path)), {}, {}});
        }
    }
    return inputs;
}

std::string OutputName(const std::string& imageFile, bool product, const TOutputOptions& options) {
    const std::string ext =
        options.Format.empty() ? ExtractFileExt(imageFile) : "." + options.Format;
    const std::string beside = ChangeFileExt(imageFile, ".geo" + ext);
    if (options.OutDir.empty()) {
        return beside;
    }
    std::string name = ExtractFileName(beside);
    if (product) {
        const fs::path holder = fs::path(ExpandFileName(imageFile)).parent_path().parent_path();
        if (!holder.filename().empty()) {
            name = holder.filename().string() + "_" + name;
        }
    }
    return IncludeTrailingPathDelimiter(options.OutDir) + name;
}

std::string PlannedOutput(const TBatchInput& input, const TRunSetup& setup,
                          const TOutputOptions& options) {
    if (!input.Target.empty()) {
        return input.Target;
    }
    if (!input.Product) {
        return OutputName(input.Path, false, options);
    }
    try {
        if (setup.Composite) {
            // Named as the run names the composite, in the product's folder.
            const auto product = FindSatDumpProductFile(input.Path);
            return product
                       ? OutputName(ExtractFilePath(*product) + CompositeFileName(*setup.Composite),
                                    true, options)
                       : std::string();
        }
        if (InputKindOf(input.Path) == TInputKind::SatDumpPictureFolder) {
            return OutputName(OpenSatDumpPictureFolder(input.Path, setup.Channel).ImagePath, true,
                              options);
        }
        return OutputName(OpenSatDumpProduct(input.Path, setup.Channel).ImagePath, true, options);
    } catch (const std::exception&) {
        return {};
    }
}

std::string ExistsMessage(const std::string& target) {
    return target + " exists already (--overwrite replaces it)";
}

void PlacePicture(const TBitmap& picture, const std::string& named, bool overwrite) {
    try {
        WriteWhole(
            named,
            [&](const std::string& file) {
                WritePicture(picture, file, PictureFormatForName(named));
            },
            overwrite);
    } catch (const TFileExists& e) {
        throw std::runtime_error(ExistsMessage(e.Target));
    }
}

} // namespace vantorel
