#include "sim/Camera.h"

#include "sim/Acceptor.h"
#include "sim/AudioCoder.h"
#include "sim/CameraState.h"
#include "sim/CgiServer.h"
#include "sim/MediaServer.h"
#include "sim/OnvifServer.h"
#include "sim/RoadServer.h"
#include "sim/RtspServer.h"
#include "sim/SearchResponder.h"
#include "sim/DiscoveryResponder.h"
#include "sim/Timing.h"

#include <algorithm>
#include <chrono>

namespace sim {

using namespace kz;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

std::unique_ptr<Camera> Camera::Start(const CameraConfig& config)
{
    if (config.deviceId.size() > kReplyDeviceIdBytes || BlockBytes(config.audio) == 0 || !VideoEncoder::Create(config.video))
        return nullptr;
    std::unique_ptr<Camera> camera(new Camera);
    camera->m_state = std::make_shared<State>();
    State& s = *camera->m_state;
    s.config = config;
    s.live = config.video;
    s.audioCoding = config.audio;
    s.cgiDelayMs = std::max(config.cgiDelayMs, 0);
    s.deaf = config.deaf;

    // Bind every port first: a camera that cannot have all of them does not start.
    const bool standards = config.dialect == Dialect::Standards;
    if (!standards && config.video.codec == Codec::H265)
        return nullptr; // our protocol has no frame kind for it
    camera->m_cgi = CgiServer::Open(s, standards ? CgiServer::Routes::None : CgiServer::Routes::Cgi);
    if (!camera->m_cgi)
        return nullptr;
    if (standards) {
        camera->m_onvif = std::make_unique<OnvifServer>(s, camera->m_cgi->Http());
        camera->m_rtsp = RtspServer::Start(s);
        if (!camera->m_rtsp)
            return nullptr;
        camera->m_roads = std::make_unique<RoadServer>(s, *camera->m_cgi);
        camera->m_media = std::make_unique<MediaServer>(s);
        // Found by WS-Discovery where the group can be joined on the camera's interface.
        if (config.searchPort >= 0)
            camera->m_discovery = DiscoveryResponder::Open(s);
        camera->m_cgi->Start();
        if (camera->m_discovery)
            camera->m_discovery->Start();
        return camera;
    }
    camera->m_roads = std::make_unique<RoadServer>(s, *camera->m_cgi);
    camera->m_media = std::make_unique<MediaServer>(s);
    camera->m_acceptor = Acceptor::Open(s, *camera->m_roads, *camera->m_media);
    if (!camera->m_acceptor)
        return nullptr;
    if (config.searchPort >= 0) {
        camera->m_search = SearchResponder::Open(s);
        if (!camera->m_search)
            return nullptr;
    }
    if (!config.claims.sizes.empty())
        camera->ClaimSizes(config.claims);
    camera->m_cgi->Start();
    camera->m_acceptor->Start();
    if (camera->m_search)
        camera->m_search->Start();
    return camera;
}

Camera::~Camera()
{
    if (!m_state)
        return;
    m_state->Stop();
    if (m_cgi)
        m_cgi->Stop();
    if (m_acceptor)
        m_acceptor->Stop();
    if (m_search)
        m_search->Stop();
    if (m_discovery)
        m_discovery->Stop();
    if (m_rtsp)
        m_rtsp->Stop();
    DropLink();
    m_state->JoinWorkers();
}

const std::string& Camera::Address() const { return m_state->config.address; }
int Camera::Port() const { return m_state->port; }
int Camera::WebPort() const { return m_state->webPort; }
int Camera::SearchPort() const { return m_state->searchPort; }
std::string Camera::User() const { return m_state->config.accounts.empty() ? std::string() : m_state->config.accounts[0].user; }
std::string Camera::Password() const { return m_state->config.accounts.empty() ? std::string() : m_state->config.accounts[0].password; }
const CameraConfig& Camera::Config() const { return m_state->config; }

std::vector<std::string> Camera::OnvifLog() const
{
    std::lock_guard lock(m_state->mutex);
    return m_state->onvifLog;
}

std::vector<std::string> Camera::OnvifMasks() const
{
    return m_onvif ? m_onvif->Masks() : std::vector<std::string> {};
}

void Camera::SendControl(int type, const std::vector<std::uint8_t>& bytes) { m_roads->SendToAll(type, bytes); }

void Camera::StallVideo(int ms)
{
    {
        std::lock_guard lock(m_state->mutex);
        m_state->stallUntil = Clock::now() + milliseconds(std::max(ms, 0));
    }
    m_state->Notify();
}

void Camera::DropLink()
{
    std::list<std::shared_ptr<Connection>> list;
    {
        std::lock_guard lock(m_state->mutex);
        list = m_state->connections;
    }
    for (auto& c : list)
        c->Shutdown();
}

void Camera::SetVideo(const VideoSettings& settings)
{
    if (settings.width <= 0 || settings.height <= 0 || settings.fps <= 0)
        return;
    if (settings.codec == Codec::H265 && m_state->config.dialect == Dialect::Ours)
        return; // our protocol has no frame kind for it
    std::lock_guard lock(m_state->mutex);
    m_state->live = settings;
    ++m_state->liveGeneration;
}

void Camera::SetAudio(int coding)
{
    if (BlockBytes(coding) == 0)
        return;
    std::lock_guard lock(m_state->mutex);
    m_state->audioCoding = coding;
    ++m_state->audioGeneration;
}

void Camera::EndAlarm(int kind)
{
    if (m_onvif)
        m_onvif->SetAlarm(kind, false);
}

void Camera::Restart()
{
    if (m_onvif)
        m_onvif->Restart();
}

std::string Camera::ActiveCells() const
{
    return m_onvif ? m_onvif->ActiveCells() : std::string();
}

void Camera::Alarm(int kind)
{
    if (m_onvif) {
        m_onvif->SetAlarm(kind, true);
        return;
    }
    // The long form of message 111, which says that the alarm is raised.
    std::size_t alarmBytes = m_state->config.replyFormat ? m_state->ControlBytes(kMsgAlarm) : static_cast<std::size_t>(kAlarmLongBytes);
    std::vector<std::uint8_t> alarm(alarmBytes, 0);
    alarm[kAlarmKindAt] = static_cast<std::uint8_t>(kind);
    alarm[kAlarmOnAt] = 1;
    m_roads->SendToAll(kMsgAlarm, alarm);
    std::vector<std::uint8_t> sound(m_state->ControlBytes(kMsgAlarmSound), 0);
    sound[kAlarmSoundMaskAt] = 1; // the first channel
    sound[kAlarmSoundChannelAt] = 0; // any
    m_roads->SendToAll(kMsgAlarmSound, sound);
}

void Camera::Snapshot()
{
    VideoSettings v;
    {
        std::lock_guard lock(m_state->mutex);
        v = m_state->live;
    }
    auto jpeg = EncodeJpeg(0, v.width, v.height);
    if (!jpeg.empty())
        m_roads->SendToAll(kMsgSnapshot, jpeg);
}

void Camera::IgnoreCgi(bool on)
{
    {
        std::lock_guard lock(m_state->mutex);
        m_state->ignoreCgi = on;
    }
    m_state->Notify();
}

void Camera::DelayCgi(int ms)
{
    std::lock_guard lock(m_state->mutex);
    m_state->cgiDelayMs = std::max(ms, 0);
}

void Camera::SetPreEncoded(std::vector<EncodedFrame> frames, Codec codec, int width, int height, int fps, bool paced)
{
    std::lock_guard lock(m_state->mutex);
    if (frames.empty()) {
        m_state->preEncoded.reset();
        return;
    }
    m_state->preEncoded = std::make_shared<const std::vector<EncodedFrame>>(std::move(frames));
    m_state->preEncodedSettings = VideoSettings { codec, width, height, fps, 0 };
    m_state->preEncodedPaced = paced;
}

void Camera::ClaimSizes(const SizeClaims& claims)
{
    auto made = std::make_shared<State::Claims>();
    made->periodMs = std::max(claims.periodMs, 1);
    for (const PictureSize& size : claims.sizes) {
        auto frame = SizeClaimFrame(size, claims.content);
        if (frame.empty())
            continue;
        made->sizes.push_back(size);
        made->frames.push_back(EncodedFrame { std::move(frame), true });
    }
    std::lock_guard lock(m_state->mutex);
    if (made->frames.empty())
        m_state->claims.reset();
    else
        m_state->claims = std::move(made);
}

void Camera::SendRaw(Target target, std::vector<std::uint8_t> bytes, int repeat, AfterRaw after)
{
    std::vector<std::shared_ptr<Connection>> connections;
    {
        std::lock_guard lock(m_state->mutex);
        if (target == Target::Roads)
            connections.assign(m_state->roads.begin(), m_state->roads.end());
        else
            for (const auto& m : m_state->media)
                connections.push_back(m->connection);
    }
    auto shared = std::make_shared<const std::vector<std::uint8_t>>(std::move(bytes));
    State& state = *m_state;
    for (auto& connection : connections) {
        m_state->Spawn([&state, connection, shared, repeat, after] {
            for (int i = 0; i < repeat && !state.stopping.load(); ++i)
                if (!connection->Send(*shared))
                    break;
            if (after == AfterRaw::Close)
                connection->Shutdown();
            ++state.rawSendsDone;
            state.Notify();
        });
    }
}

int Camera::RawSendsDone() const
{
    return m_state->rawSendsDone.load();
}

void Camera::StopReading(bool on)
{
    m_state->deaf = on;
}

std::uint64_t Camera::VideoFramesSent() const
{
    return m_state->videoFramesSent.load();
}

std::uint64_t Camera::SoundMsSent() const
{
    return m_state->soundMsSent.load();
}

std::vector<std::string> Camera::CgiLog() const
{
    std::lock_guard lock(m_state->mutex);
    return m_state->cgiLog;
}

std::map<int, int> Camera::TalkBlocks() const
{
    std::lock_guard lock(m_state->mutex);
    return m_state->talkBlocks;
}

std::vector<std::int16_t> Camera::TalkSound() const
{
    std::lock_guard lock(m_state->mutex);
    return m_state->talkSound;
}

std::vector<wire::CommandRequest> Camera::Commands() const
{
    std::lock_guard lock(m_state->mutex);
    return m_state->commands;
}

std::vector<wire::MediaControl> Camera::MediaControls() const
{
    std::lock_guard lock(m_state->mutex);
    return m_state->mediaControls;
}

std::vector<wire::OpenRequest> Camera::Opens() const
{
    std::lock_guard lock(m_state->mutex);
    return m_state->opens;
}

int Camera::LoginsAccepted() const
{
    std::lock_guard lock(m_state->mutex);
    return m_state->accepted;
}

int Camera::LoginsRefused() const
{
    std::lock_guard lock(m_state->mutex);
    return m_state->refused;
}

int Camera::RoadsOpen() const
{
    std::lock_guard lock(m_state->mutex);
    return static_cast<int>(m_state->roads.size());
}

int Camera::ChannelsOpen() const
{
    std::lock_guard lock(m_state->mutex);
    return static_cast<int>(m_state->media.size());
}

bool Camera::WaitUntil(const std::function<bool()>& condition, int timeoutMs) const
{
    auto deadline = Clock::now() + milliseconds(timeoutMs);
    std::unique_lock lock(m_state->mutex);
    while (true) {
        lock.unlock();
        bool ok = condition();
        lock.lock();
        if (ok)
            return true;
        if (m_state->changed.wait_until(lock, std::min(deadline, Clock::now() + milliseconds(kPollSliceMs))) == std::cv_status::timeout && Clock::now() >= deadline) {
            lock.unlock();
            return condition();
        }
    }
}

}
