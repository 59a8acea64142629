// tiravex-register [--unregister]: makes the control known in the
// registration store (or removes it) and prints the result.

#include "control/Registration.h"
#include "sys/Registry.h"

#include <cstdio>
#include <cstring>

namespace {

constexpr const char* kUsage =
    "Usage: tiravex-register [--unregister]\n"
    "\n"
    "Registers the Tiravex control in the registration store (its class, type library, interfaces and\n"
    "categories), or with --unregister removes it, and prints the result: 0x00000000 on success.\n"
    "The store is ${XDG_CONFIG_HOME:-~/.config}/tiravex/registry, or the file named by TIRAVEX_REGISTRY.\n"
    "\n"
    "  --unregister                 remove the control's entries instead\n"
    "  --help                       this text\n";

}

int main(int argc, char** argv)
{
    if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        std::printf("%s", kUsage);
        return 0;
    }
    const bool unregister = argc == 2 && std::strcmp(argv[1], "--unregister") == 0;
    if (argc > 2 || (argc == 2 && !unregister)) {
        const char* unexpected = std::strcmp(argv[1], "--unregister") == 0 ? argv[2] : argv[1];
        std::fprintf(stderr, "tiravex-register: unexpected argument %s\n\n%s", unexpected, kUsage);
        return 2;
    }
    const char* entry = unregister ? "DllUnregisterServer" : "DllRegisterServer";
    const HRESULT result = unregister ? DllUnregisterServer() : DllRegisterServer();
    std::printf("%s in %s: 0x%08X%s\n", entry, sys::RegistryPath().c_str(), static_cast<unsigned>(result), result == S_OK ? " (succeeded)" : " (failed)");
    return result == S_OK ? 0 : 1;
}
