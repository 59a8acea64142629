// Fuzz entry point: the camera's CGI reply texts as the control reads them:
// the CGI_Result element into the buffers the HTTP client and the page's
// request use, the elements of the device and product information and of
// the port information, and any element the input names.

#include "FuzzInput.h"

#include "kznet/Protocol.h"
#include "link/CgiClient.h"
#include "link/CgiText.h"
#include "link/DeviceLink.h"

#include <cstdint>
#include <string>
#include <vector>

namespace {

struct NoSink : devlink::LinkSink {
    void OnLinkEvent(const devlink::LinkEvent&) override { }
};
struct NoLiveView : devlink::LiveView {
    void OnAudioBlockLength(std::int32_t) override { }
    void OnTalkReply(bool) override { }
    int BeginPtzMove() override { return -1; }
    void EndPtzMove() override { }
};

}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    fuzz::Input in(data, size);
    // The input names an element and a buffer size, then holds the text.
    std::string open = in.Text(in.U8() % 16);
    std::string close = in.Text(in.U8() % 16);
    std::size_t limit = in.U16();
    std::string text = in.RestText();
    // The text as it arrives: cut at its first zero, as the control's texts are.
    std::string_view reply(text.c_str());

    char result[devlink::kCgiResultBytes];
    devlink::ExtractCgiResult(reply, result, sizeof result);
    char pageResult[devlink::kPageCgiResultLimit + 1];
    devlink::ExtractCgiResult(reply, pageResult, sizeof pageResult);
    std::vector<char> sized(limit % 4096 + 1);
    devlink::ExtractCgiResult(reply, sized.data(), sized.size());
    devlink::CopyText(sized.data(), sized.size(), reply);

    std::string out;
    devlink::ElementText(reply, open, close, limit, out);
    devlink::ElementNumber(reply, open, close, -1);
    devlink::ElementDigit(reply, open, -1);

    NoSink sink;
    NoLiveView live;
    devlink::DeviceLink link(sink, live);
    link.TakeDevInfo(reply);
    link.TakeProductInfo(reply, devlink::Rs485Default::FromPtFlag);
    link.TakeProductInfo(reply, devlink::Rs485Default::Zero);
    devlink::DeviceLink::HttpsPortOf(reply);
    return 0;
}
