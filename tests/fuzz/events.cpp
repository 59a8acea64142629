// Fuzz entry point: a standard camera's event service answers as the event
// watch reads them (a new subscription, a pull's notification messages
// into alarm notices and then our alarm reports, a renewal) and the times
// in them, each given the whole input.

#include "kznet/OnvifEvents.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace kz::onvif;
    const char* text = reinterpret_cast<const char*>(data);
    Subscription subscription;
    ReadSubscription(text, size, subscription);
    PullAnswer pulled;
    if (ReadPullMessages(text, size, pulled) == SoapStatus::Ok) {
        AlarmBoard board;
        board.Apply(pulled.notices);
        for (auto& notice : pulled.notices)
            notice.active = !notice.active;
        board.Apply(pulled.notices);
    }
    std::time_t current = 0, termination = 0;
    ReadRenew(text, size, current, termination);
    ReadDateTime(std::string_view(text, size), current);
    return 0;
}
