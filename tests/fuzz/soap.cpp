// Fuzz entry point: the readers of a standard camera's ONVIF answers (the
// camera's clock, device information, endpoint reference, capabilities,
// profiles, stream addresses and faults), each given the whole input as an
// answer's body.

#include "kznet/Soap.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace kz::onvif;
    const char* text = reinterpret_cast<const char*>(data);
    std::time_t utc = 0;
    ReadSystemDateAndTime(text, size, utc);
    DeviceInformation device;
    ReadDeviceInformation(text, size, device);
    Capabilities capabilities;
    ReadCapabilities(text, size, capabilities);
    std::vector<Profile> profiles;
    ReadProfiles(text, size, profiles);
    std::string uri;
    ReadMediaUri(text, size, uri);
    std::string endpoint;
    ReadEndpointReference(text, size, endpoint);
    ReadFault(text, size);
    return 0;
}
