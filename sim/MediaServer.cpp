#include "sim/MediaServer.h"

#include "sim/MediaStreamer.h"
#include "sim/Timing.h"

#include <algorithm>
#include <thread>

namespace sim {

using namespace kz;
using namespace kz::wire;

namespace {

// How long the channel's thread waits for input before it looks at the
// stop flag again.
constexpr int kChannelReadMs = 4 * kPollSliceMs;

bool isAudioSelector(int s) { return s == kMediaAudio || (s >= kMediaAudioVariant9 && s <= kMediaAudioVariant12); }

}

std::shared_ptr<MediaSession> MediaServer::MakeSession(const std::shared_ptr<Connection>& connection, const OpenRequest& open)
{
    auto session = std::make_shared<MediaSession>();
    session->connection = connection;
    session->open = open;
    session->playback = !IsLiveAddress(open.address);
    if (session->playback) {
        const auto& recordings = m_state.config.recordings;
        auto it = std::find_if(recordings.begin(), recordings.end(), [&](const Recording& r) { return r.path == open.address; });
        if (it != recordings.end())
            session->recording = *it;
        // A recording's sound always travels with it: the control decides on
        // its side whether to play it.
        session->audioOn = true;
    }
    return session;
}

void MediaServer::Serve(const std::shared_ptr<Connection>& connection, const OpenRequest& open)
{
    {
        std::lock_guard lock(m_state.mutex);
        m_state.opens.push_back(open);
        m_state.Notify();
    }
    if (!m_state.AccountOk(open.user, open.password))
        return; // closing the connection is the refusal
    auto session = MakeSession(connection, open);
    {
        std::lock_guard lock(m_state.mutex);
        if (!session->playback)
            session->audioOn = m_state.liveAudioOn; // the road's command may come before the channel
        m_state.media.push_back(session);
    }
    connection->Send(Kind::Status, PutStatus({ kStatusOpen, 0, 0 }));

    std::thread streamer([this, session] { MediaStreamer(m_state, session).Run(); });

    Header header;
    std::vector<std::uint8_t> payload;
    while (!m_state.stopping.load()) {
        auto r = connection->Next(header, payload, kChannelReadMs);
        if (r == Connection::Read::Timeout)
            continue;
        if (r != Connection::Read::Message)
            break;
        MediaControl control;
        if (header.kind == Kind::MediaControl && ParseMediaControl(payload.data(), payload.size(), control)) {
            HandleControl(*session, control);
        } else if (header.kind == Kind::Talk && payload.size() > 0 && payload.size() <= kMaxTalkBlock) {
            std::lock_guard lock(m_state.mutex);
            ++m_state.talkBlocks[static_cast<int>(payload.size())];
            m_state.Notify();
        }
    }
    {
        std::lock_guard lock(session->mutex);
        session->closed = true;
    }
    session->wake.notify_all();
    connection->Shutdown();
    streamer.join();
    std::lock_guard lock(m_state.mutex);
    m_state.media.remove(session);
    if (m_state.talker == session.get())
        m_state.talker = nullptr;
    m_state.Notify();
}

void MediaServer::HandleTalk(MediaSession& session, bool start)
{
    int result = kTalkOk;
    {
        std::lock_guard lock(m_state.mutex);
        if (start && m_state.talker && m_state.talker != &session)
            result = kTalkBusy; // one talker at a time
        else if (start)
            m_state.talker = &session;
        else if (m_state.talker == &session)
            m_state.talker = nullptr;
    }
    session.connection->Send(Kind::Status, PutStatus({ start ? kStatusTalkStart : kStatusTalkStop, result, 0 }));
}

void MediaServer::HandleControl(MediaSession& session, const MediaControl& control)
{
    {
        std::lock_guard lock(m_state.mutex);
        m_state.mediaControls.push_back(control);
        m_state.Notify();
    }
    switch (control.op) {
    case MediaOp::Start:
    case MediaOp::Stop: {
        bool start = control.op == MediaOp::Start;
        if (isAudioSelector(control.a)) {
            std::lock_guard lock(session.mutex);
            session.audioOn = start;
        } else if (control.a == kMediaTalk) {
            HandleTalk(session, start);
        }
        break;
    }
    case MediaOp::Pause:
    case MediaOp::Resume:
    case MediaOp::Seek: {
        std::lock_guard lock(session.mutex);
        if (control.op == MediaOp::Seek) {
            session.seekPending = true;
            session.seekTo = control.position;
        } else {
            session.paused = control.op == MediaOp::Pause;
        }
        break;
    }
    case MediaOp::Message: break; // recorded only
    }
    session.wake.notify_all();
}

}
