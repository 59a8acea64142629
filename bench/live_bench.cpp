// Frames per second of the whole live path (the frame callback, size probe,
// decode, the back and composition surfaces, and the present onto the
// screen) as a ratio to bare FFmpeg decoding of the same frames in the same
// run, for 1080p H.264 and 720p Motion-JPEG.

#include "support/Encoder.h"

#include "gfx/Gdi.h"
#include "media/CMediaHub.h"
#include "media/Decoder.h"
#include "ui/Monitor.h"
#include "view/CLiveCtrl.h"
#include "view/CPlayView.h"

extern "C" {
#include <libavcodec/avcodec.h>
}

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using Frames = std::vector<std::vector<std::uint8_t>>;

constexpr int kRounds = 3;

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

double bareDecode(AVCodecID id, const Frames& frames)
{
    const AVCodec* codec = avcodec_find_decoder(id);
    AVCodecContext* c = avcodec_alloc_context3(codec);
    c->thread_count = 1;
    avcodec_open2(c, codec, nullptr);
    AVPacket* packet = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    std::vector<std::uint8_t> padded;
    auto start = Clock::now();
    int decoded = 0;
    for (const auto& f : frames) {
        padded.assign(f.begin(), f.end());
        padded.resize(f.size() + AV_INPUT_BUFFER_PADDING_SIZE, 0);
        packet->data = padded.data();
        packet->size = static_cast<int>(f.size());
        avcodec_send_packet(c, packet);
        while (avcodec_receive_frame(c, frame) == 0)
            ++decoded;
    }
    double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    av_frame_free(&frame);
    av_packet_free(&packet);
    avcodec_free_context(&c);
    return decoded / seconds;
}

double livePath(CLiveCtrl& live, int kind, const Frames& frames)
{
    auto start = Clock::now();
    for (const auto& f : frames) {
        FrameRecord record {};
        record.frameRate = 25;
        record.size = static_cast<std::int32_t>(f.size());
        record.payload = f.data();
        CPlayBase::FrameCallback(kind, &record, &live, kLiveWindowId);
        live.OnTick(); // the present the watchdog makes every 25 ms, once per frame here
    }
    double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    return static_cast<double>(frames.size()) / seconds;
}

}

int main()
{
    ui::SetMonitorSizes({ { 1920, 1080 } });
    gfx::InstallBackgroundEraser();
    WNDCLASS pageClass;
    pageClass.lpszClassName = "BenchPage";
    ui::RegisterClass(pageClass);
    HWND page = ui::CreateWindowEx(0, "BenchPage", "", WS_POPUP | WS_VISIBLE, 0, 0, 1920, 1080, nullptr);
    // A 1280 x 720 live window attached to a media hub, as a logged-in control has it.
    CMediaHub hub(&CPlayView::Make);
    CLiveCtrl liveWindow;
    liveWindow.Register("ALIVE");
    liveWindow.CreateEx(0, "ALIVE", "ALIVE", WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN, RECT { 1, 1, 1281, 721 }, page, RGB(0, 0, 0));
    hub.AttachControlWindow(page, 1920, 1080);
    liveWindow.Attach(page, 1920, 1080, &hub);
    hub.GetView()->SetClipperWindow(liveWindow.GetHwnd());

    Frames h264 = testing_support::EncodeH264(1920, 1080, 50, "high", true);
    Frames mjpeg;
    for (int i = 0; i < 50; ++i)
        mjpeg.push_back(testing_support::EncodeJpeg(1280, 720, i, true));
    std::size_t bytes = 0;
    for (auto& f : h264)
        bytes += f.size();
    std::printf("1080p H.264 test stream: %.1f kB a frame\n", bytes / 1024.0 / static_cast<double>(h264.size()));

    std::printf("live path (the decoder's own threads: %d for 1080p, %d for 720p) vs bare FFmpeg decode (one thread), median of %d rounds\n",
        media::DecoderThreads(1920, 1080), media::DecoderThreads(1280, 720), kRounds);
    struct Case {
        const char* name;
        int kind;
        AVCodecID id;
        const Frames* frames;
    } cases[] = { { "1080p H.264", kz::kFrameH264, AV_CODEC_ID_H264, &h264 }, { "720p Motion-JPEG", kz::kFrameMjpeg, AV_CODEC_ID_MJPEG, &mjpeg } };
    for (const auto& test : cases) {
        // Each round measures both, one after the other, so that a busy
        // moment of the machine moves both figures of that round alike.
        std::vector<double> bare, live, ratio;
        for (int r = 0; r < kRounds; ++r) {
            bare.push_back(bareDecode(test.id, *test.frames));
            live.push_back(livePath(liveWindow, test.kind, *test.frames));
            ratio.push_back(live.back() / bare.back());
        }
        std::printf("%-18s bare decode %7.1f fps, live path %7.1f fps, ratio %.2f\n", test.name, median(bare), median(live), median(ratio));
    }
    hub.HubStop();
    liveWindow.DestroyWindow();
    ui::DestroyWindow(page);
    return 0;
}
