#pragma once
// Settings of one simulated camera. Plain value type; the defaults make a
// camera of the newest device family that accepts admin with an empty
// password, streams 640 x 480 H.264 at 15 frames per second and answers on
// loopback ports chosen by the system.

#include "sim/Hostile.h"

#include "kznet/Protocol.h"

#include <cstdint>
#include <string>
#include <vector>

namespace sim {

// H.265 is served by the camera of the standards only.
enum class Codec { H264, Mjpeg, H265 };

// Which protocols the camera speaks: ours (road, media channels, CGI,
// search), or the standards (ONVIF device and media services over HTTP,
// RTSP through GStreamer's server), as a camera no one on the team wrote.
enum class Dialect { Ours, Standards };

// The standards-mode camera's sound on RTSP: G.711 mu-law or A-law, G.726
// at 32 kbit/s in RTP's bit order (RFC 3551) or in AAL2's under the same
// SDP name (as many cameras send it), or AAC at 16 kHz. Its ONVIF back
// channel takes A-law when its sound is A-law, mu-law otherwise.
enum class Sound { MuLaw, ALaw, G726, G726Aal2, Aac };

struct Account {
    std::string user;
    std::string password;
};

struct VideoSettings {
    Codec codec = Codec::H264;
    int width = 640;
    int height = 480;
    int fps = 15;
    int keyInterval = 30; // frames between key frames
    bool saysRate = true; // frame headers carry fps; false: 0, as from a camera that does not know its rate
};

// A recording stored on the camera: played back from the same moving
// pattern, its frame counter being the frame number in the recording.
struct Recording {
    std::string path;
    int seconds = 5;
    VideoSettings video { Codec::H264, 320, 240, 10, 10 };
    bool broken = false; // opening it reports "cannot be read"
};

struct CameraConfig {
    std::vector<Account> accounts { { "admin", "" } };
    int deviceKind = kz::kDeviceKind101;
    std::string product = "TVX-C100";
    std::string model = "TVX-C100";
    std::string name = "Tiravex camera";
    std::string deviceId = "TVX000000001"; // 12 characters
    int rows = 10;
    int cols = 10;
    int ptFlag = 1;
    int rs485Flag = 0;
    int httpsPort = 443;
    bool replyFormat = false;
    VideoSettings video;
    int audio = kz::kAudioPcm;
    // The stream mode its device record (message 200) names. In raw-audio
    // mode G.726 sound is sent already decoded, as 16-bit PCM.
    std::uint8_t streamMode = kz::kStreamModePlain;
    int toneHz = 440;
    std::vector<Recording> recordings { Recording { "/record/clip1.avi" } };
    bool recordingsGiven = false; // set by the first recording option, which replaces the default
    int cgiDelayMs = 0; // every CGI answer is held this long from its request; 0 = answered at once
    // Hostile behaviour from the start (see Camera::ClaimSizes and StopReading).
    SizeClaims claims;
    bool deaf = false;

    Dialect dialect = Dialect::Ours;
    // Standards: the camera's clock runs this many seconds ahead of the
    // machine's (UsernameTokens are checked against it).
    int clockOffsetSeconds = 0;
    // Standards: the longest event subscription the camera grants, in
    // seconds (0: an hour); a client renews a short one often.
    int eventSubscriptionSeconds = 0;
    Sound sound = Sound::MuLaw;
    // Standards: whether a Media2 service with privacy masks is served.
    bool onvifMasks = true;

    std::string address = "127.0.0.1";
    int port = 0;       // control road and media channels (standards: RTSP); 0 = chosen by the system
    int webPort = 0;    // CGI over HTTP (standards: the ONVIF services); 0 = chosen by the system
    int searchPort = 0; // search answers; 0 = chosen by the system, -1 = none
    std::size_t searchRecordBytes = kz::kRecordLong; // kz::kRecordShort, kRecordMedium or kRecordLong
};

}
