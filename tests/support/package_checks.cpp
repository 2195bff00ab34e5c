#include "support/package_checks.h"

#include <gtest/gtest.h>

namespace testing_support {

namespace {

constexpr uint32_t kLocalHeaderSignature = 0x04034b50;
constexpr size_t kLocalHeaderSize = 30;

uint32_t Little(const std::string& bytes, size_t at, size_t width) {
    uint32_t value = 0;
    for (size_t i = 0; i < width; ++i) value |= uint32_t(uint8_t(bytes[at + i])) << (8 * i);
    return value;
}

std::string SupportScript(std::string_view name) {
    return std::string(QUILL_SOURCE_DIR) + "/tests/support/" + std::string(name);
}

}  // namespace

std::vector<LocalEntry> LocalEntries(const std::string& bytes) {
    std::vector<LocalEntry> entries;
    size_t at = 0;
    while (at + kLocalHeaderSize <= bytes.size() && Little(bytes, at, 4) == kLocalHeaderSignature) {
        LocalEntry entry;
        entry.flags = uint16_t(Little(bytes, at + 6, 2));
        entry.method = uint16_t(Little(bytes, at + 8, 2));
        entry.date = uint16_t(Little(bytes, at + 12, 2));
        size_t size = Little(bytes, at + 18, 4);
        size_t nameLength = Little(bytes, at + 26, 2);
        entry.extraLength = uint16_t(Little(bytes, at + 28, 2));
        size_t nameStart = at + kLocalHeaderSize;
        size_t dataStart = nameStart + nameLength + entry.extraLength;
        if (dataStart + size > bytes.size()) break;
        entry.name = bytes.substr(nameStart, nameLength);
        entry.data = bytes.substr(dataStart, size);
        entries.push_back(std::move(entry));
        at = dataStart + size;
    }
    return entries;
}

std::string EntryData(const std::string& packagePath, std::string_view name) {
    for (auto& entry : LocalEntries(ReadFile(packagePath)))
        if (entry.name == name) return std::move(entry.data);
    ADD_FAILURE() << "no entry " << name << " in " << packagePath;
    return {};
}

std::string XmlProblems(std::string_view xml) {
    TempDir folder;
    std::string file = folder.File("part.xml");
    WriteFile(file, xml);
    CommandResult result = RunCommand("xmllint --noout " + ShellQuote(file));
    return result.exitCode == 0 ? std::string() : result.output;
}

std::string PackageProblems(const std::string& packagePath) {
    std::string problems;
    CommandResult unzip = RunCommand("unzip -tq " + ShellQuote(packagePath));
    if (unzip.exitCode != 0) problems += "unzip -t: " + unzip.output;
    for (const auto& entry : LocalEntries(ReadFile(packagePath))) {
        std::string_view name = entry.name;
        if (!name.ends_with(".xml") && !name.ends_with(".rels")) continue;
        std::string xml = XmlProblems(entry.data);
        if (!xml.empty()) problems += entry.name + ": " + xml;
    }
    return problems;
}

CommandResult RunPythonScript(std::string_view script, const std::string& argument) {
    return RunCommand("PYTHONIOENCODING=utf-8 /usr/bin/python3 " + ShellQuote(SupportScript(script)) + " " +
                      ShellQuote(argument));
}

CommandResult PandocBlocks(const std::string& path, std::string_view format) {
    return RunCommand("pandoc -f " + std::string(format) + " -t json " + ShellQuote(path) +
                      " | PYTHONIOENCODING=utf-8 /usr/bin/python3 " + ShellQuote(SupportScript("pandoc_blocks.py")));
}

size_t CountOf(std::string_view text, std::string_view part) {
    size_t count = 0;
    for (size_t at = text.find(part); at != text.npos; at = text.find(part, at + part.size())) ++count;
    return count;
}

}  // namespace testing_support
