// Outputs are written where the user never sees them and appear under their final
// name only when complete: a file is written to an unnamed temporary in the output
// folder (O_TMPFILE; where the file system lacks it, a hidden name that carries the
// worker's pid) and then linked under the first free name of the numbering
// ("stem.ext", "stem (2).ext" ... "stem (9999).ext"), so a worker killed mid-write
// leaves nothing visible, and two jobs never take the same name: the name is chosen
// by the call that creates it, which fails on a name that exists.
// Limits: numbers up to 9999; a name longer than the file system allows (255 bytes
// at most) gets a shorter stem, cut at a UTF-8 character boundary.
#pragma once

#include <sys/types.h>

#include <string>
#include <string_view>

// The messages of a failed create and a failed write; converters whose formats have
// their own texts for these pass them.
struct OutputTexts {
    const char* create = "Couldn't create the output file";
    const char* write = "Couldn't write the output file (disk full?)";
};

// One output file being written. The destructor removes the temporary unless the
// file was published, so a failure or cancellation leaves nothing behind.
class OutputFile {
public:
    // Opens the temporary in `folder`. Throws ConvertError "Couldn't create the output file".
    OutputFile(std::string folder, std::string stem, std::string extension, OutputTexts texts = {});
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // The open descriptor of the temporary (read and write), for writers that stream.
    int Descriptor() const { return fd_; }
    // Appends bytes. Throws ConvertError "Couldn't write the output file (disk full?)".
    void Write(std::string_view bytes);
    // A path naming the temporary, for libraries that open their output by name: a hidden
    // name ending in the output's extension. Valid until Publish; the library must write
    // to that path, not replace it. Throws ConvertError "Couldn't create the output file".
    const std::string& TemporaryPath();
    // Gives the complete file its final name and returns the path. Throws ConvertError
    // "Couldn't write the output file (disk full?)", "Couldn't create the output file",
    // "Too many files with this name in the folder".
    std::string Publish();

private:
    void NameTemporary();  // gives an unnamed temporary its hidden name

    std::string folder_, stem_, extension_;
    std::string temporary_;  // the hidden name; empty while the file has none
    OutputTexts texts_;
    int fd_ = -1;
    bool published_ = false;
};

// Writes `bytes` as a new output beside the others and returns its final path.
std::string PublishOutput(std::string_view folder, std::string_view stem, std::string_view extension,
                          std::string_view bytes, OutputTexts texts = {});

// A folder of pages or frames, filled under a hidden name and renamed into place at
// the end. The destructor removes it with its contents unless it was published.
class OutputFolder {
public:
    // Throws ConvertError "Couldn't create the output folder".
    OutputFolder(std::string parent, std::string name);
    ~OutputFolder();
    OutputFolder(const OutputFolder&) = delete;
    OutputFolder& operator=(const OutputFolder&) = delete;

    // The hidden folder to write the files into (with exclusive creates).
    const std::string& Path() const { return temporary_; }
    // Creates the file `name` in the folder with `bytes` (never replacing one). Throws
    // ConvertError "Couldn't create the output file", "Couldn't write the output file (disk full?)".
    void WriteFile(std::string_view name, std::string_view bytes);
    // Renames the folder to the first free name of the numbering (no extension) and returns it.
    // Throws ConvertError "Couldn't create the output folder", "Too many files with this name in the folder".
    std::string Publish();

private:
    std::string parent_, name_, temporary_;
    bool published_ = false;
};

// The prefix of every hidden temporary: "." + this + the worker's pid + "-" ..., so that the
// runner can find and remove what a killed worker left.
inline constexpr std::string_view kTemporaryPrefix = ".quillaven-";

// Removes the hidden temporaries (files and folders with their contents) that the process
// `pid` left in `folder`. Symbolic links are removed, never followed. Returns how many
// entries of the folder were removed.
size_t RemoveTemporariesOf(const std::string& folder, pid_t pid);

// The name "stem (n)tail" (n > 1) or "stem tail" (n = 1), with the stem cut at a UTF-8
// character boundary so that the name has at most `nameMax` bytes; empty when even an
// empty stem does not fit.
std::string NumberedName(std::string_view stem, int n, std::string_view tail, size_t nameMax);
