#include "platform/system_services.h"

#include <sys/random.h>

#include <cerrno>
#include <cstring>

std::optional<std::string> RandomUuid() {
    uint8_t bytes[16];
    size_t got = 0;
    while (got < sizeof bytes) {
        // GRND_NONBLOCK: an identifier is not worth waiting for an unseeded pool at boot.
        ssize_t result = ::getrandom(bytes + got, sizeof bytes - got, GRND_NONBLOCK);
        if (result < 0 && errno == EINTR) continue;
        if (result <= 0) return std::nullopt;
        got += static_cast<size_t>(result);
    }
    return FormatUuidV4(bytes);
}

std::string FormatUuidV4(const uint8_t (&input)[16]) {
    uint8_t bytes[16];
    std::memcpy(bytes, input, sizeof bytes);
    bytes[6] = static_cast<uint8_t>((bytes[6] & 0x0F) | 0x40);  // version 4: random
    bytes[8] = static_cast<uint8_t>((bytes[8] & 0x3F) | 0x80);  // variant 1
    static constexpr char kHex[] = "0123456789abcdef";
    std::string text;
    text.reserve(36);
    for (size_t i = 0; i < sizeof bytes; ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10) text.push_back('-');
        text.push_back(kHex[bytes[i] >> 4]);
        text.push_back(kHex[bytes[i] & 0x0F]);
    }
    return text;
}

std::optional<std::tm> CurrentUtcTime() {
    struct timespec now;
    if (::clock_gettime(CLOCK_REALTIME, &now) != 0) return std::nullopt;
    std::tm parts{};
    time_t seconds = now.tv_sec;
    if (!::gmtime_r(&seconds, &parts)) return std::nullopt;
    return parts;
}
