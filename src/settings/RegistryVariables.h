#pragma once

// Settings that survive between runs: variables bound to one registry value under the
// program's own key, loaded when they are made and written when they are destroyed, and
// look-ups of values that other products of the same vendor keep under the vendor key.
//
// The key is "\Software\" + vendor name + "\" + program name. The vendor name and the
// root are decided once per run from the executable's name; the program name is the
// executable's name without folder and extension unless the program sets another one
// (vantorel-cli uses the window's, so that both share one set of settings).

#include "settings/Registry.h"
#include "settings/RegistryValue.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace vantorel {

inline constexpr std::string_view kDefaultVendorName = "Corvane";
inline constexpr std::string_view kSwitchedVendorName = "Ardelle";
/// An executable of this name (ASCII case ignored; here also without the extension)
/// keeps its settings under the switched vendor name and HKEY_LOCAL_MACHINE.
inline constexpr std::string_view kSwitchingExecutableName = "PELORIN.EXE";
/// The program name of the window, whose key vantorel-cli shares.
inline constexpr std::string_view kWindowProgramName = "vantorel";
/// The sibling tracker whose Kepler data folder is read as a fallback.
inline constexpr std::string_view kHalvoryProductName = "Halvory";
/// The vendor's key that lists its products' executable paths.
inline constexpr std::string_view kAppPathsKeyName = "App Paths";
/// The product whose App Paths entry leads to a per-satellite Kepler folder beside it.
inline constexpr std::string_view kTarnwickProductName = "Tarnwick";

/// The values this program keeps under its key, with their defaults.
inline constexpr std::string_view kKeplerPathValue = "KeplerPath";       ///< string
inline constexpr std::string_view kLineThicknessValue = "LineThickness"; ///< integer
inline constexpr std::string_view kLineColourValue = "LineColour";       ///< integer
/// The folder tried for an image that is not where it is named ("" for none).
inline constexpr std::string_view kImagesFolderValue = "ImagesFolder"; ///< string
/// Apply the scanner calibration of Scanner.cal (1) or the scanner model as it stands (0).
inline constexpr std::string_view kUseCalibrationValue = "UseCalibration"; ///< integer
/// Align the overlay to the picture's shores after every run (1) or not (0).
inline constexpr std::string_view kAlignAutomaticallyValue = "AlignAutomatically"; ///< integer
/// The satellite whose pictures are processed when the input does not say.
inline constexpr std::string_view kSatelliteValue = "Satellite"; ///< string
inline constexpr std::string_view kDefaultSatellite = "METEOR-M2";
/// The picture of a decoder's product the window opens: a channel ("2"), three channels
/// laid together as red, green and blue ("1,2,4"), or "" for the product's first channel.
inline constexpr std::string_view kProductPictureValue = "ProductPicture"; ///< string
/// The URLs element-set updates fetch, separated by spaces or "|" ("" for the default).
inline constexpr std::string_view kKepsUrlsValue = "KepsUrls"; ///< string
/// Draw the latitude/longitude grid (1) or not (0), and its colour (0x00BBGGRR).
inline constexpr std::string_view kGraticuleValue = "Graticule";             ///< integer
inline constexpr std::string_view kGraticuleColourValue = "GraticuleColour"; ///< integer
inline constexpr std::int32_t kDefaultGraticuleColour = 0x00FFE090;         ///< light blue
/// How many whole hours ahead of UTC the clock of the computer that named the channel
/// files ran ("-5", "3"); "" for this computer's time zone.
inline constexpr std::string_view kFileClockOffsetValue = "FileClockOffset"; ///< string
/// The inputs opened last, most recent first, separated by "|".
inline constexpr std::string_view kRecentFilesValue = "RecentFiles"; ///< string
/// Where the window was last: "left,top,width,height,maximised,tab" (its size and place
/// when not maximised, 1 or 0, the index of the tab shown); "" before the first start.
inline constexpr std::string_view kWindowPlacementValue = "WindowPlacement"; ///< string
/// "Normal": item 1 of "Thin", "Normal", "Thick".
inline constexpr std::int32_t kDefaultLineThickness = 1;
/// Yellow, as a Windows colour value (0x00BBGGRR).
inline constexpr std::int32_t kDefaultLineColour = 65535;
/// The sibling tracker's value that names its Kepler data folder.
inline constexpr std::string_view kTwoLineDataPathValue = "TwoLineDataPath";

/// The process-wide choices of vendor name and root key.
struct RegistrySettings {
    std::string vendorName;
    RegistryRoot rootKey = RegistryRoot::CurrentUser;

    bool operator==(const RegistrySettings&) const = default;
};

/// The choices for an executable of the given file name (without folder): the switched
/// ones for "PELORIN.EXE" or "PELORIN" in any letter case, the defaults otherwise.
RegistrySettings RegistrySettingsForExecutable(std::string_view executableName);

/// The choices of this run, made from ExecutableName() when first asked for and kept
/// from then on.
RegistrySettings CurrentRegistrySettings();

/// Forgets the choices so that the next request makes them again (tests, and a program
/// that sets its executable path at start before any variable exists).
void ResetRegistrySettings();

/// Sets the program name of the key path; "" goes back to the executable's name.
void SetRegistryProgramName(std::string_view name);

/// The program name of the key path: the one set, or the executable's file name without
/// folder and extension (the window's name when the executable's cannot be told).
std::string RegistryProgramName();

/// "\Software\" + vendor name + "\" + program name.
std::string ProgramKeyPath();

/// One registry value under the program's key. The key path and root are fixed when the
/// variable is made. Not copyable: each variable writes its value once, when destroyed.
class TRegistryVariable {
public:
    virtual ~TRegistryVariable() = default;
    TRegistryVariable(const TRegistryVariable&) = delete;
    TRegistryVariable& operator=(const TRegistryVariable&) = delete;

    /// Writes the value now, creating the key when missing. Failures change nothing
    /// else and need no handling; the status says what happened.
    virtual RegistryWriteStatus Save() = 0;

    const std::string& ValueName() const { return valueName_; }
    const std::string& KeyPath() const { return keyPath_; }
    RegistryRoot RootKey() const { return rootKey_; }

protected:
    /// valueName: the registry value's name.
    explicit TRegistryVariable(std::string_view valueName);

    /// The stored value when the key and the value exist (the key is never created by
    /// reading); nullopt otherwise or on any failure.
    std::optional<RegistryValue> Load() const;
    /// Writes value under the key, creating the key when missing.
    RegistryWriteStatus Store(const RegistryValue& value) const;
    /// Save() from a destructor: never throws.
    void SaveQuietly() noexcept;

private:
    std::string valueName_;
    std::string keyPath_;
    RegistryRoot rootKey_;
};

/// A 32-bit signed integer kept as REG_DWORD. A stored value of another type is ignored.
class TRegistryInteger final : public TRegistryVariable {
public:
    /// Loads the stored value, or keeps defaultValue when there is none.
    TRegistryInteger(std::string_view valueName, std::int32_t defaultValue);
    /// Saves, then releases.
    ~TRegistryInteger() override;

    std::int32_t Value() const { return value_; }
    /// Changes the value in memory; it is written by Save or on destruction.
    void SetValue(std::int32_t value) { value_ = value; }

    RegistryWriteStatus Save() override;

private:
    std::int32_t value_;
};

/// A string kept as REG_SZ (a REG_EXPAND_SZ value is read as it is stored). A stored value
/// of another type is ignored; a stored empty string is a value like any other.
class TRegistryString final : public TRegistryVariable {
public:
    /// Loads the stored value, or keeps defaultValue when there is none.
    TRegistryString(std::string_view valueName, std::string defaultValue);
    /// Saves, then releases.
    ~TRegistryString() override;

    const std::string& Value() const { return value_; }
    /// Changes the value in memory; it is written by Save or on destruction.
    void SetValue(std::string value) { value_ = std::move(value); }

    RegistryWriteStatus Save() override;

private:
    std::string value_;
};

/// A string value under the program's own key and root; "" when the key or the value is
/// absent or not text. Never writes (a registry variable writes its value back).
std::string ProgramRegistryValue(std::string_view valueName);

/// A string value another product of the vendor keeps under the key
/// HKEY_CURRENT_USER\Software\<vendor name>\<productName>; "" when the key or the value is
/// absent or not text.
/// Never writes.
std::string SiblingRegistryValue(std::string_view productName, std::string_view valueName);

/// SiblingRegistryValue of the product "Halvory" (its "TwoLineDataPath": the sibling
/// tracker's Kepler data folder).
std::string HalvoryValue(std::string_view valueName);

/// A string value of the key \Software\<vendor name>\App Paths under the root key setting
/// (a product's executable path, by product name); "" when absent. Never writes.
std::string AppPathsValue(std::string_view valueName);

} // namespace vantorel
