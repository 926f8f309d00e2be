#include "settings/SettingsSandbox.h"

#include "settings/Registry.h"

#include <cstdlib>
#include <filesystem>
#include <stdexcept>

namespace vantorel {
namespace {

std::optional<std::string> Get(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? std::optional<std::string>(value) : std::nullopt;
}

void Put(const char* name, const std::optional<std::string>& value) {
    if (value) {
        ::setenv(name, value->c_str(), 1);
    } else {
        ::unsetenv(name);
    }
}

} // namespace

TSettingsSandbox::TSettingsSandbox(TNamed named)
    : previousFolder_(Get(kRegistryFolderVariable)), previousForbid_(Get(kNoUserSettingsVariable)) {
    Put(kNoUserSettingsVariable, std::string("1"));
    if (named == TNamed::Keep && previousFolder_ && !previousFolder_->empty()) {
        folder_ = *previousFolder_;
        return;
    }
    std::string pattern =
        (std::filesystem::temp_directory_path() / "vantorel-settings-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("cannot make a temporary folder for the settings");
    }
    folder_ = pattern + "/";
    own_ = true;
    Put(kRegistryFolderVariable, folder_);
}

TSettingsSandbox::~TSettingsSandbox() {
    Put(kRegistryFolderVariable, previousFolder_);
    Put(kNoUserSettingsVariable, previousForbid_);
    if (own_) {
        std::error_code ec;
        std::filesystem::remove_all(folder_, ec);
    }
}

} // namespace vantorel
