// The registry-file reader on arbitrary bytes, in memory only: nothing is written.
// Besides not crashing or hanging it must hold to what the store relies on:
// - a file that reads without problems is given back byte for byte;
// - a change to such a file gives a file that reads without problems and holds the
//   change, with every other value as it was.
#include "settings/RegistryFile.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

namespace {

using namespace vantorel;

void Require(bool condition) {
    if (!condition) {
        std::abort();
    }
}

void Exercise(std::string_view input, RegistryRoot root) {
    TRegistryFile file = TRegistryFile::Parse(input, root);
    const char* const keys[] = {"", "\\Software", "Software\\Corvane\\vantorel",
                                "Software\\Corvane\\Halvory", "A\\\\B"};
    for (const char* key : keys) {
        (void)file.KeyExists(key);
        (void)file.ValueNames(key);
        if (const auto v = file.Value(key, "LineThickness")) {
            (void)v->AsInteger();
            (void)v->AsString();
        }
    }
    if (!file.Problems().empty()) {
        return;
    }
    Require(file.Bytes() == input);

    const char* const key = "\\Software\\Corvane\\vantorel";
    const auto otherBefore = file.Value("Software\\Corvane\\Halvory", "TwoLineDataPath");
    const RegistryValue text = RegistryValue::String("C:\\Keps\\ \"x\"\nline two");
    file.SetValue(key, "LineThickness", RegistryValue::Dword(7));
    file.SetValue(key, "KeplerPath", text);
    file.CreateKey("Software\\Corvane\\App Paths");
    const TRegistryFile again = TRegistryFile::Parse(file.Bytes(), root);
    Require(again.Problems().empty());
    Require(again.Value(key, "linethickness") == RegistryValue::Dword(7));
    Require(again.Value(key, "KeplerPath") == text);
    Require(again.KeyExists("software\\corvane\\app paths"));
    Require(again.Value("Software\\Corvane\\Halvory", "TwoLineDataPath") == otherBefore);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    Exercise(input, RegistryRoot::CurrentUser);
    Exercise(input, RegistryRoot::LocalMachine);
    return 0;
}
