// The update check: manifest reading, version comparison, what the host shows, and the
// network exchange against a local HTTPS server with a certificate made for the run.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "shell/update_check.h"
#include "support/desktop_services.h"

using namespace testing_support;
using std::chrono::milliseconds;
using Clock = std::chrono::steady_clock;

namespace {

double SecondsSince(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

}  // namespace

TEST(UpdateCheckTest, ManifestVersion) {
    const std::pair<std::string, std::string> cases[] = {
        {R"({"name": "Quillaven", "version": "1.2.0"})", "1.2.0"},
        {"{\"version\"\r\n\t :\n  \"2.0\"}", "2.0"},             // white space and line breaks around the colon
        {R"({"app": {"version":"3"}})", "3"},                     // anywhere, not only at the top
        {R"({"version": '1.3'})", ""},                            // single quotes are not a string
        {R"({"version": 1.3})", ""},
        {R"({"version" = "1.3"})", ""},
        {R"({"Version": "1.3"})", ""},
        {R"({"version"  "x", "version": "1.2"})", ""},           // only the first occurrence counts
        {R"({"version": "1.2)", ""},                             // no closing quote
        {R"("version")", ""},                                    // nine bytes, no value
        {R"("v":"1")", ""},                                      // shorter than nine bytes
        {R"({"version": ""})", ""},
        {R"({"version": "v1.2"})", ""},
        {R"({"version": "1..2"})", ""},
        {R"({"version": "1.x"})", ""},                           // a part without a leading digit
        {R"({"version": "4294967296.0"})", ""},                  // past 32 bits
        {R"({"version": "4294967295.0"})", "4294967295.0"},
        {R"({"version": "1.2beta"})", "1.2beta"},                // leading digits of each part
        {R"({"version": "1.2\"})", "1.2\\"},                     // no escapes: the string ends at the quote
        {"{\"version\": \"1.2\xFF\"}", "1.2\xEF\xBF\xBD"},       // invalid UTF-8 becomes U+FFFD
        {"\xEF\xBB\xBF{\"version\": \"5\"}", "5"},               // byte order mark
    };
    for (const auto& [manifest, version] : cases) EXPECT_EQ(ExtractManifestVersion(manifest), version) << manifest;
}

TEST(UpdateCheckTest, VersionComparison) {
    const struct {
        const char* remote;
        const char* local;
        bool newer;
    } cases[] = {
        {"1.2", "1.1.0", true},      {"1.1", "1.1.0", false},         {"1.1.0.1", "1.1.0", true},
        {"1.1.0.0.5", "1.1.0", false}, // cut to four numbers
        {"1.0.99", "1.1.0", false},  {"10.0", "9.0", true},           {"01.2", "1.1.0", true},
        {"2", "1.1.0", true},        {"1.1.0", "1.2", false},         {"4294967295", "1.1.0", true},
        {"", "1.1.0", false},        {"x", "1.1.0", false},           {"1.2", "", false},
        {"1.2beta", "1.1.9", true},  {"1.1.0", "1.1.0", false},
    };
    for (const auto& test : cases)
        EXPECT_EQ(IsNewer(test.remote, test.local), test.newer) << test.remote << " vs " << test.local;
    EXPECT_EQ(ParseVersion("7.0.4294967295"), (std::vector<uint32_t>{7, 0, 4294967295u}));
    EXPECT_EQ(ParseVersion("7."), std::nullopt);
}

TEST(UpdateCheckTest, WhatTheHostShows) {
    const struct {
        const char* found;
        bool manual;
        bool store;
        const char* available;
        const char* title;  // "" for no balloon
        const char* text;
    } cases[] = {
        {"1.2", false, true, "1.2", "Quillaven 1.2 is available", "Click here to open the download page."},
        {"1.2", true, true, "1.2", "Quillaven 1.2 is available", "Click here to open the download page."},
        {"1.1.0", true, true, "", "Quillaven is up to date", "You have the latest version, 1.1.0."},
        {"1.0", true, true, "", "Quillaven is up to date", "You have the latest version, 1.1.0."},
        {"1.1.0", false, true, "", "", ""},
        {"", true, false, "", "Couldn't check for updates", "The Quillaven website couldn't be reached."},
        {"", false, false, "", "", ""},
    };
    for (const auto& test : cases) {
        UpdateOutcome outcome = DecideUpdateOutcome(test.found, test.manual);
        std::string label = std::string(test.found) + (test.manual ? " manual" : " automatic");
        EXPECT_EQ(outcome.storeLastCheck, test.store) << label;
        EXPECT_EQ(outcome.availableVersion, test.available) << label;
        EXPECT_EQ(outcome.updateNotice, !std::string(test.available).empty()) << label;
        EXPECT_EQ(outcome.balloon.has_value(), *test.title != 0) << label;
        if (outcome.balloon) {
            EXPECT_EQ(outcome.balloon->title, test.title) << label;
            EXPECT_EQ(outcome.balloon->text, test.text) << label;
        }
    }
}

TEST(UpdateCheckTest, DailySchedule) {
    const int64_t now = 1767225600;
    const struct {
        bool on;
        int64_t last;
        bool website;
        bool due;
    } cases[] = {
        {true, 0, true, true},         {true, now - 86399, true, false}, {true, now - 86400, true, true},
        {false, 0, true, false},       {true, 0, false, false},          {true, now + 3600, true, true},
        {true, INT64_MIN, true, true}, {true, INT64_MAX, true, true},    {true, now, true, false},
    };
    for (const auto& test : cases)
        EXPECT_EQ(AutomaticCheckDue(test.on, test.last, now, test.website), test.due) << test.on << " " << test.last;
}

TEST(UpdateCheckTest, RealLimitsAndBuildWebsite) {
    FetchSettings defaults;
    EXPECT_EQ(defaults.connectTimeout, milliseconds(5000));
    EXPECT_EQ(defaults.totalTimeout, milliseconds(20000));
    EXPECT_EQ(defaults.caFile, "");
    EXPECT_EQ(kManifestCap, 4096u);
    EXPECT_EQ(kProgramVersion, "1.1.0");
    // Whatever was configured, it is off or an https folder address.
    std::string website(ProductWebsite());
    EXPECT_TRUE(website.empty() || (website.rfind("https://", 0) == 0 && website.back() == '/')) << website;
}

class UpdateFetchTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        if (!ToolAvailable("openssl") || !ToolAvailable("python3")) return;
        server_ = new HttpsServer();
        const std::pair<const char*, const char*> sites[] = {
            {"newer", R"({"version": "1.2"})"}, {"same", R"({"version": "1.1.0"})"},
            {"older", R"({"version": "1.0.9"})"}, {"malformed", R"({'version': '1.3'})"},
        };
        for (const auto& [site, manifest] : sites) {
            ::mkdir((server_->Root() + "/" + site).c_str(), 0700);
            WriteFile(server_->Root() + "/" + site + "/version.json", manifest);
        }
    }
    static void TearDownTestSuite() {
        delete server_;
        server_ = nullptr;
    }
    void SetUp() override {
        REQUIRE_TOOL("openssl");
        REQUIRE_TOOL("python3");
        ASSERT_TRUE(server_ && server_->Started());
        settings_.caFile = server_->Certificate();
        settings_.connectTimeout = milliseconds(2000);
        settings_.totalTimeout = milliseconds(1500);
    }
    std::string Fetch(const std::string& website) { return FetchLatestVersion(website, settings_, noAbort_); }

    static HttpsServer* server_;
    FetchSettings settings_;
    std::atomic<bool> noAbort_{false};
};

HttpsServer* UpdateFetchTest::server_ = nullptr;

TEST_F(UpdateFetchTest, AnswersOfTheWebsite) {
    const std::pair<std::string, std::string> cases[] = {
        {"newer/", "1.2"},
        {"same/", "1.1.0"},
        {"older/", "1.0.9"},
        {"malformed/", ""},
        {"missing/", ""},                 // 404
        {"status/404/", ""},              // a manifest in the body of an error is not read
        {"status/203/", ""},              // anything but 200
        {"redirect-to-https/", "1.2"},    // followed
        {"redirect-to-http/", ""},        // refused
        {"big/100000/100/", "9.9"},       // the cap ends the transfer; what was read is the body
        {"big/100000/4090/", ""},         // the member straddles the cap
        {"big/4096/4000/", "9.9"},        // exactly the cap
        {"big/100000/5000/", ""},         // beyond the cap
    };
    for (const auto& [site, version] : cases) EXPECT_EQ(Fetch(server_->Url(site)), version) << site;
    std::string log = server_->Log();
    EXPECT_NE(log.find("GET /newer/version.json\n"), std::string::npos) << log;
    // The redirect to plain HTTP was not followed: only the one that stayed on https was.
    size_t followed = 0;
    for (size_t at = 0; (at = log.find("GET /newer/version.json\n", at)) != std::string::npos; ++at) ++followed;
    EXPECT_EQ(followed, 2u) << log;
}

TEST_F(UpdateFetchTest, RefusesWhatIsNotVerifiedHttps) {
    EXPECT_EQ(Fetch(server_->HttpUrl("newer/")), "");
    EXPECT_EQ(Fetch("ftp://127.0.0.1/newer/"), "");
    EXPECT_EQ(Fetch("not an address/"), "");
    EXPECT_EQ(server_->Log(), "");  // refused before any request
    settings_.caFile.clear();       // the system's authorities do not know the test certificate
    EXPECT_EQ(Fetch(server_->Url("newer/")), "");
}

TEST_F(UpdateFetchTest, SlowServerIsCutAtTheTimeOutOrAtShutdown) {
    auto start = Clock::now();
    EXPECT_EQ(Fetch(server_->Url("slow/")), "");
    double waited = SecondsSince(start);
    EXPECT_GT(waited, 1.4);
    EXPECT_LT(waited, 6.0);

    settings_.totalTimeout = milliseconds(20000);
    std::atomic<bool> abort{false};
    std::string found = "unset";
    std::thread check([&] { found = FetchLatestVersion(server_->Url("slow/"), settings_, abort); });
    std::this_thread::sleep_for(milliseconds(300));
    start = Clock::now();
    abort = true;
    check.join();
    EXPECT_EQ(found, "");
    EXPECT_LT(SecondsSince(start), 3.0);  // the progress callback sees the flag within a second or so
}

TEST_F(UpdateFetchTest, CheckerRunsOneCheckAtATime) {
    std::mutex mutex;
    std::condition_variable arrived;
    std::vector<std::pair<std::string, bool>> results;
    auto done = [&](std::string version, bool manual) {
        std::lock_guard lock(mutex);
        results.emplace_back(std::move(version), manual);
        arrived.notify_all();
    };
    auto waitFor = [&](size_t count) {
        std::unique_lock lock(mutex);
        return arrived.wait_for(lock, std::chrono::seconds(10), [&] { return results.size() >= count; });
    };
    UpdateChecker off("", done, settings_);
    EXPECT_FALSE(off.Enabled());
    EXPECT_FALSE(off.Start(true));

    UpdateChecker checker(server_->Url("newer/"), done, settings_);
    ASSERT_TRUE(checker.Start(true));
    EXPECT_FALSE(checker.Start(false));  // running until the host handled the result
    ASSERT_TRUE(waitFor(1));
    EXPECT_FALSE(checker.Start(false));
    checker.ResultHandled();
    ASSERT_TRUE(checker.Start(false));
    ASSERT_TRUE(waitFor(2));
    EXPECT_EQ(results, (std::vector<std::pair<std::string, bool>>{{"1.2", true}, {"1.2", false}}));

    // Shutdown during a slow check: no answer, and no long wait.
    settings_.totalTimeout = milliseconds(20000);
    auto slow = std::make_unique<UpdateChecker>(server_->Url("slow/"), done, settings_);
    ASSERT_TRUE(slow->Start(true));
    std::this_thread::sleep_for(milliseconds(300));
    auto start = Clock::now();
    slow.reset();
    EXPECT_LT(SecondsSince(start), 3.0);
    std::lock_guard lock(mutex);
    EXPECT_EQ(results.size(), 2u);
}
