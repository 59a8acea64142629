// tiravex-register [--unregister]: makes the control known in the
// registration store (or removes it) and prints the result.

#include "control/Registration.h"
#include "sys/Registry.h"

#include <cstdio>
#include <cstring>

int main(int argc, char** argv)
{
    const bool unregister = argc == 2 && std::strcmp(argv[1], "--unregister") == 0;
    if (argc > 2 || (argc == 2 && !unregister)) {
        std::fprintf(stderr, "usage: tiravex-register [--unregister]\n");
        return 2;
    }
    const char* entry = unregister ? "DllUnregisterServer" : "DllRegisterServer";
    const HRESULT result = unregister ? DllUnregisterServer() : DllRegisterServer();
    std::printf("%s in %s: 0x%08X%s\n", entry, sys::RegistryPath().c_str(), static_cast<unsigned>(result), result == S_OK ? " (succeeded)" : " (failed)");
    return result == S_OK ? 0 : 1;
}
