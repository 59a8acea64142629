#include "sim/Options.h"

#include "kznet/Wire.h"

#include <cstdlib>

namespace sim {

namespace {

bool toInt(const std::string& text, int& out)
{
    if (text.empty())
        return false;
    char* end = nullptr;
    long v = std::strtol(text.c_str(), &end, 10);
    if (*end || v < -1000000 || v > 1000000)
        return false;
    out = static_cast<int>(v);
    return true;
}

bool positiveEven(int n) { return n > 0 && n % 2 == 0; }

// "WxH[:WxH...]", each size one SizeClaimFrame can make.
bool toSizes(const std::string& text, std::vector<PictureSize>& out)
{
    std::vector<PictureSize> sizes;
    std::size_t at = 0;
    while (at <= text.size()) {
        std::size_t end = text.find(':', at);
        if (end == std::string::npos)
            end = text.size();
        std::string entry = text.substr(at, end - at);
        std::size_t x = entry.find('x');
        PictureSize size;
        if (x == std::string::npos || !toInt(entry.substr(0, x), size.width) || !toInt(entry.substr(x + 1), size.height)
            || SizeClaimFrame(size, ClaimContent::ParamsOnly).empty())
            return false;
        sizes.push_back(size);
        at = end + 1;
    }
    out = std::move(sizes);
    return true;
}
bool isPort(int n) { return n >= 0 && n <= 65535; }

}

const std::vector<OptionHelp>& CameraOptions()
{
    static const std::vector<OptionHelp> options = {
        { "dialect", "ours|onvif", "protocols: ours, or the standards (ONVIF services on the web port, RTSP on the port) (default ours)" },
        { "sound", "mulaw|alaw|g726|g726aal2|aac", "standards: the sound's coding; g726aal2 packs the codes in AAL2's order under RTP's name (default mulaw)" },
        { "masks", "0|1", "standards: a Media2 service with privacy masks (default 1)" },
        { "clockoffset", "S", "standards: the camera's clock runs S seconds ahead of the machine's (default 0)" },
        { "address", "A", "address to serve on (default 127.0.0.1)" },
        { "port", "N", "control road and media port (0 = chosen by the system)" },
        { "webport", "N", "HTTP (CGI) port (0 = chosen by the system)" },
        { "searchport", "N", "UDP search port (0 = chosen by the system, -1 = none)" },
        { "searchrecord", "N", "length of the search answer: 65, 98 or 106 (default 106)" },
        { "user", "NAME", "user of the first account (default admin)" },
        { "password", "TEXT", "password of the first account (default empty)" },
        { "account", "NAME:PASS", "one more account (may be repeated)" },
        { "kind", "K", "device kind 0, 100, 101 or 102 (default 101)" },
        { "product", "TEXT", "product name, answered by getDevInfo (default TVX-C100)" },
        { "model", "TEXT", "model name, answered by getProductAllInfo (default TVX-C100)" },
        { "name", "TEXT", "device name in the login reply and search answers (default \"Tiravex camera\")" },
        { "id", "TEXT", "device identifier, at most 12 characters (default TVX000000001)" },
        { "rows", "N", "motion grid rows (default 10)" },
        { "cols", "N", "motion grid columns (default 10)" },
        { "ptflag", "0|1", "pan/tilt flag (default 1)" },
        { "rs485", "0|1", "RS-485 flag (default 0)" },
        { "httpsport", "N", "HTTPS port reported by getPortInfo (default 443)" },
        { "replyformat", "0|1", "reply-format flag: padded control messages (default 0)" },
        { "codec", "h264|mjpeg|h265", "live video codec; h265 for the standards only (default h264)" },
        { "width", "N", "live picture width, even (default 640)" },
        { "height", "N", "live picture height, even (default 480)" },
        { "fps", "N", "live frames per second (default 15)" },
        { "keyint", "N", "frames between key frames (default 30)" },
        { "saysrate", "0|1", "frame headers carry the frame rate; 0 gives 0, as a camera that does not know it (default 1)" },
        { "audio", "0|1|2", "audio coding: 0 PCM, 1 G.726 at 16 kbit/s, 2 IMA ADPCM (default 0)" },
        { "streammode", "0|2|4|8", "the device record's stream mode; 4 sends G.726 sound already decoded (default 0)" },
        { "tone", "HZ", "frequency of the audio tone (default 440)" },
        { "cgidelay", "MS", "hold every CGI answer (HTTP and road) this many milliseconds (default 0)" },
        { "claims", "WxH[:WxH...]", "hostile: live video is H.264 key frames claiming these sizes in turn, even sides up to 65536 (default none)" },
        { "claimms", "MS", "hostile: time between two size claims (default 50)" },
        { "claimcontent", "picture|params", "hostile: a claim is a flat grey picture that decodes, or its parameter sets only (default picture)" },
        { "deaf", "0|1", "hostile: the camera reads nothing from its roads and media channels (default 0)" },
        { "recording", "PATH[:SECONDS]", "a recording for playback (default /record/clip1.avi, 5 s); the first one given replaces the default" },
    };
    return options;
}

bool ApplyCameraOption(CameraConfig& c, const std::string& key, const std::string& value)
{
    int n = 0;
    bool isInt = toInt(value, n);
    if (key == "dialect") {
        if (value != "ours" && value != "onvif")
            return false;
        c.dialect = value == "ours" ? Dialect::Ours : Dialect::Standards;
        return true;
    }
    if (key == "sound") {
        static const std::pair<const char*, Sound> kSounds[] = {
            { "mulaw", Sound::MuLaw }, { "alaw", Sound::ALaw }, { "g726", Sound::G726 }, { "g726aal2", Sound::G726Aal2 }, { "aac", Sound::Aac },
        };
        for (const auto& [name, sound] : kSounds)
            if (value == name)
                return (c.sound = sound), true;
        return false;
    }
    if (key == "masks") return isInt && (n == 0 || n == 1) && ((c.onvifMasks = n == 1), true);
    if (key == "clockoffset") return isInt && ((c.clockOffsetSeconds = n), true);
    if (key == "address") { c.address = value; return !value.empty(); }
    if (key == "port") return isInt && isPort(n) && ((c.port = n), true);
    if (key == "webport") return isInt && isPort(n) && ((c.webPort = n), true);
    if (key == "searchport") return isInt && (n == -1 || isPort(n)) && ((c.searchPort = n), true);
    if (key == "searchrecord")
        return isInt && kz::IsRecordLength(static_cast<std::size_t>(n)) && ((c.searchRecordBytes = static_cast<std::size_t>(n)), true);
    if (key == "user") { c.accounts[0].user = value; return true; }
    if (key == "password") { c.accounts[0].password = value; return true; }
    if (key == "account") {
        std::size_t colon = value.find(':');
        if (colon == std::string::npos || colon == 0)
            return false;
        c.accounts.push_back({ value.substr(0, colon), value.substr(colon + 1) });
        return true;
    }
    if (key == "kind")
        return isInt && (n == kz::kDeviceKindOld || n == kz::kDeviceKind100 || n == kz::kDeviceKind101 || n == kz::kDeviceKind102) && ((c.deviceKind = n), true);
    if (key == "product") { c.product = value; return true; }
    if (key == "model") { c.model = value; return true; }
    if (key == "name") { c.name = value; return true; }
    if (key == "id") return value.size() <= kz::kReplyDeviceIdBytes && ((c.deviceId = value), true);
    if (key == "rows") return isInt && n > 0 && ((c.rows = n), true);
    if (key == "cols") return isInt && n > 0 && ((c.cols = n), true);
    if (key == "ptflag") return isInt && ((c.ptFlag = n), true);
    if (key == "rs485") return isInt && ((c.rs485Flag = n), true);
    if (key == "httpsport") return isInt && isPort(n) && ((c.httpsPort = n), true);
    if (key == "replyformat") return isInt && ((c.replyFormat = n != 0), true);
    if (key == "codec") {
        if (value != "h264" && value != "mjpeg" && value != "h265")
            return false;
        c.video.codec = value == "h264" ? Codec::H264 : value == "h265" ? Codec::H265 : Codec::Mjpeg;
        return true;
    }
    if (key == "width") return isInt && positiveEven(n) && ((c.video.width = n), true);
    if (key == "height") return isInt && positiveEven(n) && ((c.video.height = n), true);
    if (key == "fps") return isInt && n > 0 && n <= 120 && ((c.video.fps = n), true);
    if (key == "keyint") return isInt && n > 0 && ((c.video.keyInterval = n), true);
    if (key == "saysrate") return isInt && (n == 0 || n == 1) && ((c.video.saysRate = n == 1), true);
    if (key == "streammode")
        return isInt && (n == kz::kStreamModePlain || n == kz::kStreamModeVariant10 || n == kz::kStreamModeRawAudio || n == kz::kStreamModeVariant12)
            && ((c.streamMode = static_cast<std::uint8_t>(n)), true);
    if (key == "audio") return isInt && (n == kz::kAudioPcm || n == kz::kAudioG726 || n == kz::kAudioAdpcm) && ((c.audio = n), true);
    if (key == "tone") return isInt && n > 0 && n < 4000 && ((c.toneHz = n), true);
    if (key == "cgidelay") return isInt && n >= 0 && ((c.cgiDelayMs = n), true);
    if (key == "claims") return toSizes(value, c.claims.sizes);
    if (key == "claimms") return isInt && n > 0 && ((c.claims.periodMs = n), true);
    if (key == "claimcontent") {
        if (value != "picture" && value != "params")
            return false;
        c.claims.content = value == "picture" ? ClaimContent::Picture : ClaimContent::ParamsOnly;
        return true;
    }
    if (key == "deaf") return isInt && ((c.deaf = n != 0), true);
    if (key == "recording") {
        Recording r;
        std::size_t colon = value.rfind(':');
        int seconds = 0;
        if (colon != std::string::npos && toInt(value.substr(colon + 1), seconds)) {
            if (seconds <= 0)
                return false;
            r.path = value.substr(0, colon);
            r.seconds = seconds;
        } else {
            r.path = value;
        }
        if (r.path.empty() || r.path.size() > kz::wire::kMaxAddress || kz::wire::IsLiveAddress(r.path))
            return false;
        if (!c.recordingsGiven)
            c.recordings.clear();
        c.recordingsGiven = true;
        c.recordings.push_back(r);
        return true;
    }
    return false;
}

bool ApplyCameraOptions(CameraConfig& config, const std::string& list)
{
    std::size_t at = 0;
    while (at < list.size()) {
        std::size_t end = list.find(',', at);
        if (end == std::string::npos)
            end = list.size();
        std::string entry = list.substr(at, end - at);
        at = end + 1;
        if (entry.empty())
            continue;
        std::size_t eq = entry.find('=');
        if (eq == std::string::npos || !ApplyCameraOption(config, entry.substr(0, eq), entry.substr(eq + 1)))
            return false;
    }
    return true;
}

}
