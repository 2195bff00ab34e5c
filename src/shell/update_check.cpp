// Update check over HTTPS with libcurl. Limits: the manifest is read up to 4,096 bytes
// (the cap ends the transfer and what was read counts as the whole body); connecting
// may take 5 s and the whole exchange 20 s; redirects are followed only to https, at
// most 10 of them; anything but a 200 answer fails without reading its body.
#include "shell/update_check.h"

#include <curl/curl.h>

#include <algorithm>
#include <charconv>
#include <cstring>
#include <mutex>
#include <system_error>

#include "convert/core/text.h"

#ifndef QUILL_WEBSITE
#define QUILL_WEBSITE ""
#endif

namespace {

constexpr std::string_view kMember = "\"version\"";
constexpr size_t kShortestManifest = 9;  // `"version"` alone; anything shorter cannot hold the member
constexpr size_t kVersionNumbers = 4;    // versions compare as four numbers
constexpr long kMaxRedirects = 10;       // a site moves once or twice; a loop ends here
constexpr const char* kManifestName = "version.json";
constexpr const char* kUserAgent = "Quillaven";

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

size_t SkipBlanks(std::string_view text, size_t at) {
    while (at < text.size() && IsBlank(text[at])) ++at;
    return at;
}

struct Transfer {
    CURL* easy = nullptr;
    std::string body;
    bool capped = false;    // the cap ended the transfer: the body is complete
    bool refused = false;   // an answer other than 200: its body is not read
    const std::atomic<bool>* abort = nullptr;
};

size_t OnBody(char* data, size_t size, size_t count, void* user) {
    auto* transfer = static_cast<Transfer*>(user);
    long status = 0;
    curl_easy_getinfo(transfer->easy, CURLINFO_RESPONSE_CODE, &status);
    if (status != 200) {
        transfer->refused = true;
        return 0;
    }
    size_t bytes = size * count;
    size_t take = std::min(bytes, kManifestCap - transfer->body.size());
    transfer->body.append(data, take);
    if (take < bytes) transfer->capped = true;
    return take;
}

int OnProgress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    return static_cast<Transfer*>(user)->abort->load() ? 1 : 0;
}

struct CurlHandles {
    CURLU* url = curl_url();
    CURL* easy = curl_easy_init();
    ~CurlHandles() {
        curl_easy_cleanup(easy);
        curl_url_cleanup(url);
    }
};

}  // namespace

std::string_view ProductWebsite() { return QUILL_WEBSITE; }

std::optional<std::vector<uint32_t>> ParseVersion(std::string_view version) {
    std::vector<uint32_t> numbers;
    for (const std::string& part : Split(version, '.')) {
        uint32_t number = 0;
        auto [end, error] = std::from_chars(part.data(), part.data() + part.size(), number);
        if (error != std::errc() || part.empty() || part[0] < '0' || part[0] > '9') return std::nullopt;
        numbers.push_back(number);
    }
    return numbers;
}

std::string ExtractManifestVersion(std::string_view manifest) {
    if (manifest.size() < kShortestManifest) return {};
    size_t at = manifest.find(kMember);
    if (at == std::string_view::npos) return {};
    at = SkipBlanks(manifest, at + kMember.size());
    if (at >= manifest.size() || manifest[at] != ':') return {};
    at = SkipBlanks(manifest, at + 1);
    if (at >= manifest.size() || manifest[at] != '"') return {};
    size_t end = manifest.find('"', at + 1);
    if (end == std::string_view::npos) return {};
    std::string version = WideToUtf8(Utf8ToWide(manifest.substr(at + 1, end - at - 1)));
    return ParseVersion(version) ? version : std::string();
}

bool IsNewer(std::string_view remote, std::string_view local) {
    auto theirs = ParseVersion(remote);
    auto ours = ParseVersion(local);
    if (!theirs || !ours) return false;
    theirs->resize(kVersionNumbers, 0);
    ours->resize(kVersionNumbers, 0);
    return *theirs > *ours;
}

UpdateOutcome DecideUpdateOutcome(std::string_view found, bool manual) {
    UpdateOutcome outcome;
    outcome.storeLastCheck = !found.empty();
    std::string own(kProgramVersion);
    if (IsNewer(found, kProgramVersion)) {
        outcome.availableVersion = std::string(found);
        outcome.balloon = UpdateBalloon{"Quillaven " + outcome.availableVersion + " is available",
                                        "Click here to open the download page."};
        outcome.updateNotice = true;
    } else if (manual && !found.empty()) {
        outcome.balloon = UpdateBalloon{"Quillaven is up to date", "You have the latest version, " + own + "."};
    } else if (manual) {
        outcome.balloon = UpdateBalloon{"Couldn't check for updates", "The Quillaven website couldn't be reached."};
    }
    return outcome;
}

bool AutomaticCheckDue(bool checkForUpdates, int64_t lastCheck, int64_t now, bool haveWebsite) {
    if (!checkForUpdates || !haveWebsite) return false;
    if (lastCheck > now) return true;
    return static_cast<uint64_t>(now) - static_cast<uint64_t>(lastCheck) >= static_cast<uint64_t>(kUpdateInterval);
}

std::string FetchLatestVersion(std::string_view website, const FetchSettings& settings,
                               const std::atomic<bool>& abort) {
    static std::once_flag initialized;
    std::call_once(initialized, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });

    CurlHandles handles;
    if (!handles.url || !handles.easy) return {};
    std::string address = std::string(website) + kManifestName;
    char* scheme = nullptr;
    bool https = curl_url_set(handles.url, CURLUPART_URL, address.c_str(), 0) == CURLUE_OK &&
                 curl_url_get(handles.url, CURLUPART_SCHEME, &scheme, 0) == CURLUE_OK &&
                 std::strcmp(scheme, "https") == 0;
    curl_free(scheme);
    if (!https) return {};

    Transfer transfer;
    transfer.easy = handles.easy;
    transfer.abort = &abort;
    CURL* easy = handles.easy;
    bool ready = curl_easy_setopt(easy, CURLOPT_CURLU, handles.url) == CURLE_OK &&
                 curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "https") == CURLE_OK &&
                 curl_easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS_STR, "https") == CURLE_OK &&
                 curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 1L) == CURLE_OK &&
                 curl_easy_setopt(easy, CURLOPT_MAXREDIRS, kMaxRedirects) == CURLE_OK &&
                 curl_easy_setopt(easy, CURLOPT_USERAGENT, kUserAgent) == CURLE_OK &&
                 curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L) == CURLE_OK &&
                 curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, long(settings.connectTimeout.count())) == CURLE_OK &&
                 curl_easy_setopt(easy, CURLOPT_TIMEOUT_MS, long(settings.totalTimeout.count())) == CURLE_OK &&
                 curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, OnBody) == CURLE_OK &&
                 curl_easy_setopt(easy, CURLOPT_WRITEDATA, &transfer) == CURLE_OK &&
                 curl_easy_setopt(easy, CURLOPT_XFERINFOFUNCTION, OnProgress) == CURLE_OK &&
                 curl_easy_setopt(easy, CURLOPT_XFERINFODATA, &transfer) == CURLE_OK &&
                 curl_easy_setopt(easy, CURLOPT_NOPROGRESS, 0L) == CURLE_OK &&
                 (settings.caFile.empty() || curl_easy_setopt(easy, CURLOPT_CAINFO, settings.caFile.c_str()) == CURLE_OK);
    if (!ready) return {};
    CURLcode result = curl_easy_perform(easy);
    bool complete = result == CURLE_OK || (result == CURLE_WRITE_ERROR && transfer.capped && !transfer.refused);
    long status = 0;
    curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &status);
    if (!complete || status != 200 || abort.load()) return {};
    return ExtractManifestVersion(transfer.body);
}

UpdateChecker::UpdateChecker(std::string website, Completion done, FetchSettings settings)
    : website_(std::move(website)), done_(std::move(done)), settings_(std::move(settings)) {}

UpdateChecker::~UpdateChecker() {
    abort_.store(true);
    if (thread_.joinable()) thread_.join();
}

bool UpdateChecker::Start(bool manual) {
    if (!Enabled()) return false;
    bool idle = false;
    if (!running_.compare_exchange_strong(idle, true)) return false;
    if (thread_.joinable()) thread_.join();  // the last check ended before its result was handled
    try {
        thread_ = std::thread([this, manual] {
            std::string version = FetchLatestVersion(website_, settings_, abort_);
            // At shutdown nobody waits for the answer.
            if (!abort_.load() && done_) done_(std::move(version), manual);
        });
    } catch (const std::system_error&) {
        running_.store(false);
        return false;
    }
    return true;
}
