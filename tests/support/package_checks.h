// Checks of what our writers produce, through independent tools (unzip, xmllint, pandoc,
// Python with openpyxl/odfpy), and the sample document the document writers share.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "convert/documents/document.h"
#include "support/test_support.h"

namespace testing_support {

inline Document Doc(std::vector<Block> blocks, std::vector<Table> tables = {}, bool preformatted = false) {
    return {u"", std::move(blocks), std::move(tables), preformatted};
}

// Every kind of block the document writers tell apart, text that needs escaping and a ragged table.
inline Document Sampler() {
    return {u"Sampler",
            {{u"Main title", 1}, {u"Intro <b> & \"q\" 'a' caf\u00e9 \u20ac \U0001F600 x"}, {u"Second", 2},
             {u"first line\nsecond line"}, {u"item one", 0, true}, {u"item two", 0, true, true}, {u""},
             {u"Third", 3}, {u"Too deep", 7}, {u"after the break", 0, false, true}},
            {{u"", {{u"Name", u"Qty"}, {u"pear", u"3"}, {u"fig"}}}}};
}

// The entry names in file order, read straight from the local headers, each marked when it is
// not stored or has an extra field (a reader sniffing "mimetype" wants neither).
inline std::vector<std::string> EntryNames(const std::string& path) {
    std::string bytes = ReadFile(path);
    auto little = [&](size_t at, size_t width) {
        uint32_t value = 0;
        for (size_t i = 0; i < width; ++i) value |= uint32_t(uint8_t(bytes[at + i])) << (8 * i);
        return value;
    };
    std::vector<std::string> names;
    for (size_t at = 0; at + 30 <= bytes.size() && little(at, 4) == 0x04034b50;) {
        size_t nameLength = little(at + 26, 2), extra = little(at + 28, 2);
        names.push_back(bytes.substr(at + 30, nameLength) + (little(at + 8, 2) || extra ? " (not plain)" : ""));
        at += 30 + nameLength + extra + little(at + 18, 4);
    }
    return names;
}
// One entry's data as unzip reads it.
inline std::string EntryData(const std::string& path, const std::string& name) {
    return RunCommand("unzip -p " + ShellQuote(path) + " " + ShellQuote(name)).output;
}

using Writer = std::string (*)(const Document&);
// What `writer` makes of `document`: the whole file, or the named entry of a package.
inline std::string Written(Writer writer, const Document& document, const std::string& entry = "") {
    if (entry.empty()) return writer(document);
    TempDir folder;
    WriteFile(folder.File("out"), writer(document));
    return EntryData(folder.File("out"), entry);
}

// "" when `unzip -t` accepts the package and xmllint finds every part it unpacks but "mimetype" well-formed.
inline std::string PackageProblems(const std::string& path) {
    TempDir folder;
    CommandResult run = RunCommand("unzip -tq " + ShellQuote(path) + " && unzip -q " + ShellQuote(path) + " -d " +
                                   folder.path() + " && find " + folder.path() +
                                   " -type f ! -name mimetype -exec xmllint --noout {} +");
    return run.exitCode ? run.output : "";
}

// What /usr/bin/python3 (the one with openpyxl and odfpy) prints for `code` run on `path`;
// a `code` ending in ".py" names a script under tests/support.
inline std::string Python(const std::string& code, const std::string& path) {
    std::string program = code.ends_with(".py") ? ShellQuote(std::string(QUILL_SOURCE_DIR) + "/tests/support/" + code)
                                                : "-c " + ShellQuote(code);
    CommandResult run = RunCommand("PYTHONIOENCODING=utf-8 /usr/bin/python3 " + program + " " + ShellQuote(path));
    EXPECT_EQ(run.exitCode, 0) << run.output;
    return run.output;
}

// pandoc's reading of a file in the format its extension names, one block per line (see pandoc_blocks.py).
inline std::string PandocBlocks(const std::string& path) { return Python("pandoc_blocks.py", path); }

inline size_t CountOf(std::string_view text, std::string_view part) {
    size_t count = 0;
    for (size_t at = text.find(part); at != text.npos; at = text.find(part, at + 1)) ++count;
    return count;
}

}  // namespace testing_support
