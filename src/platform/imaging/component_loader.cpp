#include <dlfcn.h>

#include "convert/core/paths.h"
#include "convert/core/process.h"
#include "platform/imaging/component.h"

namespace imaging {
namespace {

ImagingComponent* OpenComponent(const std::string& path) {
    // Never unloaded: the codec libraries keep tables that only their own globals reach.
    void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) return nullptr;
    auto entry = reinterpret_cast<ComponentEntry>(::dlsym(handle, kComponentEntryName));
    return entry ? entry(kComponentInterfaceVersion) : nullptr;
}

}  // namespace

ImagingComponent* LoadImagingComponent() {
    static ImagingComponent* component = [] {
        if (ImagingComponent* found = OpenComponent(JoinPath(FolderOf(ModulePath()), kComponentFileName))) return found;
#ifdef QUILL_IMAGING_COMPONENT
        return OpenComponent(QUILL_IMAGING_COMPONENT);
#else
        return static_cast<ImagingComponent*>(nullptr);
#endif
    }();
    return component;
}

}  // namespace imaging

#if defined(__SANITIZE_ADDRESS__)
#define QUILL_LEAK_CHECKS 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QUILL_LEAK_CHECKS 1
#endif
#endif

#ifdef QUILL_LEAK_CHECKS
// Sanitizer builds only: memory the codec libraries keep for the life of the process
// (fontconfig's caches, x265's encoder tables) or drop on a refused document (libxml2's
// entity values) is theirs, not a leak of ours.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libfontconfig.so\nleak:libxml2.so\nleak:libx265.so\n";
}
#endif
