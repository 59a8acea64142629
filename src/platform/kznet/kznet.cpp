// The network library's C interface: checks its arguments, finds the object
// behind a handle and hands the call to it. No exception leaves here.

#include "kznet/Library.h"
#include "kznet/Onvif.h"

#include <cstring>

namespace kz {

namespace {

HandleTable<Road>& roads()
{
    static HandleTable<Road> table(1);
    return table;
}
HandleTable<Channel>& streams()
{
    static HandleTable<Channel> table(2);
    return table;
}
HandleTable<Search>& searches()
{
    static HandleTable<Search> table(3);
    return table;
}
HandleTable<Http>& parsers()
{
    static HandleTable<Http> table(4);
    return table;
}

template<typename F> auto guarded(F f, decltype(f()) failure) noexcept -> decltype(f())
{
    try {
        return f();
    } catch (...) {
        return failure;
    }
}

bool validSelector(int selector)
{
    return selector == kMediaAudio || selector == kMediaTalk || (selector >= kMediaAudioVariant9 && selector <= kMediaAudioVariant12);
}

int mediaControl(KzHandle stream, const wire::MediaControl& control)
{
    auto media = streams().Find(stream);
    return media ? media->Control(control) : -1;
}

}

void DeliveryGate::Close()
{
    std::unique_lock lock(m_mutex);
    m_closed = true;
    if (m_running && m_owner == std::this_thread::get_id())
        return; // closed from inside its own callback
    // A callback that runs longer than the wait does not keep the caller.
    m_idle.wait_for(lock, std::chrono::milliseconds(kCloseWaitMs), [this] { return m_running == 0; });
}

void StopWorker(sys::ThreadHandle& thread)
{
    if (!thread)
        return;
    if (!thread->Wait(kCloseWaitMs))
        thread->Detach();
    thread.reset();
}

}

using namespace kz;

extern "C" {

KzHandle kz_open_ctrl_road(int mode, LoginInfo* login, KzCtrlCallback callback, void* user, unsigned char secure)
{
    return guarded([&]() -> KzHandle {
        if (!login || !callback)
            return nullptr;
        auto road = std::make_shared<Road>(mode, *login, callback, user, secure);
        KzHandle handle = roads().Add(road);
        if (!road->Start()) {
            roads().Remove(handle);
            return nullptr;
        }
        return handle;
    }, nullptr);
}

int kz_post_ctrl_road_msg(KzHandle road, int command, std::intptr_t a, std::intptr_t b)
{
    return guarded([&] {
        auto object = roads().Find(road);
        return object ? object->Post(command, a, b) : -1;
    }, -1);
}

int kz_close_ctrl_road(KzHandle road)
{
    return guarded([&] {
        auto object = roads().Remove(road);
        if (!object)
            return -1;
        object->Close();
        return 0;
    }, -1);
}

KzHandle kz_open_device(int kind, const char* address, LoginInfo* login, int streamParam, int tag, int constant, KzStatusCallback status, KzFrameCallback frame, void* user, unsigned char secure)
{
    return guarded([&]() -> KzHandle {
        if (!login)
            return nullptr;
        wire::OpenRequest request;
        request.kind = kind;
        request.streamParam = streamParam;
        request.tag = tag;
        request.constant = constant;
        request.streamType = login->streamType;
        request.secure = secure;
        request.user.assign(login->username, strnlen(login->username, sizeof login->username));
        request.password.assign(login->passwd, strnlen(login->passwd, sizeof login->passwd));
        if (address) {
            std::size_t n = strnlen(address, wire::kMaxAddress + 1);
            if (n > wire::kMaxAddress)
                return nullptr;
            request.address.assign(address, n);
        }
        // A stream address of its own, or a live stream of a camera whose
        // road logged in through ONVIF, plays over RTSP.
        const std::string host(login->ip, strnlen(login->ip, sizeof login->ip));
        std::string url = onvif::WithRtspPort(request.address, login->port);
        auto session = onvif::Find(host, login->webport);
        if (url.empty() && session && wire::IsLiveAddress(request.address))
            url = session->StreamUri();
        if (session && IsRecordingPath(request.address)) {
            auto channel = StartReplay(request.address, session, request, status, frame, user);
            return channel ? streams().Add(channel) : nullptr;
        }
        if (!url.empty() || session) {
            // Any other path on a standard camera (our camera's recording names)
            // names no stream: the channel reports its loss at once.
            auto channel = StartRtspMedia(url, session, request, status, frame, user);
            return channel ? streams().Add(channel) : nullptr;
        }
        auto media = std::make_shared<Media>(request, *login, status, frame, user);
        KzHandle handle = streams().Add(media);
        if (!media->Start()) {
            streams().Remove(handle);
            return nullptr;
        }
        return handle;
    }, nullptr);
}

int kz_close_device(KzHandle stream)
{
    return guarded([&] {
        auto media = streams().Remove(stream);
        if (!media)
            return -1;
        media->Close();
        return 0;
    }, -1);
}

int kz_pause_media(KzHandle stream)
{
    return guarded([&] { return mediaControl(stream, { wire::MediaOp::Pause, 0, 0, 0, 0 }); }, -1);
}

int kz_resume_media(KzHandle stream)
{
    return guarded([&] { return mediaControl(stream, { wire::MediaOp::Resume, 0, 0, 0, 0 }); }, -1);
}

int kz_start_media(KzHandle stream, int selector)
{
    return guarded([&] { return validSelector(selector) ? mediaControl(stream, { wire::MediaOp::Start, selector, 0, 0, 0 }) : -1; }, -1);
}

int kz_stop_media(KzHandle stream, int selector)
{
    return guarded([&] { return validSelector(selector) ? mediaControl(stream, { wire::MediaOp::Stop, selector, 0, 0, 0 }) : -1; }, -1);
}

int kz_seek_record(KzHandle stream, double position)
{
    return guarded([&] { return position == position ? mediaControl(stream, { wire::MediaOp::Seek, 0, 0, 0, position }) : -1; }, -1);
}

int kz_post_media_msg(KzHandle stream, int code, int a, int b)
{
    return guarded([&] {
        if (code != kMediaMsgStall && code != kMediaMsgAudioLength)
            return -1;
        return mediaControl(stream, { wire::MediaOp::Message, code, a, b, 0 });
    }, -1);
}

int kz_send_talk_data(KzHandle stream, int, int, int, int size, const char* data)
{
    return guarded([&] {
        auto media = streams().Find(stream);
        return media ? media->Talk(data, size) : -1;
    }, -1);
}

KzHandle kz_search_devices(KzSearchCallback callback, void* user, int parameter, int oneDevice)
{
    return guarded([&]() -> KzHandle {
        if (!callback)
            return nullptr;
        auto search = std::make_shared<Search>(callback, user, parameter, oneDevice);
        KzHandle handle = searches().Add(search);
        if (!search->Start()) {
            searches().Remove(handle);
            return nullptr;
        }
        return handle;
    }, nullptr);
}

int kz_close_search(KzHandle search)
{
    return guarded([&] {
        auto object = searches().Remove(search);
        if (!object)
            return -1;
        object->Close();
        return 0;
    }, -1);
}

KzHandle kz_create_HttpParser()
{
    return guarded([]() -> KzHandle { return parsers().Add(std::make_shared<Http>()); }, nullptr);
}

int kz_mallocSendData(KzHandle parser, int size)
{
    // Requests are built to their own length (up to a fixed limit), so the
    // size is only checked.
    return guarded([&] { return parsers().Find(parser) && size > 0 ? 0 : -1; }, -1);
}

int kz_set_httpRequest(KzHandle parser, const char* path, const char* method, const char* host, int, int)
{
    return guarded([&] {
        auto http = parsers().Find(parser);
        return http ? http->SetRequest(path, method, host) : -1;
    }, -1);
}

int kz_create_HttpSocket(KzHandle parser)
{
    return guarded([&] {
        auto http = parsers().Find(parser);
        return http ? http->CreateSocket() : -1;
    }, -1);
}

int kz_httpIsConnected(KzHandle parser)
{
    return guarded([&] {
        auto http = parsers().Find(parser);
        return http ? http->IsConnected() : 0;
    }, 0);
}

int kz_httpConnect(KzHandle parser, const char* address, int port)
{
    return guarded([&] {
        auto http = parsers().Find(parser);
        return http ? http->Connect(address, port) : kHttpSocketClosed;
    }, kHttpSocketClosed);
}

int kz_httpRequest(KzHandle parser)
{
    return guarded([&] {
        auto http = parsers().Find(parser);
        return http ? http->Request() : kHttpSocketClosed;
    }, kHttpSocketClosed);
}

int kz_httpResponse(KzHandle parser, int timeout)
{
    return guarded([&] {
        auto http = parsers().Find(parser);
        return http ? http->Response(timeout) : -1;
    }, -1);
}

const char* kz_GetContentData(KzHandle parser)
{
    return guarded([&]() -> const char* {
        auto http = parsers().Find(parser);
        return http ? http->Content() : nullptr;
    }, nullptr);
}

int kz_closeHttpSocket(KzHandle parser)
{
    return guarded([&] {
        auto http = parsers().Find(parser);
        return http ? http->CloseSocket() : -1;
    }, -1);
}

int kz_freeSendData(KzHandle parser)
{
    return guarded([&] { return parsers().Find(parser) ? 0 : -1; }, -1);
}

int kz_close_HttpParser(KzHandle parser)
{
    return guarded([&] { return parsers().Remove(parser) ? 0 : -1; }, -1);
}

}
