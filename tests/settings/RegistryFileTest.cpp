#include "settings/RegistryFile.h"
#include "settings/Utf16.h"

#include "common/StringUtils.h"
#include "common/TextFile.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace vantorel {
namespace {

constexpr auto kUser = RegistryRoot::CurrentUser;
using Names = std::vector<std::string>;

// As the registry editor exports it: UTF-16LE with a byte-order mark and CR LF.
std::string Utf16File(const std::string& utf8) {
    return "\xFF\xFE" + Utf8ToUtf16(ReplaceAll(utf8, "\n", "\r\n"), ByteOrder::LittleEndian);
}

const std::string kExport = R"(Windows Registry Editor Version 5.00

[HKEY_CURRENT_USER\Software\Corvane\Halvory]
"TwoLineDataPath"="C:\\Program Files\\Halvory\\Keps\\"
"Window"=hex:2c,00,00,00,00,00,00,00,01,00,00,00,ff,ff,ff,ff,ff,ff,ff,ff,ff,ff,\
  ff,ff,ff,ff,d8,00,00,00
@="Tracker"
"Say \"hi\""="a \"quoted\" \\ word"

; settings of the overlay tool
[HKEY_CURRENT_USER\Software\Corvane\vantorel]
"KeplerPath"="D:\\Keps"
"LineThickness"=dword:00000002
"Greeting"=hex(2):25,00,55,00,53,00,45,00,52,00,25,00,00,00
"Multi"=hex(7):61,00,00,00,62,00,00,00,00,00
"Zürich"="Grüße €"

[HKEY_LOCAL_MACHINE\Software\Corvane\vantorel]
"LineThickness"=dword:00000007

)";

TEST(RegistryFile, ReadsAnEditorExportAndWritesItBackUnchanged) {
    const std::string bytes = Utf16File(kExport);
    const TRegistryFile file = TRegistryFile::Parse(bytes, kUser);
    ASSERT_TRUE(file.Problems().empty());
    EXPECT_EQ(file.Bytes(), bytes);

    const auto text = [&](const char* key, const char* name) {
        const auto v = file.Value(key, name);
        return v && v->AsString() ? *v->AsString() : "<none>";
    };
    EXPECT_EQ(text("\\Software\\Corvane\\Halvory", "TwoLineDataPath"),
              "C:\\Program Files\\Halvory\\Keps\\");
    EXPECT_EQ(text("Software\\Corvane\\Halvory", ""), "Tracker");
    EXPECT_EQ(text("Software\\Corvane\\Halvory", "say \"HI\""), "a \"quoted\" \\ word");
    EXPECT_EQ(text("software\\CORVANE\\vantorel", "kEPLERpATH"), "D:\\Keps");
    EXPECT_EQ(text("Software\\Corvane\\vantorel", "Zürich"), "Grüße €");
    EXPECT_EQ(text("Software\\Corvane\\vantorel", "Greeting"), "%USER%");
    EXPECT_EQ(file.Value("Software\\Corvane\\vantorel", "Greeting")->type,
              RegistryDataType::ExpandString);
    // Sections of another root are kept but are not this root's.
    EXPECT_EQ(file.Value("Software\\Corvane\\vantorel", "LineThickness")->AsInteger(), 2);
    const auto window = file.Value("Software\\Corvane\\Halvory", "Window");
    ASSERT_TRUE(window);
    EXPECT_EQ(window->type, RegistryDataType::Binary);
    EXPECT_EQ(window->data.size(), 30U);
    EXPECT_EQ(window->data.back(), 0U);
    EXPECT_FALSE(window->AsInteger());
    EXPECT_EQ(file.Value("Software\\Corvane\\vantorel", "Multi")->type,
              RegistryDataType::MultiString);

    EXPECT_TRUE(file.KeyExists("\\Software"));
    EXPECT_TRUE(file.KeyExists("Software\\Corvane\\"));
    EXPECT_TRUE(file.KeyExists(""));
    EXPECT_FALSE(file.KeyExists("Software\\Ardelle"));
    EXPECT_FALSE(file.KeyExists("Software\\\\Corvane"));
    EXPECT_FALSE(file.Value("Software\\Corvane", "KeplerPath"));
    EXPECT_EQ(file.ValueNames("Software\\Corvane\\vantorel"),
              (Names{"Greeting", "KeplerPath", "LineThickness", "Multi", "Zürich"}));
}

TEST(RegistryFile, AChangeRewritesOnlyTheLinesOfItsValue) {
    TRegistryFile file = TRegistryFile::Parse(Utf16File(kExport), kUser);
    file.SetValue("\\Software\\Corvane\\vantorel", "linethickness", RegistryValue::Dword(3));
    file.SetValue("\\Software\\Corvane\\vantorel", "LineColour", RegistryValue::Dword(65535));
    file.SetValue("\\Software\\Corvane\\Halvory", "Window", RegistryValue::String("small"));
    file.SetValue("\\Software\\Corvane\\New", "KeplerPath", RegistryValue::String("/var/keps"));

    std::string expected = ReplaceFirst(kExport, "dword:00000002", "dword:00000003");
    expected = ReplaceFirst(expected, "\"Zürich\"=\"Grüße €\"\n",
                            "\"Zürich\"=\"Grüße €\"\n\"LineColour\"=dword:0000ffff\n");
    expected = ReplaceFirst(expected,
                            "\"Window\"=hex:2c,00,00,00,00,00,00,00,01,00,00,00,ff,ff,ff,ff,ff,ff,"
                            "ff,ff,ff,ff,\\\n  ff,ff,ff,ff,d8,00,00,00",
                            "\"Window\"=\"small\"");
    expected += "[HKEY_CURRENT_USER\\Software\\Corvane\\New]\n\"KeplerPath\"=\"/var/keps\"\n";
    EXPECT_EQ(file.Bytes(), Utf16File(expected));
    const TRegistryFile again = TRegistryFile::Parse(file.Bytes(), kUser);
    EXPECT_TRUE(again.Problems().empty());
    EXPECT_EQ(again.Value("Software\\Corvane\\vantorel", "LineThickness")->AsInteger(), 3);
}

TEST(RegistryFile, KeepsTheEncodingAndLineEndingsItWasReadWith) {
    // UTF-8 with a byte-order mark, the old header, LF, no line break at the end.
    TRegistryFile file =
        TRegistryFile::Parse("\xEF\xBB\xBFREGEDIT4\n\n[HKEY_CURRENT_USER\\A]\n\"x\"=\"1\"", kUser);
    ASSERT_TRUE(file.Problems().empty());
    file.SetValue("A", "y", RegistryValue::String("2"));
    file.SetValue("A", "x", RegistryValue::String("3"));
    EXPECT_EQ(file.Bytes(),
              "\xEF\xBB\xBFREGEDIT4\n\n[HKEY_CURRENT_USER\\A]\n\"x\"=\"3\"\n\"y\"=\"2\"\n");

    // A new file: the header, LF, one section per key.
    TRegistryFile fresh(RegistryRoot::LocalMachine);
    EXPECT_EQ(fresh.Bytes(), "");
    fresh.CreateKey("\\Software\\Corvane\\App Paths");
    fresh.SetValue("Software\\Corvane\\vantorel", "LineThickness",
                   RegistryValue::Dword(0xFFFFFFFF));
    EXPECT_EQ(fresh.Bytes(), "Windows Registry Editor Version 5.00\n\n"
                             "[HKEY_LOCAL_MACHINE\\Software\\Corvane\\App Paths]\n\n"
                             "[HKEY_LOCAL_MACHINE\\Software\\Corvane\\vantorel]\n"
                             "\"LineThickness\"=dword:ffffffff\n");
    EXPECT_EQ(fresh.Value("Software\\Corvane\\vantorel", "LineThickness")->AsInteger(), -1);
}

TEST(RegistryFile, LaterLinesWinAndDeletionsApply) {
    TRegistryFile file = TRegistryFile::Parse(R"(Windows Registry Editor Version 5.00
[HKEY_CURRENT_USER\A\B]
"v"="first"
"gone"="x"
[HKEY_CURRENT_USER\A\B]
"v"="second"
"gone"=-
[HKEY_CURRENT_USER\A\C\D]
"w"=dword:1
[-HKEY_CURRENT_USER\A\C]
)",
                                              kUser);
    ASSERT_TRUE(file.Problems().empty());
    EXPECT_EQ(file.Value("A\\B", "v")->AsString(), "second");
    EXPECT_FALSE(file.Value("A\\B", "gone"));
    EXPECT_TRUE(file.KeyExists("A"));
    EXPECT_FALSE(file.KeyExists("A\\C"));
    EXPECT_FALSE(file.KeyExists("A\\C\\D"));

    // A value set after a deletion must outlive it: it goes after the deletion.
    file.SetValue("A\\C\\D", "w", RegistryValue::Dword(2));
    file.SetValue("A\\B", "gone", RegistryValue::String("back"));
    const TRegistryFile again = TRegistryFile::Parse(file.Bytes(), kUser);
    EXPECT_EQ(again.Value("A\\C\\D", "w")->AsInteger(), 2);
    EXPECT_EQ(again.Value("A\\B", "gone")->AsString(), "back");
    EXPECT_EQ(again.Value("A\\B", "v")->AsString(), "second");
}

TEST(RegistryFile, TextThatNeedsEscapesOrBytesRoundTrips) {
    const std::vector<std::string> texts = {"",
                                            "C:\\Keps\\",
                                            "say \"hi\"",
                                            "\\\"",
                                            "two\nlines\r\nand a \"quote\"",
                                            "ends with a line break\n",
                                            "Ωmega " + std::string(200, 'x') + "\n"};
    for (const std::string& text : texts) {
        SCOPED_TRACE(text);
        TRegistryFile file(kUser);
        file.SetValue("K", "name \"" + text.substr(0, 3) + "\" \\", RegistryValue::String(text));
        const std::string bytes = file.Bytes();
        for (const std::string& line : SplitLines(bytes)) {
            EXPECT_LE(line.size(), 80U);
        }
        const TRegistryFile again = TRegistryFile::Parse(bytes, kUser);
        ASSERT_TRUE(again.Problems().empty()) << bytes;
        const auto v = again.Value("K", "name \"" + text.substr(0, 3) + "\" \\");
        ASSERT_TRUE(v);
        EXPECT_EQ(v->type, RegistryDataType::String);
        EXPECT_EQ(v->AsString(), text);
    }
    TRegistryFile file(kUser);
    file.SetValue("K", "Path", RegistryValue::String("C:\\Keps\\\"x\""));
    EXPECT_NE(file.Bytes().find("\n\"Path\"=\"C:\\\\Keps\\\\\\\"x\\\"\"\n"), std::string::npos);
    EXPECT_THROW(file.SetValue("K\\\\L", "x", RegistryValue::Dword(1)), std::invalid_argument);
    EXPECT_THROW(file.SetValue("K", "x\ny", RegistryValue::Dword(1)), std::invalid_argument);
    EXPECT_THROW(file.CreateKey("K\nL"), std::invalid_argument);
}

TEST(RegistryFile, LinesThatCannotBeReadAreProblemsAndContributeNothing) {
    struct Case {
        std::string line;
        bool laterValueRead; // the value after the bad line belongs to a readable key
    };
    const std::vector<Case> cases = {
        {"\"a\"=dword:123456789", true},
        {"\"a\"=dword:12g4", true},
        {"\"a\"=\"unterminated", true},
        {"\"a\"=\"bad \\q escape\"", true},
        {"\"a\"=\"text\" more", true},
        {"\"a\"=hex:1,2,zzz", true},
        {"\"a\"=hex:01,,02", true},
        {"\"a\"=hex(zz):00", true},
        {"\"a\"=hex(2)00", true},
        {"\"a\" \"b\"", true},
        {"\"a\"=something", true},
        {"\"a=\"1\"", true},
        {"plain words", true},
        {std::string("\"a\"=\"nul\0\"", 11), true},
        {"[HKEY_CURRENT_USER\\Software\\x", false},
        {"[HKEY_NOWHERE\\x]", false},
        {"[HKEY_CURRENT_USER\\a\\\\b]", false},
        {"[HKEY_CURRENT_USER\\]", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        const std::string text = "Windows Registry Editor Version 5.00\n[HKEY_CURRENT_USER\\T]\n"
                                 "\"good\"=\"1\"\n" +
                                 c.line + "\n\"after\"=\"2\"\n";
        const TRegistryFile file = TRegistryFile::Parse(text, kUser);
        ASSERT_EQ(file.Problems().size(), 1U);
        EXPECT_EQ(file.Problems()[0].line, 4U);
        EXPECT_TRUE(file.Value("T", "good"));
        EXPECT_FALSE(file.Value("T", "a"));
        EXPECT_EQ(file.Value("T", "after").has_value(), c.laterValueRead);
        EXPECT_EQ(file.Bytes(), text);
    }
    const auto problems = [](std::string_view bytes) {
        return TRegistryFile::Parse(bytes, kUser).Problems();
    };
    EXPECT_EQ(problems("[HKEY_CURRENT_USER\\T]\n\"a\"=\"1\"\n").size(), 1U); // no header
    EXPECT_EQ(problems(std::string(64, '\0')).size(), 1U);
    EXPECT_EQ(problems("Windows Registry Editor Version 5.00\n\"a\"=\"1\"\n").size(), 1U);
    EXPECT_EQ(problems(std::string("\xFF\xFE\x00\xD8", 4)).size(), 1U); // an unpaired surrogate
    EXPECT_EQ(problems("\xFF\xFE\x41").size(), 1U);                     // half a UTF-16 unit
    EXPECT_TRUE(problems("").empty());
    EXPECT_TRUE(problems(" \r\n\n").empty());
}

} // namespace
} // namespace vantorel
