#pragma once
// The state one simulated camera shares between its servers: its settings
// and ports, what scripting has set, what the camera has observed, and the
// open connections, roads and media channels.
//
// Ownership: made and owned by the Camera; the camera's servers and their
// threads hold references to it and all end before it goes.
// Threads: `config` and the ports are fixed once the camera has started;
// `mutex` guards everything else, and whoever changes something a waiter
// may be waiting for calls Notify. Spawn runs a worker thread (one per
// connection, or for an answer held back by the CGI delay); Reap joins the
// finished ones and JoinWorkers the rest when the camera stops.

#include "sim/Camera.h"
#include "sim/Connection.h"
#include "sim/MediaSession.h"

#include "kznet/Wire.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace sim {

struct Camera::State {
    using Clock = std::chrono::steady_clock;

    CameraConfig config;
    int port = 0, webPort = 0, searchPort = -1;
    std::atomic<bool> stopping { false };
    // Live video frames written to media channels, all channels together.
    std::atomic<std::uint64_t> videoFramesSent { 0 };
    std::atomic<std::uint64_t> soundMsSent { 0 };
    // While set, no connection reads (Camera::StopReading).
    std::atomic<bool> deaf { false };
    // Raw sends finished, one per connection (Camera::SendRaw).
    std::atomic<int> rawSendsDone { 0 };

    mutable std::mutex mutex; // guards everything below
    mutable std::condition_variable changed;
    // observed
    std::vector<std::string> cgiLog;
    std::map<int, int> talkBlocks;
    std::vector<std::int16_t> talkSound; // standards: the back channel's voice, at most kMaxTalkSoundSamples
    std::vector<kz::wire::CommandRequest> commands;
    std::vector<kz::wire::MediaControl> mediaControls;
    std::vector<kz::wire::OpenRequest> opens;
    std::vector<std::string> onvifLog; // standards: authorised ONVIF operations, with their arguments
    int accepted = 0, refused = 0;
    // open
    std::list<std::shared_ptr<Connection>> connections;
    std::list<std::shared_ptr<Connection>> roads; // logged in
    std::list<std::shared_ptr<MediaSession>> media;
    MediaSession* talker = nullptr; // the channel that talks, if any
    // the live stream
    VideoSettings live;
    int liveGeneration = 0;
    int audioCoding = kz::kAudioPcm;
    int audioGeneration = 0;
    bool videoOn = true;
    bool liveAudioOn = false; // the road's audio command, also for live channels opened after it
    std::shared_ptr<const std::vector<EncodedFrame>> preEncoded;
    VideoSettings preEncodedSettings;
    bool preEncodedPaced = false; // at preEncodedSettings.fps, not as fast as the link takes them
    // Size claims sent instead of the pattern: one frame per size, in turn.
    struct Claims {
        std::vector<PictureSize> sizes;
        std::vector<EncodedFrame> frames;
        int periodMs = 0;
    };
    std::shared_ptr<const Claims> claims;
    // scripted
    Clock::time_point stallUntil = Clock::now();
    bool ignoreCgi = false;
    int cgiDelayMs = 0;

    void Notify() { changed.notify_all(); }
    // Sets `stopping` and wakes every waiter.
    void Stop();
    // Waits until `until` or until the camera stops; false when it stopped.
    bool SleepUnlessStopped(Clock::time_point until);

    // Whether the account may log in or open a channel.
    bool AccountOk(const std::string& user, const std::string& password) const;
    // The length of fixed-length control message `type` as this camera sends
    // it: padded once it has announced the reply format.
    std::size_t ControlBytes(int type) const;

    void Spawn(std::function<void()> body);
    void Reap();
    void JoinWorkers();

private:
    struct Worker {
        std::thread thread;
        std::shared_ptr<std::atomic<bool>> done;
    };
    std::list<Worker> m_workers; // guarded by mutex
};

}
