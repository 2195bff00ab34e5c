// The update check: once a day, or when the user asks, fetch "version.json" from the
// product website over HTTPS, take its "version" member and compare it with the
// program's own version. The website is fixed at build time; without one the check is off.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

inline constexpr std::string_view kProgramVersion = "1.1.0";
inline constexpr size_t kManifestCap = 4096;  // the manifest is a few lines; more is cut, not an error

// The website configured at build time ("" when the check is off).
std::string_view ProductWebsite();

// The version text in a manifest, or "" when it has none: the string after the first
// `"version"`, white space, a colon, white space and a double quote, up to the next
// double quote, without escapes; it must read as a version (ParseVersion).
std::string ExtractManifestVersion(std::string_view manifest);
// Numbers separated by "."; every part must start with a digit (read up to its first
// non-digit) and fit in 32 bits. Nothing otherwise.
std::optional<std::vector<uint32_t>> ParseVersion(std::string_view version);
// Remote is newer than local, both padded or cut to four numbers; false when either
// cannot be read.
bool IsNewer(std::string_view remote, std::string_view local);

// What the host does with a check's result (on its user-interface thread).
struct UpdateBalloon {
    std::string title;
    std::string text;
};
struct UpdateOutcome {
    bool storeLastCheck = false;     // write the current time as "LastUpdateCheck"
    std::string availableVersion;    // non-empty: remember it and offer the download in the tray menu
    std::optional<UpdateBalloon> balloon;
    bool updateNotice = false;       // the balloon is the update notice: a click opens the website
};
UpdateOutcome DecideUpdateOutcome(std::string_view found, bool manual);

inline constexpr int64_t kUpdateInterval = 86400;  // seconds between automatic checks
// The daily timer's question: is an automatic check due? A last check stamped in the
// future (a clock that was wrong) counts as due, or it would block checks until then.
bool AutomaticCheckDue(bool checkForUpdates, int64_t lastCheck, int64_t now, bool haveWebsite);

// The network exchange's limits; tests shorten the time-outs and trust their own certificate.
struct FetchSettings {
    std::chrono::milliseconds connectTimeout{5000};
    std::chrono::milliseconds totalTimeout{20000};
    std::string caFile;  // "" trusts the system's certificate authorities
};

// The whole exchange, blocking: the version in `website` + "version.json", or "" on any
// failure. `abort` (checked while waiting) ends it early with "".
std::string FetchLatestVersion(std::string_view website, const FetchSettings& settings,
                               const std::atomic<bool>& abort);

// Runs checks on a thread of their own, one at a time.
class UpdateChecker {
public:
    // Called on the check thread with the version found ("" on failure) and whether the
    // user asked for the check; the host posts it to its user-interface thread.
    using Completion = std::function<void(std::string version, bool manual)>;

    UpdateChecker(std::string website, Completion done, FetchSettings settings = {});
    ~UpdateChecker();  // aborts a running check and waits for its thread
    UpdateChecker(const UpdateChecker&) = delete;
    UpdateChecker& operator=(const UpdateChecker&) = delete;

    bool Enabled() const { return !website_.empty(); }
    // Starts a check unless the check is off or one is running (its result not yet
    // handled); returns whether it started.
    bool Start(bool manual);
    bool Running() const { return running_.load(); }
    // The host handled the last result: another check may start.
    void ResultHandled() { running_.store(false); }

private:
    std::string website_;
    Completion done_;
    FetchSettings settings_;
    std::atomic<bool> running_{false};
    std::atomic<bool> abort_{false};
    std::thread thread_;
};
