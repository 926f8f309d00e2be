// Registry variables and the vendor's shared look-ups.
//
// Departures, each for this platform:
// - the switch by executable name also takes "PELORIN" without an extension, as
//   executables here have none;
// - when the executable's name cannot be told, the window's program name is used rather
//   than an empty key name that would put the values on the vendor's key;
// - the program may set its program name so that the command-line tool and the window
//   share one key.
#include "settings/RegistryVariables.h"

#include "common/Files.h"
#include "common/Program.h"
#include "common/StringUtils.h"

#include <exception>
#include <mutex>
#include <optional>

namespace vantorel {
namespace {

struct ProcessSettings {
    std::mutex mutex;
    std::optional<RegistrySettings> settings;
    std::string programName;
};

ProcessSettings& Process() {
    static ProcessSettings process;
    return process;
}

std::string VendorKeyPath(std::string_view keyName) {
    return "\\Software\\" + CurrentRegistrySettings().vendorName + "\\" + std::string(keyName);
}

// A string value of a key read without a registry variable (which would write it back).
std::string ReadForeignString(RegistryRoot root, const std::string& keyPath,
                              std::string_view valueName) {
    try {
        TRegistry registry(root);
        if (registry.KeyExists(keyPath) && registry.OpenKeyReadOnly(keyPath) &&
            registry.ValueExists(valueName)) {
            return registry.ReadString(valueName).value_or("");
        }
    } catch (const std::exception&) {
        // A failed look-up reads as absent.
    }
    return "";
}

} // namespace

RegistrySettings RegistrySettingsForExecutable(std::string_view executableName) {
    const std::string name = UpperCase(executableName);
    const std::string_view switching = kSwitchingExecutableName;
    if (name == switching || name == switching.substr(0, switching.rfind('.'))) {
        return {std::string(kSwitchedVendorName), RegistryRoot::LocalMachine};
    }
    return {std::string(kDefaultVendorName), RegistryRoot::CurrentUser};
}

RegistrySettings CurrentRegistrySettings() {
    ProcessSettings& p = Process();
    const std::lock_guard guard(p.mutex);
    if (!p.settings) {
        p.settings = RegistrySettingsForExecutable(ExecutableName());
    }
    return *p.settings;
}

void ResetRegistrySettings() {
    ProcessSettings& p = Process();
    const std::lock_guard guard(p.mutex);
    p.settings.reset();
}

void SetRegistryProgramName(std::string_view name) {
    ProcessSettings& p = Process();
    const std::lock_guard guard(p.mutex);
    p.programName = name;
}

std::string RegistryProgramName() {
    {
        ProcessSettings& p = Process();
        const std::lock_guard guard(p.mutex);
        if (!p.programName.empty()) {
            return p.programName;
        }
    }
    const std::string name = ExecutableName();
    const std::string base = name.substr(0, name.size() - ExtractFileExt(name).size());
    return base.empty() ? std::string(kWindowProgramName) : base;
}

std::string ProgramKeyPath() {
    return VendorKeyPath(RegistryProgramName());
}

TRegistryVariable::TRegistryVariable(std::string_view valueName)
    : valueName_(valueName), keyPath_(ProgramKeyPath()),
      rootKey_(CurrentRegistrySettings().rootKey) {}

std::optional<RegistryValue> TRegistryVariable::Load() const {
    try {
        TRegistry registry(rootKey_);
        if (registry.KeyExists(keyPath_) && registry.OpenKeyReadOnly(keyPath_)) {
            return registry.ReadValue(valueName_);
        }
    } catch (const std::exception&) {
        // Unreadable: the default stays.
    }
    return std::nullopt;
}

RegistryWriteStatus TRegistryVariable::Store(const RegistryValue& value) const {
    TRegistry registry(rootKey_);
    const RegistryWriteStatus opened = registry.OpenKey(keyPath_);
    if (!Succeeded(opened)) {
        return opened;
    }
    return registry.WriteValue(valueName_, value);
}

void TRegistryVariable::SaveQuietly() noexcept {
    try {
        Save();
    } catch (...) {
        // Lost silently: a destructor must not throw, and settings are optional.
    }
}

TRegistryInteger::TRegistryInteger(std::string_view valueName, std::int32_t defaultValue)
    : TRegistryVariable(valueName), value_(defaultValue) {
    if (const auto stored = Load()) {
        value_ = stored->AsInteger().value_or(value_);
    }
}

TRegistryInteger::~TRegistryInteger() {
    SaveQuietly();
}

RegistryWriteStatus TRegistryInteger::Save() {
    return Store(RegistryValue::Dword(static_cast<std::uint32_t>(value_)));
}

TRegistryString::TRegistryString(std::string_view valueName, std::string defaultValue)
    : TRegistryVariable(valueName), value_(std::move(defaultValue)) {
    if (const auto stored = Load()) {
        value_ = stored->AsString().value_or(value_);
    }
}

TRegistryString::~TRegistryString() {
    SaveQuietly();
}

RegistryWriteStatus TRegistryString::Save() {
    return Store(RegistryValue::String(value_));
}

std::string ProgramRegistryValue(std::string_view valueName) {
    return ReadForeignString(CurrentRegistrySettings().rootKey, ProgramKeyPath(), valueName);
}

std::string SiblingRegistryValue(std::string_view productName, std::string_view valueName) {
    return ReadForeignString(RegistryRoot::CurrentUser, VendorKeyPath(productName), valueName);
}

std::string HalvoryValue(std::string_view valueName) {
    return SiblingRegistryValue(kHalvoryProductName, valueName);
}

std::string AppPathsValue(std::string_view valueName) {
    return ReadForeignString(CurrentRegistrySettings().rootKey, VendorKeyPath(kAppPathsKeyName),
                             valueName);
}

} // namespace vantorel
