#pragma once

// The pieces the registry store is made of: its two roots, the types of its values and
// one typed value.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vantorel {

/// The registry roots this program keeps values under.
enum class RegistryRoot {
    CurrentUser,  ///< HKEY_CURRENT_USER: the user's own settings
    LocalMachine, ///< HKEY_LOCAL_MACHINE: settings of every user of the machine
};

/// "HKEY_CURRENT_USER" or "HKEY_LOCAL_MACHINE".
std::string_view RootKeyName(RegistryRoot root);

/// The type of a value, numbered as the registry numbers them. Types other than the
/// named ones are carried by their number and kept as they are.
enum class RegistryDataType : std::uint32_t {
    None = 0,
    String = 1,       ///< REG_SZ
    ExpandString = 2, ///< REG_EXPAND_SZ
    Binary = 3,       ///< REG_BINARY
    Dword = 4,        ///< REG_DWORD (32 bits, little-endian)
    MultiString = 7,  ///< REG_MULTI_SZ
    Qword = 11,       ///< REG_QWORD
};

/// One value: its type and its content.
struct RegistryValue {
    RegistryDataType type = RegistryDataType::None;
    /// REG_SZ and REG_EXPAND_SZ: the text (UTF-8), without a terminating NUL.
    std::string text;
    /// Every other type: the bytes as stored (REG_DWORD: 4 bytes, least significant first).
    std::vector<std::uint8_t> data;

    /// A REG_SZ value. The registry ends a string at a NUL, so the text is cut at one.
    static RegistryValue String(std::string_view text);
    /// A REG_DWORD value; a signed value is stored as its two's-complement bits.
    static RegistryValue Dword(std::uint32_t value);

    /// The 32-bit signed integer of a REG_DWORD value of exactly 4 bytes; nullopt for
    /// any other value.
    std::optional<std::int32_t> AsInteger() const;
    /// The text of a REG_SZ or REG_EXPAND_SZ value; nullopt for any other type.
    std::optional<std::string> AsString() const;

    bool operator==(const RegistryValue&) const = default;
};

} // namespace vantorel
