// Outputs are written where the user never sees them and appear under their final
// name only when complete: a file is written to an unnamed or hidden temporary in
// the output folder and then linked under the first free name of the numbering
// ("stem.ext", "stem (2).ext" ... "stem (9999).ext"), so a worker killed mid-write
// leaves nothing visible, and two jobs never take the same name.
#pragma once

#include <string>
#include <string_view>

// One output file being written. The destructor removes the temporary unless the
// file was published, so a failure or cancellation leaves nothing behind.
class OutputFile {
public:
    // Opens the temporary in `folder`. Throws ConvertError "Couldn't create the output file".
    OutputFile(std::string folder, std::string stem, std::string extension);
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // The open descriptor of the temporary, for writers that stream.
    int Descriptor() const { return fd_; }
    // Appends bytes. Throws ConvertError "Couldn't write the output file (disk full?)".
    void Write(std::string_view bytes);
    // A path naming the temporary, for libraries that open their output by name.
    // Valid until Publish; the library must write to that path, not replace it.
    const std::string& TemporaryPath();
    // Gives the complete file its final name and returns the path. Throws ConvertError
    // "Couldn't write the output file (disk full?)", "Too many files with this name in the folder".
    std::string Publish();

private:
    std::string folder_, stem_, extension_;
    std::string temporary_;  // the hidden name; empty while the file has none
    int fd_ = -1;
    bool published_ = false;
};

// Writes `bytes` as a new output beside the others and returns its final path.
std::string PublishOutput(std::string_view folder, std::string_view stem, std::string_view extension,
                          std::string_view bytes);

// A folder of pages or frames, filled under a hidden name and renamed into place at
// the end. The destructor removes it with its contents unless it was published.
class OutputFolder {
public:
    // Throws ConvertError "Couldn't create the output folder".
    OutputFolder(std::string parent, std::string name);
    ~OutputFolder();
    OutputFolder(const OutputFolder&) = delete;
    OutputFolder& operator=(const OutputFolder&) = delete;

    // The hidden folder to write the files into (with WriteWholeFile-style exclusive creates).
    const std::string& Path() const { return temporary_; }
    // Renames the folder to the first free name of the numbering (no extension) and returns it.
    std::string Publish();

private:
    std::string parent_, name_, temporary_;
    bool published_ = false;
};

// The prefix of every hidden temporary: "." + this + the worker's pid + "-" ..., so that the
// runner can find and remove what a killed worker left.
inline constexpr std::string_view kTemporaryPrefix = ".quillaven-";
