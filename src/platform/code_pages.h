// Legacy 8-bit and double-byte code pages to UTF-16: the Windows code pages that old
// RTF files and unmarked text files are written in. Single-byte pages (437, 850, 852,
// 866, 874, 1250 to 1258, 10000 Mac Roman) use our own tables; double-byte Far East
// pages (932, 936, 949, 950) and any other number the C library knows go through
// iconv; 65001 is UTF-8. An unknown code page reads as Windows-1252.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

inline constexpr uint32_t kWindowsLatin1 = 1252;  // stands in for the system's ANSI code page
inline constexpr uint32_t kUtf8CodePage = 65001;  // some RTF writers declare UTF-8 bytes this way

class CodePageDecoder {
public:
    explicit CodePageDecoder(uint32_t codePage);
    ~CodePageDecoder();
    CodePageDecoder(const CodePageDecoder&) = delete;
    CodePageDecoder& operator=(const CodePageDecoder&) = delete;

    uint32_t CodePage() const { return codePage_; }
    // Appends `bytes`, a run of text in this code page, to `out`. Bytes that the code
    // page does not define become U+FFFD; a double-byte character cut at the end of the
    // run is one U+FFFD.
    void Append(std::string_view bytes, std::u16string& out);

private:
    struct Converter;
    uint32_t codePage_;
    const char16_t* table_ = nullptr;  // upper half of a single-byte page
    std::unique_ptr<Converter> converter_;
};

// Text in the system's ANSI code page (Windows-1252 here), as UTF-16.
std::u16string AnsiToWide(std::string_view bytes);

// The Windows-1252 byte for a character at U+00A0 or above, or 0 when the page has none.
uint8_t WindowsLatin1Byte(char16_t c);

// The code page of an RTF \fcharset value, or 0 when the font set names none.
uint32_t CodePageOfCharset(int32_t charset);
