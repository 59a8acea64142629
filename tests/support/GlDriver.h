#pragma once
// Tests that open the SDL window, under LeakSanitizer. The window's renderer
// loads the system's GL driver (under Xvfb, Mesa's software rasteriser
// swrast_dri.so), which keeps allocations for the life of the process and is
// unloaded when SDL shuts its video down. At the leak check its allocations
// are then unreachable and come from an unloaded module, which no
// suppression can name. Loading the driver first with RTLD_NODELETE keeps it
// mapped until the process ends: its data, which points to what it keeps,
// is still there for LeakSanitizer to scan, so nothing of it is reported and
// no suppression is needed. Other builds need none of this.

#include <dlfcn.h>

#include <cstdlib>
#include <cstring>
#include <string>

namespace testing_support {

inline void KeepGlDriverLoaded()
{
#if defined(TIRAVEX_SANITIZED)
    static const bool kept = [] {
        // The drivers' folder: $LIBGL_DRIVERS_PATH's first entry, else "dri"
        // beside the GL library.
        std::string folder;
        if (const char* paths = std::getenv("LIBGL_DRIVERS_PATH"); paths && *paths) {
            folder.assign(paths, std::strcspn(paths, ":"));
        } else if (void* gl = ::dlopen("libGL.so.1", RTLD_LAZY | RTLD_NODELETE)) {
            Dl_info info {};
            void* symbol = ::dlsym(gl, "glXGetProcAddress");
            if (symbol && ::dladdr(symbol, &info) && info.dli_fname) {
                std::string library = info.dli_fname;
                folder = library.substr(0, library.rfind('/')) + "/dri";
            }
        }
        return !folder.empty() && ::dlopen((folder + "/swrast_dri.so").c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE) != nullptr;
    }();
    (void)kept;
#endif
}

}
