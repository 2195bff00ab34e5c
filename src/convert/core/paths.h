// Path helpers. Paths are UTF-8 byte strings exactly as the file system holds them,
// with "/" as the only separator.
#pragma once

#include <string>
#include <string_view>

// The text after the last "." when that dot follows the last separator, lower-cased; else "".
std::string ExtensionOf(std::string_view path);
// The text before the last separator ("/" for a file in the root); "." when there is none.
std::string FolderOf(std::string_view path);
// The text after the last separator; the whole path when there is none.
std::string FileNameOf(std::string_view path);
// The file name up to its last "."; the whole name when it has no dot or only a leading one.
std::string StemOf(std::string_view path);
// folder + "/" + name (no doubled separator); just name when the folder is empty.
std::string JoinPath(std::string_view folder, std::string_view name);

// The stem of an output for `input`: the input's stem, plus one space and the suffix when there is one.
std::string OutputStem(std::string_view input, std::string_view suffix);
