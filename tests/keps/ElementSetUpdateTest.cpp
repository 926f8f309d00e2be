// Element-set updates against a server on the loopback: what reaches the Kepler folder,
// what never does, and what the user is told.
#include "keps/ElementSetUpdate.h"
#include "Cli.h"
#include "LoopbackHttpServer.h"
#include "Sanitizer.h"
#include "ScopedEnvironment.h"
#include "TempDir.h"
#include "TestData.h"
#include "common/Clock.h"
#include "common/TextFile.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <gtest/gtest.h>

#include <filesystem>

#include <set>
#include <sstream>
#include <sys/resource.h>
#include <tuple>

namespace vantorel {
namespace {

using testing::LoopbackHttpServer;
using testing::StreamingHttpServer;
using testing::TempDir;

class ElementSetUpdateTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        if (QCoreApplication::instance() == nullptr) {
            static int argc = 1;
            static char name[] = "test_keps";
            static char* argv[] = {name, nullptr};
            static QCoreApplication app(argc, argv);
        }
    }

    std::set<std::string> Listing() const {
        std::set<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(folder.Path())) {
            names.insert(entry.path().filename().string());
        }
        return names;
    }
    TElementSetUpdate Update(const std::string& url) const {
        TElementSetUpdateRequest request;
        request.Urls = {url};
        request.KeplerFolder = folder.Path();
        request.Limits.Timeout = std::chrono::milliseconds(1500);
        return UpdateElementSets(request);
    }
    static std::string Report(const TElementSetUpdate& update) {
        std::string text;
        for (const std::string& line : update.Report) {
            text += line + "\n";
        }
        return text;
    }

    // A failure's one line, and the folder as it was.
    void ExpectUnchanged(const TElementSetUpdate& update, const std::string& cause) const {
        EXPECT_EQ(update.Outcome, TElementSetUpdate::TOutcome::Failed);
        EXPECT_EQ(Report(update),
                  "Element sets not updated (nothing in the Kepler folder changed): " + cause +
                      "\n");
        EXPECT_EQ(Listing(), std::set<std::string>{"weather-2024-08-30.txt"});
    }

    TempDir folder;
    const std::string weather = testing::ReadTestData("keps/weather-2024-08-31.txt");
    const std::string older = folder.Write("weather-2024-08-30.txt", weather);
    testing::ScopedEnvironment registry{"VANTOREL_REGISTRY_DIR", folder / "registry"};
};

TEST_F(ElementSetUpdateTest, AGoodFileGoesInUnderTheDateBesideTheOlderOnes) {
    const FixedClock clock(EncodeDateTime(2024, 9, 1, 6, 0, 0), 0.0);
    const ScopedClock scoped(clock);
    LoopbackHttpServer server(LoopbackHttpServer::Reply(weather));
    const TElementSetUpdate first = Update(server.Url());
    ASSERT_EQ(first.Outcome, TElementSetUpdate::TOutcome::Written) << Report(first);
    EXPECT_EQ(first.FileName, folder / "weather-2024-09-01.txt");
    EXPECT_EQ(ReadFileBytes(first.FileName), weather);
    EXPECT_EQ(Listing(),
              (std::set<std::string>{"weather-2024-08-30.txt", "weather-2024-09-01.txt"}));
    EXPECT_EQ(first.SetCount, 8);
    const std::string said = Report(first);
    EXPECT_NE(said.find("from " + server.Url()), std::string::npos) << said;
    EXPECT_NE(said.find("Written to " + first.FileName), std::string::npos) << said;
    EXPECT_NE(said.find("  METEOR-M 2 (40069): epoch 2024-08-31 14:00 UTC, 0.7 days old"),
              std::string::npos)
        << said;
    for (const char* name : {"METEOR-M2 2 (44387)", "METEOR-M2 3 (57166)", "METEOR-M2 4 (59051)"}) {
        EXPECT_NE(said.find(name), std::string::npos) << name;
    }

    // The same bytes again are already there; different ones take the next name.
    EXPECT_EQ(Update(server.Url()).Outcome, TElementSetUpdate::TOutcome::AlreadyPresent);
    LoopbackHttpServer newer(LoopbackHttpServer::Reply(weather + "\r\n"));
    const TElementSetUpdate second = Update(newer.Url());
    EXPECT_EQ(second.FileName, folder / "weather-2024-09-01-2.txt") << Report(second);
    EXPECT_EQ(Listing().size(), 3u);
}

TEST_F(ElementSetUpdateTest, AReplyWithoutSetsOrWithoutTheMeteorSetsChangesNothing) {
    LoopbackHttpServer page(LoopbackHttpServer::Reply("<html>No GP data found</html>\n"));
    ExpectUnchanged(Update(page.Url()),
                    page.Url() +
                        ": no element sets in the reply (three-line sets: name, line 1, line 2); "
                        "it begins \"<html>No GP data found</html>\"");

    // NOAA 18 and 19 only.
    LoopbackHttpServer noaa(LoopbackHttpServer::Reply(weather.substr(0, weather.find("NOAA 15"))));
    ExpectUnchanged(Update(noaa.Url()),
                    "no element set for Meteor-M N2 (40069), Meteor-M N2-2 (44387), Meteor-M "
                    "N2-3 (57166), Meteor-M N2-4 (59051) in what " +
                        noaa.Url() + " sent");

    // Text after the sets, and a name line too many, which would name a set wrongly.
    LoopbackHttpServer appended(LoopbackHttpServer::Reply(weather + "<!-- cached -->\n"));
    const int lines = static_cast<int>(std::count(weather.begin(), weather.end(), '\n'));
    ExpectUnchanged(Update(appended.Url()),
                    appended.Url() + ": the reply is not three-line element sets alone (line " +
                        std::to_string(lines + 1) +
                        " begins a set that the reply ends in: \"<!-- cached -->\"); nothing "
                        "written");
    std::string named = weather;
    named.insert(named.find("NOAA 15"), "DEBRIS\n");
    LoopbackHttpServer twice(LoopbackHttpServer::Reply(named));
    const TElementSetUpdate shifted = Update(twice.Url());
    EXPECT_NE(Report(shifted).find("is not line 1 of a set: \"NOAA 15"), std::string::npos)
        << Report(shifted);
    EXPECT_EQ(Listing(), std::set<std::string>{"weather-2024-08-30.txt"});

    // A Meteor set damaged on the way (its inclination edited, the checksum not).
    std::string damaged = weather;
    damaged.replace(damaged.find("98.4425"), 7, "98.4435");
    LoopbackHttpServer edited(LoopbackHttpServer::Reply(damaged));
    ExpectUnchanged(Update(edited.Url()),
                    "the element set of Meteor-M N2 (40069) in what " + edited.Url() +
                        " sent fails its checksum on line 2: written 8, its sum 9; nothing "
                        "written");
}

// A reply that declares no size (chunked, without end) is cut off at the cap, however it
// is sent, and never held in memory beyond it: the server, on a thread of its own, writes
// as fast as the reader takes, so a reader that kept no bound would take gigabytes.
TEST_F(ElementSetUpdateTest, AReplyOfNoDeclaredSizeIsCutOffAtTheCap) {
    const auto peakKiB = [] {
        rusage usage{};
        ::getrusage(RUSAGE_SELF, &usage);
        return usage.ru_maxrss;
    };
    const long before = peakKiB();
    for (const bool framed : {true, false}) {
        SCOPED_TRACE(framed ? "chunks of 1 MiB" : "one chunk of 2 GiB");
        StreamingHttpServer server(std::string("HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\n"
                                               "Transfer-Encoding: chunked\r\n\r\n") +
                                       (framed ? "" : "7ffffff0\r\n"),
                                   std::string(1024 * 1024, 'x'), framed);
        TElementSetUpdateRequest request;
        request.Urls = {server.Url()};
        request.KeplerFolder = folder.Path();
        request.Limits.Timeout = std::chrono::milliseconds(20000);
        QElapsedTimer elapsed;
        elapsed.start();
        ExpectUnchanged(UpdateElementSets(request),
                        server.Url() + ": the reply is larger than 4 MiB");
        EXPECT_LT(elapsed.elapsed(), 10000);
    }
    // ASan holds freed memory back.
    EXPECT_LT(peakKiB() - before, (kAddressSanitizer ? 64 : 32) * 1024);
}

TEST_F(ElementSetUpdateTest, AnHttpErrorChangesNothingAndNamesTheStatus) {
    LoopbackHttpServer server(LoopbackHttpServer::Reply("No such group\r\n", "404 Not Found"));
    ExpectUnchanged(Update(server.Url()),
                    server.Url() +
                        ": HTTP status 404 Not Found (the server says \"No such group\")");
}

// Redirects are followed to where they lead, and named; a loop ends.
TEST_F(ElementSetUpdateTest, RedirectsAreFollowedAndNamedButNotForever) {
    LoopbackHttpServer target(LoopbackHttpServer::Reply("gone\n", "410 Gone"));
    LoopbackHttpServer moved("HTTP/1.1 301 Moved\r\nLocation: " + target.Url("/new.txt") +
                             "\r\nContent-Length: 0\r\n\r\n");
    ExpectUnchanged(Update(moved.Url()), moved.Url() + " (redirected to " + target.Url("/new.txt") +
                                             "): HTTP status 410 Gone (the server says \"gone\")");
    LoopbackHttpServer loop("HTTP/1.1 302 Found\r\nLocation: /again\r\n\r\n");
    ExpectUnchanged(Update(loop.Url()), loop.Url() + " (redirected to " + loop.Url("/again") +
                                            "): more than 5 redirects");
    EXPECT_EQ(loop.Requests(), 6);
}

TEST_F(ElementSetUpdateTest, AServerThatNeverAnswersTimesOut) {
    LoopbackHttpServer silent(std::nullopt);
    QElapsedTimer elapsed;
    elapsed.start();
    const TElementSetUpdate update = Update(silent.Url());
    EXPECT_LT(elapsed.elapsed(), 10000);
    EXPECT_EQ(silent.Requests(), 1);
    ExpectUnchanged(update, silent.Url() + ": no complete reply within 1.5 s");
}

TEST_F(ElementSetUpdateTest, TheCommandSkipsAFreshFolderAndFailsWithTheCause) {
    LoopbackHttpServer server(LoopbackHttpServer::Reply("gone\n", "410 Gone"));
    auto run = [&] {
        std::ostringstream out;
        std::ostringstream err;
        const int code = cli::Main(
            {"keps", "update", "--url", server.Url(), "--keplers", folder.Path(), "--if-older=24"},
            out, err);
        return std::tuple{code, out.str(), err.str()};
    };
    const auto [freshCode, freshOut, freshErr] = run();
    EXPECT_EQ(freshCode, cli::kExitOk) << freshErr;
    EXPECT_NE(freshOut.find("Element sets not fetched: the newest element file, " + older),
              std::string::npos)
        << freshOut;
    EXPECT_EQ(server.Requests(), 0);

    std::filesystem::last_write_time(older, std::filesystem::file_time_type::clock::now() -
                                                std::chrono::hours(25));
    const auto [staleCode, staleOut, staleErr] = run();
    EXPECT_EQ(staleCode, cli::kExitFailure);
    EXPECT_EQ(server.Requests(), 1);
    EXPECT_NE(staleErr.find(server.Url() + ": HTTP status 410 Gone"), std::string::npos)
        << staleErr;
}

} // namespace
} // namespace vantorel
