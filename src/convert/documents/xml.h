// A small, forgiving tag scanner for the XML and HTML met inside documents. It never
// fails: damaged markup gives less text, never an error. Names are matched literally
// with their prefixes ("w:p", "text:h"); there is no namespace resolution, DTD or
// validation. Bound: one pass, at most as many constructs as the text has bytes.
#pragma once

#include <string>
#include <string_view>

// Text between tags goes to `out`, entities decoded, only while `collecting` holds;
// the handler decides when that is.
struct TextSink {
    bool collecting = false;
    std::string out;
};

class XmlHandler {
public:
    virtual ~XmlHandler() = default;
    // `tag` is the raw text between "<" and ">"; a self-closing element is reported
    // once, with selfClosing true and closing false.
    virtual void OnTag(std::string_view name, std::string_view tag, bool closing, bool selfClosing) = 0;
};

void ScanXml(std::string_view text, XmlHandler& handler, TextSink& sink);

// Appends `bytes` to `out` with the XML and common HTML entities replaced.
void DecodeEntities(std::string_view bytes, std::string& out);

// The raw value of a double-quoted attribute preceded by a space, or empty.
std::string_view GetAttribute(std::string_view tag, std::string_view attributeName);

// Escapes text for XML and HTML content and double-quoted attribute values (UTF-8 out).
std::string EscapeXml(std::u16string_view text);
