#pragma once
// The simulated camera: one object serving, on loopback, the control road
// and media channels (one TCP port), CGI over HTTP (a second port) and
// device search (a UDP port). It streams the moving test pattern as H.264 or
// Motion-JPEG with a tone in one of the three audio codings, plays back its
// recordings, and can be scripted from tests and pages.
//
// In the standards dialect (CameraConfig::dialect) it serves instead the
// ONVIF device and media services on the web port (sim/OnvifServer.h) and
// RTSP through GStreamer's server on the port (sim/RtspServer.h); the
// scripting that applies (StallVideo, SetVideo for new sessions) and the
// login counts work the same.
//
// Threads: the camera runs its own (accept, one per connection, one per
// media stream, HTTP, search). Every public function may be called from any
// thread. Destruction stops all of them and closes every connection.
//
// Inside, one file a concern: CameraState (what the servers share),
// Acceptor (the road and media port), RoadServer, MediaServer with
// MediaStreamer and Pacer, SearchResponder and CgiServer.
//
// The camera speaks the protocol through kznet/Protocol.h and kznet/Wire.h
// only and never links the network library's client code: it has its own
// send loop (Connection) and its own IMA ADPCM encoder, so that the two sides
// check each other instead of sharing a mistake.

#include "sim/CameraConfig.h"
#include "sim/VideoEncoder.h"

#include "kznet/Wire.h"

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace sim {

class Acceptor;
class CgiServer;
class MediaServer;
class OnvifServer;
class RoadServer;
class RtspServer;
class SearchResponder;
class DiscoveryResponder;

// The most back-channel voice a camera of the standards keeps (30 s).
constexpr std::size_t kMaxTalkSoundSamples = 8000 * 30;

class Camera {
public:
    // Null when a port cannot be bound or a setting is unusable.
    static std::unique_ptr<Camera> Start(const CameraConfig& config);
    ~Camera();
    Camera(const Camera&) = delete;
    Camera& operator=(const Camera&) = delete;

    // Where the camera answers (what a page passes to Login).
    const std::string& Address() const;
    int Port() const;
    int WebPort() const;
    int SearchPort() const;
    std::string User() const;
    std::string Password() const;
    const CameraConfig& Config() const;

    // ---- scripting ----
    // Sends control message `type` with `bytes` to every logged-in road.
    void SendControl(int type, const std::vector<std::uint8_t>& bytes);
    // Live channels send nothing at all (no frames, no sound, no heartbeat) for `ms`.
    void StallVideo(int ms);
    // Closes every road and media connection.
    void DropLink();
    // Changes codec, size and frame rate of the live stream; takes effect at
    // the next frame, which is a key frame.
    void SetVideo(const VideoSettings& settings);
    // Changes the audio coding of the live stream.
    void SetAudio(int coding);
    // Raises an alarm of `kind` (0 motion, 1 sound, 2 input, 3 temperature):
    // control messages 111 and 300. Standards: the kind's ONVIF events
    // (sim/OnvifEvents.h; a temperature alarm has none) until EndAlarm.
    void Alarm(int kind);
    // Standards: ends the alarm of `kind`.
    void EndAlarm(int kind);
    // Standards: as a camera that restarted, it forgets its event
    // subscriptions (its RTSP sessions go on).
    void Restart();
    // Standards: the cell motion detector's ActiveCells (base64).
    std::string ActiveCells() const;
    // Sends a JPEG picture of the live pattern as control message 116.
    void Snapshot();
    // While on, CGI requests (HTTP and road) get no answer.
    void IgnoreCgi(bool on);
    // While `ms` > 0, every CGI answer (HTTP and road) is held `ms`
    // milliseconds from its request before it is sent; 0 turns it off. A
    // road goes on serving its other commands meanwhile.
    void DelayCgi(int ms);
    // Live channels send these frames in a loop as fast as the link takes
    // them (or, `paced`, at `fps` as a live camera would), instead of
    // encoding the pattern (for measurements). Empty: back to the pattern.
    void SetPreEncoded(std::vector<EncodedFrame> frames, Codec codec, int width, int height, int fps, bool paced = false);

    // ---- hostile behaviour (what a broken or malicious camera does) ----
    // Live channels send these size claims (sim/Hostile.h) instead of the
    // pattern or pre-encoded frames, from their next frame on; no sizes:
    // back to the pattern. Sizes out of SizeClaimFrame's range are left out.
    void ClaimSizes(const SizeClaims& claims);
    enum class Target { Roads, Media };
    enum class AfterRaw { KeepOpen, Close };
    // Writes `bytes` exactly as they are, `repeat` times, on every
    // logged-in road (Roads) or every open media channel (Media), each from
    // a thread of its own, and returns at once. Each write is whole between
    // the camera's own messages. With AfterRaw::Close the connection is
    // closed after the last one (a message cut short stays cut short).
    // Builders for truncated and oversized messages are in sim/Hostile.h;
    // a flood is a valid message with a large `repeat`.
    void SendRaw(Target target, std::vector<std::uint8_t> bytes, int repeat = 1, AfterRaw after = AfterRaw::KeepOpen);
    // How many connections have finished a SendRaw (all written, or the
    // link failed), since the start.
    int RawSendsDone() const;
    // While on, the camera reads nothing from its roads and media channels
    // (new connections included): the control's writes fill the socket
    // buffers and then block. It goes on sending.
    void StopReading(bool on);

    // ---- observation ----
    // CGI command names received (HTTP and road), oldest first.
    std::vector<std::string> CgiLog() const;
    // Talk blocks received, counted by size in bytes.
    std::map<int, int> TalkBlocks() const;
    // Standards: the voice the ONVIF back channel received, decoded to 8 kHz
    // PCM, oldest first (the last kMaxTalkSoundSamples).
    std::vector<std::int16_t> TalkSound() const;
    // Road commands received, oldest first.
    std::vector<kz::wire::CommandRequest> Commands() const;
    // Media controls received on any channel, oldest first.
    std::vector<kz::wire::MediaControl> MediaControls() const;
    // Media channel open requests, oldest first.
    std::vector<kz::wire::OpenRequest> Opens() const;
    // Standards: the ONVIF operations an account was allowed, oldest first,
    // with their arguments ("ContinuousMove 0.50 0.00", "Stop").
    std::vector<std::string> OnvifLog() const;
    // Standards: the privacy masks of its Media2 service, oldest first, as
    // "token x,y x,y ..." in its normalized coordinates.
    std::vector<std::string> OnvifMasks() const;
    // Live video frames written to media channels since the start, all
    // channels together.
    std::uint64_t VideoFramesSent() const;
    // Milliseconds of live sound sent, over every media session.
    std::uint64_t SoundMsSent() const;
    int LoginsAccepted() const;
    int LoginsRefused() const;
    // Road connections that completed a login and are still open.
    int RoadsOpen() const;
    // Media channels (live, playback, talk) still open.
    int ChannelsOpen() const;
    // Waits until `condition` holds (checked whenever the camera's state
    // changes) or `timeoutMs` pass; returns the condition's last value.
    bool WaitUntil(const std::function<bool()>& condition, int timeoutMs) const;

    struct State;

private:
    Camera() = default;
    std::shared_ptr<State> m_state;
    std::unique_ptr<CgiServer> m_cgi;
    std::unique_ptr<RoadServer> m_roads;
    std::unique_ptr<MediaServer> m_media;
    std::unique_ptr<Acceptor> m_acceptor;
    std::unique_ptr<SearchResponder> m_search;
    std::unique_ptr<DiscoveryResponder> m_discovery; // standards only, when the discovery group could be joined
    std::unique_ptr<OnvifServer> m_onvif; // standards only
    std::unique_ptr<RtspServer> m_rtsp;   // standards only
};

// The CGI answer the camera gives for a command (used by HTTP and the road).
std::string CgiAnswer(const CameraConfig& config, int webPort, int port, const std::string& command, bool accountOk);

// The command name in a CGI text: the value of "cmd=" if present, otherwise
// the text up to the first '&'.
std::string CgiCommandName(const std::string& text);

// The value of `key` in the query of a request target ("/path?a=1&b=2"),
// decoded as a camera's CGI decodes it: "+" is a space and "%XX" the byte
// XX (an escape that is not two hexadecimal digits stays as it is); "" when
// the key is absent. The first occurrence counts.
std::string CgiQueryValue(const std::string& target, const std::string& key);

}
