// `Quillaven --convert <file> <format> [option]`: one job through a worker, its
// outputs printed one per line.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// `args` are the arguments after --convert. Returns the process exit code: 0 success,
// 1 failed or cancelled, 2 too few arguments or an unknown format.
int RunCommandLineConversion(const std::vector<std::string>& args);

// The option argument read as a decimal integer: leading white space skipped, an
// optional sign, digits up to the first non-digit; no digits gives 0; out of range
// saturates.
int32_t ParseOptionNumber(std::string_view text);

// The argument as an absolute path: joined to the working folder when relative, with
// "." and ".." left for the kernel to resolve; unchanged when that cannot be made.
std::string FullPathOf(const std::string& argument);
