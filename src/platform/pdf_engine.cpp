#include "platform/pdf_engine.h"

#include <dlfcn.h>

#include "convert/core/paths.h"
#include "convert/core/process.h"

namespace pdfengine {
namespace {

constexpr const char* kModuleName = "quillaven-pdf.so";

Engine* OpenModule(const std::string& path) {
    // Never closed: the libraries' start-up allocates tables that only their own globals
    // point to, and their documents' code must stay mapped while they live.
    void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) return nullptr;
    auto entry = reinterpret_cast<EntryPoint>(::dlsym(handle, kEntryPoint));
    return entry ? entry() : nullptr;
}

}  // namespace

Engine* LoadEngine() {
    static Engine* const engine = [] {
        // Installed, the module sits beside the program; the tests, fuzz replays and
        // benchmarks of a build tree run from its subfolders and find it at the top.
        if (Engine* found = OpenModule(JoinPath(FolderOf(ModulePath()), kModuleName))) return found;
        return OpenModule(JoinPath(QUILL_MODULE_DIR, kModuleName));
    }();
    return engine;
}

}  // namespace pdfengine
