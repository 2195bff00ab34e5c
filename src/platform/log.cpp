#include "platform/log.h"

#include <syslog.h>

#include <atomic>
#include <climits>
#include <string>

namespace {

std::atomic<LogSink> g_sink{nullptr};

}  // namespace

void LogWarning(std::string_view text) {
    if (LogSink sink = g_sink.load()) {
        sink(text);
        return;
    }
    int length = text.size() > static_cast<size_t>(INT_MAX) ? INT_MAX : static_cast<int>(text.size());
    ::syslog(LOG_WARNING, "Quillaven: %.*s", length, text.data());
}

LogSink SetLogSink(LogSink sink) { return g_sink.exchange(sink); }
