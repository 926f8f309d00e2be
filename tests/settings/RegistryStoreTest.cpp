#include "settings/Registry.h"

#include "common/StringUtils.h"
#include "common/TextFile.h"

#include "RegistryTestSupport.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

namespace vantorel {
namespace {

namespace fs = std::filesystem;
using testing::RegistryTest;
using testing::ScopedEnvironment;
using testing::TempDir;

constexpr auto kUser = RegistryRoot::CurrentUser;
constexpr const char* kKey = "\\Software\\Corvane\\vantorel";

std::string FileText(const std::string& path) {
    return ReadFileBytes(path).value_or("<missing>");
}

std::vector<std::string> FolderEntries(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

// Runs body in a child process; returns a waiter giving its exit status.
template <class Body> pid_t Spawn(const Body& body) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        int code = 1;
        try {
            code = body();
        } catch (...) {
        }
        ::_exit(code);
    }
    return pid;
}

int Wait(pid_t pid) {
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(RegistryLocation, FollowsTheEnvironment) {
    ScopedEnvironment own("VANTOREL_REGISTRY_DIR", std::nullopt);
    ScopedEnvironment config("XDG_CONFIG_HOME", "/home/ana/.cfg");
    ScopedEnvironment home("HOME", "/home/ana");
    EXPECT_EQ(RegistryFilePath(kUser), "/home/ana/.cfg/vantorel/HKEY_CURRENT_USER.reg");
    EXPECT_EQ(RegistryFilePath(RegistryRoot::LocalMachine), "/etc/vantorel/HKEY_LOCAL_MACHINE.reg");
    {
        ScopedEnvironment relative("XDG_CONFIG_HOME", "cfg");
        EXPECT_EQ(RegistryFilePath(kUser), "/home/ana/.config/vantorel/HKEY_CURRENT_USER.reg");
    }
    {
        ScopedEnvironment unset("XDG_CONFIG_HOME", std::nullopt);
        EXPECT_EQ(RegistryFilePath(kUser), "/home/ana/.config/vantorel/HKEY_CURRENT_USER.reg");
    }
    ScopedEnvironment replaced("VANTOREL_REGISTRY_DIR", "/srv/station/registry");
    EXPECT_EQ(RegistryFilePath(kUser), "/srv/station/registry/HKEY_CURRENT_USER.reg");
    EXPECT_EQ(RegistryFilePath(RegistryRoot::LocalMachine),
              "/srv/station/registry/HKEY_LOCAL_MACHINE.reg");
    EXPECT_EQ(RegistryLockFilePath("/a/HKEY_CURRENT_USER.reg"), "/a/HKEY_CURRENT_USER.reg.lock");
}

// Every test program runs in a settings sandbox: one that loses its folder and then writes
// would write the user's own settings, and is stopped there, before anything is written.
TEST(RegistryLocation, AProgramInASandboxNeverWritesTheUsersSettings) {
    TempDir home;
    ScopedEnvironment user("HOME", home.Path());
    ScopedEnvironment config("XDG_CONFIG_HOME", std::nullopt);
    ScopedEnvironment lost("VANTOREL_REGISTRY_DIR", std::nullopt);
    EXPECT_DEATH(
        {
            TRegistry registry(kUser);
            registry.OpenKey("\\Software\\Corvane\\vantorel");
        },
        "settings would be written to the user's own " + home.Path() +
            ".config/vantorel/HKEY_CURRENT_USER.reg");
    EXPECT_FALSE(fs::exists(home / ".config"));
}

TEST_F(RegistryTest, ReadingNeverCreatesAnythingAndOpeningCreatesTheKey) {
    ScopedEnvironment nested("VANTOREL_REGISTRY_DIR", dir_ / "not/yet");
    TRegistry reading(kUser);
    EXPECT_FALSE(reading.KeyExists(kKey));
    EXPECT_FALSE(reading.OpenKeyReadOnly(kKey));
    EXPECT_FALSE(reading.ReadInteger("LineThickness"));
    EXPECT_FALSE(reading.ValueExists("LineThickness"));
    EXPECT_TRUE(FolderEntries(dir_.Path()).empty());

    TRegistry registry(kUser);
    EXPECT_EQ(registry.OpenKey(kKey), RegistryWriteStatus::Written);
    EXPECT_EQ(registry.CurrentPath(), kKey);
    EXPECT_EQ(registry.WriteInteger("LineThickness", -2), RegistryWriteStatus::Written);
    EXPECT_EQ(registry.WriteString("KeplerPath", "/var/keps"), RegistryWriteStatus::Written);
    EXPECT_EQ(FileText(dir_ / "not/yet/HKEY_CURRENT_USER.reg"),
              "Windows Registry Editor Version 5.00\n\n"
              "[HKEY_CURRENT_USER\\Software\\Corvane\\vantorel]\n"
              "\"LineThickness\"=dword:fffffffe\n"
              "\"KeplerPath\"=\"/var/keps\"\n");

    TRegistry again(kUser);
    ASSERT_TRUE(again.OpenKeyReadOnly("software\\corvane\\VANTOREL"));
    EXPECT_EQ(again.ReadInteger("LineThickness"), -2);
    EXPECT_EQ(again.GetDataType("KeplerPath"), RegistryDataType::String);
    EXPECT_FALSE(again.ReadInteger("KeplerPath"));
    EXPECT_FALSE(again.ReadString("LineThickness"));
    EXPECT_EQ(again.OpenKey(kKey), RegistryWriteStatus::Unchanged);

    // Writing what is there already leaves the file alone.
    struct stat before {};
    ::stat((dir_ / "not/yet/HKEY_CURRENT_USER.reg").c_str(), &before);
    EXPECT_EQ(again.WriteInteger("linethickness", -2), RegistryWriteStatus::Unchanged);
    struct stat after {};
    ::stat((dir_ / "not/yet/HKEY_CURRENT_USER.reg").c_str(), &after);
    EXPECT_EQ(before.st_ino, after.st_ino);
}

TEST_F(RegistryTest, ConnectionsReadingAnOlderFileKeepEachOthersValues) {
    TRegistry first(kUser);
    TRegistry second(kUser);
    ASSERT_TRUE(Succeeded(first.OpenKey(kKey)));
    ASSERT_TRUE(Succeeded(second.OpenKey(kKey)));
    EXPECT_EQ(first.WriteInteger("LineThickness", 2), RegistryWriteStatus::Written);
    EXPECT_EQ(second.WriteInteger("LineColour", 255), RegistryWriteStatus::Written);
    EXPECT_EQ(second.ReadInteger("LineThickness"), 2); // read again under the lock
    TRegistry reader(kUser);
    ASSERT_TRUE(reader.OpenKeyReadOnly(kKey));
    EXPECT_EQ(reader.ReadInteger("LineThickness"), 2);
    EXPECT_EQ(reader.ReadInteger("LineColour"), 255);
}

TEST_F(RegistryTest, TwoProcessesSavingAtOnceBothKeepTheirValues) {
    constexpr int kValuesEach = 40;
    const auto writer = [](const char* prefix) {
        return [prefix] {
            int failures = 0;
            for (int i = 0; i < kValuesEach; ++i) {
                TRegistry registry(kUser); // a fresh run each time, as separate programs
                const std::string name = prefix + std::to_string(i);
                failures += !Succeeded(registry.OpenKey(kKey));
                failures += !Succeeded(registry.WriteInteger(name, i));
            }
            return failures == 0 ? 0 : 1;
        };
    };
    const pid_t a = Spawn(writer("A"));
    const pid_t b = Spawn(writer("B"));
    ASSERT_EQ(Wait(a), 0);
    ASSERT_EQ(Wait(b), 0);

    TRegistry registry(kUser);
    EXPECT_TRUE(registry.File().Problems().empty());
    ASSERT_TRUE(registry.OpenKeyReadOnly(kKey));
    for (int i = 0; i < kValuesEach; ++i) {
        EXPECT_EQ(registry.ReadInteger("A" + std::to_string(i)), i);
        EXPECT_EQ(registry.ReadInteger("B" + std::to_string(i)), i);
    }
    EXPECT_EQ(FolderEntries(dir_.Path()),
              (std::vector<std::string>{"HKEY_CURRENT_USER.reg", "HKEY_CURRENT_USER.reg.lock"}));
}

TEST_F(RegistryTest, ReadersNeverSeeHalfAFile) {
    // Large values make a half-written file likely to be caught if writes were in place.
    const std::string small(20000, 's');
    const std::string large(60000, 'L');
    {
        TRegistry first(kUser);
        ASSERT_TRUE(Succeeded(first.OpenKey(kKey)));
        ASSERT_TRUE(Succeeded(first.WriteString("Blob", small)));
    }
    const pid_t writer = Spawn([&] {
        for (int i = 0; i < 60; ++i) {
            TRegistry registry(kUser);
            if (!Succeeded(registry.OpenKey(kKey)) ||
                !Succeeded(registry.WriteString("Blob", i % 2 == 0 ? large : small))) {
                return 1;
            }
        }
        return 0;
    });
    int reads = 0;
    int status = 0;
    while (::waitpid(writer, &status, WNOHANG) == 0) {
        const auto bytes = ReadFileBytes(UserFile());
        if (!bytes) {
            continue;
        }
        const TRegistryFile file = TRegistryFile::Parse(*bytes, kUser);
        ASSERT_TRUE(file.Problems().empty()) << bytes->size();
        const auto blob = file.Value(kKey, "Blob");
        ASSERT_TRUE(blob);
        ASSERT_TRUE(blob->text == small || blob->text == large);
        ++reads;
    }
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_GT(reads, 0);
}

TEST_F(RegistryTest, AFileThatDoesNotReadCleanlyIsLeftAsItIs) {
    const std::string text = "Windows Registry Editor Version 5.00\n\n"
                             "[HKEY_CURRENT_USER\\Software\\Corvane\\vantorel]\n"
                             "\"KeplerPath\"=\"/home/ana/keps\"\n"
                             "\"LineThickness\"=dword:2 ; thick\n";
    dir_.Write("HKEY_CURRENT_USER.reg", text);
    TRegistry registry(kUser);
    ASSERT_EQ(registry.File().Problems().size(), 1U);
    ASSERT_TRUE(registry.OpenKeyReadOnly(kKey));
    EXPECT_EQ(registry.ReadString("KeplerPath"), "/home/ana/keps"); // the readable lines count
    EXPECT_EQ(registry.WriteInteger("LineThickness", 3), RegistryWriteStatus::FileUnparsable);
    EXPECT_EQ(registry.OpenKey("\\Software\\Other"), RegistryWriteStatus::FileUnparsable);
    EXPECT_EQ(FileText(UserFile()), text);

    // Unreadable: a folder where the file should be.
    fs::remove(UserFile());
    fs::create_directory(UserFile());
    EXPECT_EQ(registry.WriteInteger("LineThickness", 3), RegistryWriteStatus::FileUnreadable);
    EXPECT_TRUE(fs::is_directory(UserFile()));

    // A FIFO there is never waited on, when read or written, and stays.
    fs::remove(UserFile());
    ASSERT_EQ(::mkfifo(UserFile().c_str(), 0600), 0);
    TRegistry again(kUser);
    EXPECT_FALSE(again.KeyExists(kKey));
    EXPECT_EQ(again.WriteInteger("LineThickness", 3), RegistryWriteStatus::FileUnreadable);
    EXPECT_TRUE(fs::is_fifo(UserFile()));
}

TEST_F(RegistryTest, AFileProblemIsToldOnceWithItsFileAndLine) {
    const std::string header = "Windows Registry Editor Version 5.00\n\n"
                               "[HKEY_CURRENT_USER\\Software\\Corvane\\vantorel]\n";
    TRegistry early(kUser); // made while the file is clean
    dir_.Write("HKEY_CURRENT_USER.reg", header + "\"KeplerPath\"=\"/keps\"\noops\n");
    {
        TRegistryString path("KeplerPath", "");
        EXPECT_EQ(path.Value(), "/keps");
        const auto problems = TakeRegistryProblems();
        ASSERT_EQ(problems.size(), 1U);
        EXPECT_EQ(problems[0].file, UserFile());
        EXPECT_EQ(problems[0].line, 5U);
        EXPECT_EQ(problems[0].lineText, "oops");
        EXPECT_FALSE(problems[0].nothingRead);
        EXPECT_FALSE(problems[0].savesRefused);
        EXPECT_EQ(path.Save(), RegistryWriteStatus::FileUnparsable);
    }
    TRegistryString again("KeplerPath", "");
    EXPECT_EQ(TakeRegistryProblemReport(), ""); // told once, refused saves included

    // A new problem met first by a save says that settings were lost.
    dir_.Write("HKEY_CURRENT_USER.reg", header + "\"LineColour\"=dword:xyz\n");
    EXPECT_EQ(early.WriteInteger("LineThickness", 2), RegistryWriteStatus::FileUnparsable);
    std::string report = TakeRegistryProblemReport();
    EXPECT_EQ(report,
              "Settings: the registry file " + UserFile() +
                  " has a line that cannot be read, line 4: \"\"LineColour\"=dword:xyz\" (" +
                  early.File().Problems()[0].message +
                  ").\nIts other settings are used, but settings changed in this run were "
                  "not saved and none will be until that line is mended or removed.\n");

    // Not a registry file at all: nothing is read; once mended and broken again it is news.
    dir_.Write("HKEY_CURRENT_USER.reg", "plain text\n");
    EXPECT_TRUE(TRegistry(kUser).Unreadable());
    report = TakeRegistryProblemReport();
    EXPECT_NE(report.find("line 1: \"plain text\""), std::string::npos) << report;
    EXPECT_NE(report.find("None of its settings are used"), std::string::npos) << report;
    dir_.Write("HKEY_CURRENT_USER.reg", header);
    EXPECT_FALSE(TRegistry(kUser).Unreadable());
    dir_.Write("HKEY_CURRENT_USER.reg", "plain text\n");
    const TRegistry reread(kUser);
    EXPECT_EQ(TakeRegistryProblems().size(), 1U);
}

TEST_F(RegistryTest, AChangeWaitsForTheLockAndGivesUpAfterTheTimeout) {
    TRegistry registry(kUser);
    ASSERT_EQ(registry.OpenKey(kKey), RegistryWriteStatus::Written);
    const std::string before = FileText(UserFile());
    {
        const int held = ::open(RegistryLockFilePath(UserFile()).c_str(), O_RDWR);
        ASSERT_GE(held, 0);
        ASSERT_EQ(::flock(held, LOCK_EX), 0);
        registry.SetLockTimeout(std::chrono::milliseconds(50));
        EXPECT_EQ(registry.WriteInteger("LineThickness", 2), RegistryWriteStatus::LockTimeout);
        EXPECT_EQ(FileText(UserFile()), before);
        ::close(held);
    }
    EXPECT_EQ(registry.WriteInteger("LineThickness", 2), RegistryWriteStatus::Written);
}

TEST_F(RegistryTest, TheReplacedFileKeepsItsModeAndSymbolicLink) {
    TempDir elsewhere;
    const std::string real = elsewhere.Write("kept.reg", "Windows Registry Editor Version 5.00\n");
    fs::create_symlink(real, UserFile());
    ::chmod(real.c_str(), 0640);
    dir_.Write("HKEY_CURRENT_USER.reg.tmp-999-0", "left by a crash");
    elsewhere.Write("kept.reg.tmp-998-3", "left by a crash");

    TRegistry registry(kUser);
    ASSERT_TRUE(Succeeded(registry.OpenKey(kKey)));
    EXPECT_EQ(registry.WriteString("KeplerPath", "/k"), RegistryWriteStatus::Written);
    EXPECT_TRUE(fs::is_symlink(UserFile()));
    EXPECT_NE(FileText(real).find("\"KeplerPath\"=\"/k\""), std::string::npos);
    struct stat st {};
    ASSERT_EQ(::stat(real.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640U);
    EXPECT_EQ(FolderEntries(elsewhere.Path()), (std::vector<std::string>{"kept.reg"}));
}

} // namespace
} // namespace vantorel
