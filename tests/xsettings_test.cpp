// XSETTINGS blocks and the resource database's Xft.dpi, as a settings daemon writes them.
#include <gtest/gtest.h>

#include <string>

#include "platform/x11/xsettings.h"

namespace {

// Builds a block: order byte 0 (little) or 1 (big), then settings appended by the helpers.
struct Block {
    bool big = false;
    std::string bytes;
    uint32_t count = 0;
    void U8(uint8_t v) { bytes.push_back(static_cast<char>(v)); }
    void U16(uint16_t v) {
        if (big) { U8(static_cast<uint8_t>(v >> 8)); U8(static_cast<uint8_t>(v)); }
        else { U8(static_cast<uint8_t>(v)); U8(static_cast<uint8_t>(v >> 8)); }
    }
    void U32(uint32_t v) {
        if (big) { U16(static_cast<uint16_t>(v >> 16)); U16(static_cast<uint16_t>(v)); }
        else { U16(static_cast<uint16_t>(v)); U16(static_cast<uint16_t>(v >> 16)); }
    }
    void Padded(const std::string& text) {
        bytes += text;
        while (bytes.size() % 4) U8(0);
    }
    void Head(uint8_t type, const std::string& name) {
        ++count;
        U8(type);
        U8(0);
        U16(static_cast<uint16_t>(name.size()));
        Padded(name);
        U32(7);  // last-change serial
    }
    void Int(const std::string& name, int32_t value) { Head(0, name); U32(static_cast<uint32_t>(value)); }
    void Text(const std::string& name, const std::string& value) {
        Head(1, name);
        U32(static_cast<uint32_t>(value.size()));
        Padded(value);
    }
    void Colour(const std::string& name) { Head(2, name); U16(1); U16(2); U16(3); U16(4); }
    std::string Finish(std::optional<uint32_t> claimedCount = std::nullopt) const {
        Block head;
        head.big = big;
        head.U8(big ? 1 : 0);
        head.U8(0); head.U8(0); head.U8(0);
        head.U32(42);
        head.U32(claimedCount.value_or(count));
        return head.bytes + bytes;
    }
};

TEST(XSettings, ParsesBothByteOrders) {
    for (bool big : {false, true}) {
        Block b;
        b.big = big;
        b.Int("Net/DoubleClickTime", 250);
        b.Text("Net/ThemeName", "Adwaita-dark");
        b.Text("Net/IconThemeName", "");
        b.Colour("Gtk/Colour");
        b.Int("Net/DndDragThreshold", -3);
        auto settings = ParseXSettings(b.Finish());
        ASSERT_TRUE(settings) << big;
        EXPECT_EQ(std::get<int32_t>(settings->at("Net/DoubleClickTime")), 250);
        EXPECT_EQ(std::get<std::string>(settings->at("Net/ThemeName")), "Adwaita-dark");
        EXPECT_EQ(std::get<std::string>(settings->at("Net/IconThemeName")), "");
        EXPECT_EQ(std::get<XSettingsColor>(settings->at("Gtk/Colour")), (XSettingsColor{1, 2, 3, 4}));
        EXPECT_EQ(std::get<int32_t>(settings->at("Net/DndDragThreshold")), -3);
    }
}

TEST(XSettings, RefusesMalformedBlocks) {
    Block good;
    good.Text("Net/ThemeName", "Adwaita");
    std::string valid = good.Finish();
    ASSERT_TRUE(ParseXSettings(valid));

    std::string badOrder = valid;
    badOrder[0] = 'l';
    Block badType;
    badType.Head(3, "X");
    badType.U32(0);
    Block emptyName;
    emptyName.Head(0, "");
    emptyName.U32(1);
    Block longString;
    longString.Head(1, "Net/ThemeName");
    longString.U32(1000);  // says 1000 bytes, has none
    const std::string cases[] = {
        "",
        valid.substr(0, 11),                   // shorter than the header
        badOrder,
        valid.substr(0, valid.size() - 4),     // the string's padding cut off
        good.Finish(2),                        // claims a second setting that is not there
        good.Finish(kMaxXSettings + 1),        // over the count limit
        badType.Finish(),
        emptyName.Finish(),
        longString.Finish(),
        std::string(kMaxXSettingsBytes + 1, '\0'),
    };
    for (size_t i = 0; i < std::size(cases); ++i) EXPECT_FALSE(ParseXSettings(cases[i])) << i;
}

TEST(XSettings, XftDpiAndDarkThemeNames) {
    std::pair<const char*, std::optional<double>> dpis[] = {
        {"Xft.dpi:\t96\n", 96.0},
        {"Xft.antialias:\t1\nXft.dpi:\t192\nXft.hinting:\t1\n", 192.0},
        {"Xft.dpi: 120", 120.0},
        {"Xft.dpi:\t96\nXft.dpi:\t144\n", 144.0},  // the last line wins
        {"Xft.dpi:\t144\nXft.dpi:\tbig\n", std::nullopt},
        {"Xft.dpi:\t10\n", std::nullopt},          // outside 24..960
        {"Xft.dpi:\t1e9\n", std::nullopt},
        {"xft.dpi:\t96\n", std::nullopt},          // resource names are case-sensitive
        {"", std::nullopt},
    };
    for (auto [text, dpi] : dpis) EXPECT_EQ(ParseXftDpi(text), dpi) << text;
    std::pair<const char*, bool> themes[] = {{"Adwaita-dark", true}, {"Arc-Dark", true},   {"Adwaita:dark", true},
                                             {"Adwaita", false},     {"dark", false},      {"Darkly", false},
                                             {"-dark", true},        {"Adwaita:light", false}};
    for (auto [name, dark] : themes) EXPECT_EQ(ThemeNameIsDark(name), dark) << name;
}

}  // namespace
