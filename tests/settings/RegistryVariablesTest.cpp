#include "settings/RegistryVariables.h"

#include "common/StringUtils.h"
#include "common/TextFile.h"
#include "settings/Utf16.h"

#include "RegistryTestSupport.h"

#include <filesystem>
#include <memory>

namespace vantorel {
namespace {

using testing::RegistryTest;

constexpr const char* kHeader = "Windows Registry Editor Version 5.00\n\n";

std::string FileText(const std::string& path) {
    return ReadFileBytes(path).value_or("<missing>");
}

// The window's three settings with their defaults, as the window makes them.
struct WindowSettings {
    TRegistryString keplerPath{"KeplerPath", ""};
    TRegistryInteger lineThickness{"LineThickness", 1};
    TRegistryInteger lineColour{"LineColour", 65535};
};

TEST_F(RegistryTest, FirstStartUsesTheDefaultsAndWritesOnlyAtTheEnd) {
    {
        WindowSettings settings;
        EXPECT_EQ(settings.keplerPath.Value(), "");
        EXPECT_EQ(settings.lineThickness.Value(), 1);
        EXPECT_EQ(settings.lineColour.Value(), 65535);
        EXPECT_EQ(settings.lineColour.KeyPath(), "\\Software\\Corvane\\vantorel");
        EXPECT_EQ(settings.lineColour.RootKey(), RegistryRoot::CurrentUser);
        EXPECT_EQ(HalvoryValue("TwoLineDataPath"), "");
        EXPECT_EQ(AppPathsValue("Halvory"), "");
        settings.lineThickness.SetValue(2);
        EXPECT_FALSE(std::filesystem::exists(UserFile()));
    }
    EXPECT_EQ(FileText(UserFile()), std::string(kHeader) +
                                        "[HKEY_CURRENT_USER\\Software\\Corvane\\vantorel]\n"
                                        "\"LineColour\"=dword:0000ffff\n"
                                        "\"LineThickness\"=dword:00000002\n"
                                        "\"KeplerPath\"=\"\"\n");
    EXPECT_FALSE(std::filesystem::exists(MachineFile()));
    WindowSettings nextRun;
    EXPECT_EQ(nextRun.lineThickness.Value(), 2);
}

TEST_F(RegistryTest, AStoredValueOfTheWrongTypeKeepsTheDefault) {
    dir_.Write("HKEY_CURRENT_USER.reg", std::string(kHeader) +
                                            "[HKEY_CURRENT_USER\\Software\\Corvane\\vantorel]\n"
                                            "\"LineThickness\"=\"2\"\n"
                                            "\"LineColour\"=hex:ff,00,00\n"
                                            "\"KeplerPath\"=dword:00000001\n"
                                            "\"Empty\"=\"\"\n"
                                            "\"Expand\"=hex(2):41,00,00,00\n"
                                            "\"Negative\"=dword:fffffff6\n");
    TRegistryInteger thickness("LineThickness", 1);
    TRegistryInteger colour("LineColour", 65535);
    TRegistryString path("KeplerPath", "/default");
    TRegistryString empty("Empty", "default");
    TRegistryString expand("Expand", "default");
    TRegistryInteger negative("Negative", 0);
    EXPECT_EQ(thickness.Value(), 1);
    EXPECT_EQ(colour.Value(), 65535);
    EXPECT_EQ(path.Value(), "/default");
    EXPECT_EQ(empty.Value(), ""); // a stored empty text is a value
    EXPECT_EQ(expand.Value(), "A");
    EXPECT_EQ(negative.Value(), -10);

    // Saving puts the right type in place of the wrong one.
    EXPECT_EQ(thickness.Save(), RegistryWriteStatus::Written);
    TRegistryInteger reread("LineThickness", 7);
    EXPECT_EQ(reread.Value(), 1);
}

TEST_F(RegistryTest, RenamingTheExecutableMovesItsSettings) {
    RunAs("vantorel");
    {
        TRegistryInteger thickness("LineThickness", 1);
        thickness.SetValue(3);
    }
    RunAs("Vantorel.bin"); // the same key: names are compared ignoring case
    EXPECT_EQ(TRegistryInteger("LineThickness", 1).Value(), 3);
    RunAs("overlay");
    const TRegistryInteger other("LineThickness", 1);
    EXPECT_EQ(other.KeyPath(), "\\Software\\Corvane\\overlay");
    EXPECT_EQ(other.Value(), 1);
}

TEST_F(RegistryTest, ThePelorinNameSwitchesVendorAndRoot) {
    for (const char* name : {"PELORIN.EXE", "pelorin.exe", "Pelorin", "PELORIN"}) {
        EXPECT_EQ(RegistrySettingsForExecutable(name).vendorName, "Ardelle") << name;
        EXPECT_EQ(RegistrySettingsForExecutable(name).rootKey, RegistryRoot::LocalMachine);
    }
    for (const char* name : {"PELORIN.EXE.bak", "pelorin.bin", "PELORIN2", "xPELORIN.EXE", ""}) {
        EXPECT_EQ(RegistrySettingsForExecutable(name),
                  (RegistrySettings{"Corvane", RegistryRoot::CurrentUser}))
            << name;
    }

    dir_.Write("HKEY_CURRENT_USER.reg", std::string(kHeader) +
                                            "[HKEY_CURRENT_USER\\Software\\Ardelle\\Halvory]\n"
                                            "\"TwoLineDataPath\"=\"/srv/keps\"\n"
                                            "[HKEY_CURRENT_USER\\Software\\Corvane\\Halvory]\n"
                                            "\"TwoLineDataPath\"=\"/wrong\"\n");
    dir_.Write("HKEY_LOCAL_MACHINE.reg", std::string(kHeader) +
                                             "[HKEY_LOCAL_MACHINE\\Software\\Ardelle\\App Paths]\n"
                                             "\"Halvory\"=\"/opt/halvory/halvory\"\n");
    const std::string userBefore = FileText(UserFile());
    RunAs("PELORIN.EXE");
    {
        TRegistryInteger thickness("LineThickness", 1);
        EXPECT_EQ(thickness.KeyPath(), "\\Software\\Ardelle\\PELORIN");
        EXPECT_EQ(thickness.RootKey(), RegistryRoot::LocalMachine);
        EXPECT_EQ(HalvoryValue("TwoLineDataPath"), "/srv/keps");
        EXPECT_EQ(AppPathsValue("halvory"), "/opt/halvory/halvory");
        thickness.SetValue(2);
    }
    EXPECT_EQ(FileText(UserFile()), userBefore);
    EXPECT_NE(FileText(MachineFile())
                  .find("[HKEY_LOCAL_MACHINE\\Software\\Ardelle\\PELORIN]\n"
                        "\"LineThickness\"=dword:00000002\n"),
              std::string::npos);

    // Decided once per run: a later change of the executable's name does not undo it.
    const ScopedExecutablePath renamed("/opt/vantorel/bin/vantorel");
    EXPECT_EQ(CurrentRegistrySettings().vendorName, "Ardelle");
    EXPECT_EQ(ProgramKeyPath(), "\\Software\\Ardelle\\vantorel");
}

TEST_F(RegistryTest, TheCommandLineToolCanShareTheWindowsKey) {
    RunAs("vantorel-cli");
    EXPECT_EQ(ProgramKeyPath(), "\\Software\\Corvane\\vantorel-cli");
    SetRegistryProgramName(kWindowProgramName);
    {
        TRegistryString path("KeplerPath", "");
        path.SetValue("/srv/keps");
    }
    RunAs("vantorel");
    SetRegistryProgramName("");
    EXPECT_EQ(TRegistryString("KeplerPath", "").Value(), "/srv/keps");
}

TEST_F(RegistryTest, AnEditorExportLoadsAndSavingKeepsTheRestOfIt) {
    const std::string exported = "Windows Registry Editor Version 5.00\r\n\r\n"
                                 "[HKEY_CURRENT_USER\\Software\\Corvane\\vantorel]\r\n"
                                 "\"KeplerPath\"=\"C:\\\\Keps\\\\\"\r\n"
                                 "\"LineThickness\"=dword:00000002\r\n"
                                 "\"WindowState\"=hex:01,02,03\r\n\r\n"
                                 "[HKEY_CURRENT_USER\\Software\\Corvane\\Halvory]\r\n"
                                 "\"TwoLineDataPath\"=\"C:\\\\Halvory\\\\Keps\\\\\"\r\n\r\n";
    const auto utf16 = [](const std::string& s) {
        return "\xFF\xFE" + Utf8ToUtf16(s, ByteOrder::LittleEndian);
    };
    dir_.Write("HKEY_CURRENT_USER.reg", utf16(exported));
    {
        WindowSettings settings;
        EXPECT_EQ(settings.keplerPath.Value(), "C:\\Keps\\");
        EXPECT_EQ(settings.lineThickness.Value(), 2);
        EXPECT_EQ(HalvoryValue("TwoLineDataPath"), "C:\\Halvory\\Keps\\");
        settings.keplerPath.SetValue("/home/ana/keps");
    }
    std::string expected = ReplaceFirst(exported, "\"C:\\\\Keps\\\\\"", "\"/home/ana/keps\"");
    expected = ReplaceFirst(expected, "\"WindowState\"=hex:01,02,03\r\n",
                            "\"WindowState\"=hex:01,02,03\r\n\"LineColour\"=dword:0000ffff\r\n");
    EXPECT_EQ(FileText(UserFile()), utf16(expected));
}

TEST_F(RegistryTest, AFailedSaveLosesOnlyThatValueAndStaysSilent) {
    const std::string broken = std::string(kHeader) +
                               "[HKEY_CURRENT_USER\\Software\\Corvane\\vantorel]\n"
                               "\"KeplerPath\"=\"/keps\"\n"
                               "LineThickness=2\n";
    dir_.Write("HKEY_CURRENT_USER.reg", broken);
    {
        WindowSettings settings;
        EXPECT_EQ(settings.keplerPath.Value(), "/keps");
        EXPECT_EQ(settings.lineThickness.Value(), 1);
        settings.keplerPath.SetValue("/new");
        EXPECT_EQ(settings.keplerPath.Save(), RegistryWriteStatus::FileUnparsable);
    } // the destructors' saves fail without a word
    EXPECT_EQ(FileText(UserFile()), broken);

    // A value name the file cannot hold is not written; the others are.
    std::filesystem::remove(UserFile());
    {
        TRegistryInteger bad("Line\nThickness", 1);
        TRegistryInteger good("LineThickness", 4);
        EXPECT_EQ(bad.Save(), RegistryWriteStatus::InvalidName);
    }
    EXPECT_EQ(TRegistryInteger("LineThickness", 1).Value(), 4);
}

TEST_F(RegistryTest, LookUpsNeverWrite) {
    EXPECT_EQ(SiblingRegistryValue("Halvory", "TwoLineDataPath"), "");
    EXPECT_EQ(AppPathsValue("Halvory"), "");
    EXPECT_TRUE(std::filesystem::is_empty(dir_.Path()));
    dir_.Write("HKEY_CURRENT_USER.reg", std::string(kHeader) +
                                            "[HKEY_CURRENT_USER\\Software\\Corvane\\Halvory]\n"
                                            "\"Count\"=dword:00000001\n"
                                            "\"Path\"=\"/p\"\n");
    EXPECT_EQ(SiblingRegistryValue("halvory", "Count"), ""); // not text
    EXPECT_EQ(SiblingRegistryValue("Halvory", "path"), "/p");
    EXPECT_EQ(SiblingRegistryValue("Other", "Path"), "");
}

} // namespace
} // namespace vantorel
