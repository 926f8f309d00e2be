#include "settings/RegistryValue.h"

namespace vantorel {

std::string_view RootKeyName(RegistryRoot root) {
    return root == RegistryRoot::LocalMachine ? "HKEY_LOCAL_MACHINE" : "HKEY_CURRENT_USER";
}

RegistryValue RegistryValue::String(std::string_view text) {
    RegistryValue v;
    v.type = RegistryDataType::String;
    v.text = std::string(text.substr(0, text.find('\0')));
    return v;
}

RegistryValue RegistryValue::Dword(std::uint32_t value) {
    RegistryValue v;
    v.type = RegistryDataType::Dword;
    v.data = {static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8),
              static_cast<std::uint8_t>(value >> 16), static_cast<std::uint8_t>(value >> 24)};
    return v;
}

std::optional<std::int32_t> RegistryValue::AsInteger() const {
    if (type != RegistryDataType::Dword || data.size() != 4) {
        return std::nullopt;
    }
    const std::uint32_t bits =
        static_cast<std::uint32_t>(data[0]) | static_cast<std::uint32_t>(data[1]) << 8 |
        static_cast<std::uint32_t>(data[2]) << 16 | static_cast<std::uint32_t>(data[3]) << 24;
    return static_cast<std::int32_t>(bits);
}

std::optional<std::string> RegistryValue::AsString() const {
    if (type != RegistryDataType::String && type != RegistryDataType::ExpandString) {
        return std::nullopt;
    }
    return text;
}

} // namespace vantorel
