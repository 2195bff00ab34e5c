// PDF input over damaged files: the bytes are saved as a PDF in a private folder and go
// through the text reader (without recognition) and the page export. Each may only fail with its own
// ConvertError, Cancelled, or the RAM limit's std::bad_alloc, and the export leaves
// nothing beside the input.
#include <stdlib.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <new>

#include "convert/core/errors.h"
#include "convert/documents/readers.h"
#include "convert/pdf/pdf_pages.h"
#include "platform/file_io.h"

namespace {

std::string* g_folder = nullptr;  // never freed: the exit handler still needs it

void RemoveFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(*g_folder, ignored);
}

const std::string& Folder() {
    if (!g_folder) {
        std::string pattern = (std::filesystem::temp_directory_path() / "quillaven-fuzz-XXXXXX").string();
        if (!::mkdtemp(pattern.data())) std::abort();
        g_folder = new std::string(pattern);
        std::atexit(RemoveFolder);
    }
    return *g_folder;
}

// True when the action succeeded, false when it failed in one of the allowed ways.
template <typename Action>
bool Survive(Action action) {
    try {
        action();
        return true;
    } catch (const ConvertError&) {
    } catch (const Cancelled&) {
    } catch (const std::bad_alloc&) {
    }
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string input = Folder() + "/input.pdf";
    ::unlink(input.c_str());
    int error = 0;
    if (WriteNewFile(input, std::string_view(reinterpret_cast<const char*>(data), size), error) != NewFileResult::kWritten)
        std::abort();
    // No recognition language (the folder holds no language data): recognition is the
    // recogniser's own business and takes seconds a page, while what is under test here
    // is loading, text layers and rendering.
    ::setenv("TESSDATA_PREFIX", Folder().c_str(), 1);
    // A RAM limit as a worker has one, so that the render estimate is exercised too.
    LiveLimits limits;
    LimitSettings settings;
    settings.RamMB = 1024;
    limits.Set(settings);
    ConvertContext context;
    context.limits = &limits;
    Survive([&] { ReadPdfText(input, context); });
    // Pages encode to nothing: the renderer is under test, not an encoder.
    const bool exported = Survive([&] {
        ExportPdfPages(input, Target{kPng, 0, ""}, context, [](const images::PixelBuffer&) { return std::string(); });
    });
    for (const auto& entry : std::filesystem::directory_iterator(Folder())) {
        if (entry.path() == input) continue;
        if (!exported) std::abort();  // a failed export left something behind
        std::filesystem::remove_all(entry.path());
    }
    return 0;
}
