#include "platform/x11/xsettings.h"

#include <charconv>
#include <span>

#include "convert/core/byte_reader.h"

namespace {
constexpr uint8_t LSBFirst = 0;  // the byte-order values of X11 connection setup
constexpr uint8_t MSBFirst = 1;
}  // namespace

namespace {

constexpr size_t kMaxNameBytes = 1024;  // names are short paths such as "Net/ThemeName"

size_t Pad4(size_t n) { return (n + 3) & ~size_t{3}; }

// The reader reads little-endian; a big-endian block swaps here.
struct Fields {
    ByteReader& reader;
    bool big;
    uint16_t U16() { return big ? reader.U16BE() : reader.U16LE(); }
    uint32_t U32() { return big ? reader.U32BE() : reader.U32LE(); }
};

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
        if (x != y) return false;
    }
    return true;
}

}  // namespace

std::optional<XSettingsMap> ParseXSettings(std::string_view bytes) {
    if (bytes.size() > kMaxXSettingsBytes || bytes.size() < 12) return std::nullopt;
    std::span<const uint8_t> data(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    ByteReader reader(data);
    uint8_t order = reader.U8();
    if (order != LSBFirst && order != MSBFirst) return std::nullopt;
    Fields fields{reader, order == MSBFirst};
    reader.Skip(3);
    fields.U32();  // serial
    uint32_t count = fields.U32();
    if (count > kMaxXSettings) return std::nullopt;
    XSettingsMap settings;
    for (uint32_t i = 0; i < count; ++i) {
        uint8_t type = reader.U8();
        reader.Skip(1);
        uint16_t nameLength = fields.U16();
        if (nameLength == 0 || nameLength > kMaxNameBytes) return std::nullopt;
        auto name = reader.Bytes(Pad4(nameLength));
        fields.U32();  // last-change serial
        if (!reader.Ok()) return std::nullopt;
        std::string key(reinterpret_cast<const char*>(name.data()), nameLength);
        XSettingsValue value;
        if (type == 0) {
            value = static_cast<int32_t>(fields.U32());
        } else if (type == 1) {
            uint32_t length = fields.U32();
            if (!reader.Ok() || length > reader.Remaining()) return std::nullopt;
            auto text = reader.Bytes(Pad4(length));
            value = std::string(reinterpret_cast<const char*>(text.data()), length);
        } else if (type == 2) {
            XSettingsColor color;
            color.red = fields.U16();
            color.blue = fields.U16();
            color.green = fields.U16();
            color.alpha = fields.U16();
            value = color;
        } else {
            return std::nullopt;
        }
        if (!reader.Ok()) return std::nullopt;
        settings.insert_or_assign(std::move(key), std::move(value));
    }
    return settings;
}

std::optional<double> ParseXftDpi(std::string_view resources) {
    std::optional<double> dpi;
    while (!resources.empty()) {
        size_t end = resources.find('\n');
        std::string_view line = resources.substr(0, end);
        resources = end == std::string_view::npos ? std::string_view() : resources.substr(end + 1);
        constexpr std::string_view kKey = "Xft.dpi:";
        if (line.substr(0, kKey.size()) != kKey) continue;
        line.remove_prefix(kKey.size());
        while (!line.empty() && (line.front() == ' ' || line.front() == '\t')) line.remove_prefix(1);
        while (!line.empty() && (line.back() == ' ' || line.back() == '\t' || line.back() == '\r')) line.remove_suffix(1);
        double value = 0;
        auto [next, error] = std::from_chars(line.data(), line.data() + line.size(), value);
        if (error != std::errc() || next != line.data() + line.size() || !(value >= 24 && value <= 960)) {
            dpi.reset();  // a later bad line replaces an earlier good one, as the database would
            continue;
        }
        dpi = value;
    }
    return dpi;
}

bool ThemeNameIsDark(std::string_view name) {
    if (name.size() >= 5 && EqualsIgnoringCase(name.substr(name.size() - 5), "-dark")) return true;
    size_t colon = name.rfind(':');
    return colon != std::string_view::npos && EqualsIgnoringCase(name.substr(colon + 1), "dark");
}
