#include "host/SimCamera.h"

#include "sim/Camera.h"
#include "sim/Options.h"

#include <duktape.h>

#include <cstdlib>
#include <set>
#include <sstream>

namespace host {

namespace {

constexpr const char* kCameraKey = "\xFF" "camera";

bool toInt(const std::string& text, int& out)
{
    char* end = nullptr;
    long v = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end)
        return false;
    out = static_cast<int>(v);
    return true;
}

bool toCodec(const std::string& text, sim::Codec& out)
{
    if (text == "h264")
        out = sim::Codec::H264;
    else if (text == "mjpeg")
        out = sim::Codec::Mjpeg;
    else if (text == "h265")
        out = sim::Codec::H265; // a camera of the standards only
    else
        return false;
    return true;
}

// The numeric settings the host reads itself (more leniently than the
// camera's own option table, as pages have always passed them).
bool isHostSetting(const std::string& key)
{
    static const std::set<std::string> keys = { "kind", "rows", "cols", "ptflag", "rs485", "httpsport", "width", "height", "fps", "keyint", "audio", "replyformat" };
    return keys.count(key) > 0;
}

bool isCameraOption(const std::string& key)
{
    for (const auto& option : sim::CameraOptions())
        if (key == option.key)
            return true;
    return false;
}

bool configure(const std::string& description, sim::CameraConfig& config, std::string& error)
{
    std::stringstream parts(description);
    std::string part;
    std::getline(parts, part, ','); // "sim", or "onvif" for a camera of the standards
    if (part == "onvif")
        config.dialect = sim::Dialect::Standards;
    std::string user = config.accounts[0].user, password = config.accounts[0].password;
    while (std::getline(parts, part, ',')) {
        auto eq = part.find('=');
        if (eq == std::string::npos) {
            error = "--camera sim takes key=value settings, not " + part;
            return false;
        }
        std::string key = part.substr(0, eq), value = part.substr(eq + 1);
        int n = 0;
        bool ok = true;
        if (key == "user")
            user = value;
        else if (key == "password")
            password = value;
        else if (key == "product")
            config.product = value;
        else if (key == "model")
            config.model = value;
        else if (key == "name")
            config.name = value;
        else if (key == "codec")
            ok = toCodec(value, config.video.codec);
        else if (!isHostSetting(key)) {
            // The camera's other settings, as tiravex-camsim takes them.
            if (!isCameraOption(key)) {
                error = "unknown camera setting " + key;
                return false;
            }
            ok = sim::ApplyCameraOption(config, key, value);
        } else if ((ok = toInt(value, n))) {
            if (key == "kind")
                config.deviceKind = n;
            else if (key == "rows")
                config.rows = n;
            else if (key == "cols")
                config.cols = n;
            else if (key == "ptflag")
                config.ptFlag = n;
            else if (key == "rs485")
                config.rs485Flag = n;
            else if (key == "httpsport")
                config.httpsPort = n;
            else if (key == "width")
                config.video.width = n;
            else if (key == "height")
                config.video.height = n;
            else if (key == "fps")
                config.video.fps = n;
            else if (key == "keyint" && n > 0)
                config.video.keyInterval = n;
            else if (key == "audio")
                config.audio = n;
            else if (key == "replyformat")
                config.replyFormat = n != 0;
            else {
                error = "unknown camera setting " + key;
                return false;
            }
        }
        if (!ok) {
            error = "bad value for camera setting " + key + ": " + value;
            return false;
        }
    }
    config.accounts[0] = { user, password };
    return true;
}

sim::Camera* cameraOf(duk_context* ctx)
{
    duk_push_global_stash(ctx);
    duk_get_prop_string(ctx, -1, kCameraKey);
    auto* camera = static_cast<sim::Camera*>(duk_get_pointer(ctx, -1));
    duk_pop_2(ctx);
    return camera;
}

int jsSendControl(duk_context* ctx)
{
    std::vector<std::uint8_t> bytes;
    if (duk_is_array(ctx, 1)) {
        duk_size_t n = duk_get_length(ctx, 1);
        for (duk_size_t i = 0; i < n; ++i) {
            duk_get_prop_index(ctx, 1, static_cast<duk_uarridx_t>(i));
            bytes.push_back(static_cast<std::uint8_t>(duk_to_int(ctx, -1)));
            duk_pop(ctx);
        }
    }
    cameraOf(ctx)->SendControl(duk_to_int(ctx, 0), bytes);
    return 0;
}

int jsStallVideo(duk_context* ctx)
{
    cameraOf(ctx)->StallVideo(duk_to_int(ctx, 0));
    return 0;
}

int jsDropLink(duk_context* ctx)
{
    cameraOf(ctx)->DropLink();
    return 0;
}

int jsSetVideo(duk_context* ctx)
{
    sim::Camera* camera = cameraOf(ctx);
    sim::VideoSettings v = camera->Config().video;
    if (duk_is_object(ctx, 0)) {
        if (duk_get_prop_string(ctx, 0, "codec") && duk_is_string(ctx, -1))
            toCodec(duk_get_string(ctx, -1), v.codec);
        duk_pop(ctx);
        for (auto [name, field] : { std::pair { "width", &v.width }, std::pair { "height", &v.height }, std::pair { "fps", &v.fps } }) {
            if (duk_get_prop_string(ctx, 0, name) && duk_is_number(ctx, -1))
                *field = duk_get_int(ctx, -1);
            duk_pop(ctx);
        }
    }
    camera->SetVideo(v);
    return 0;
}

int jsSetAudio(duk_context* ctx)
{
    cameraOf(ctx)->SetAudio(duk_to_int(ctx, 0));
    return 0;
}

int jsAlarm(duk_context* ctx)
{
    cameraOf(ctx)->Alarm(duk_to_int(ctx, 0));
    return 0;
}

int jsSnapshot(duk_context* ctx)
{
    cameraOf(ctx)->Snapshot();
    return 0;
}

int jsIgnoreCgi(duk_context* ctx)
{
    cameraOf(ctx)->IgnoreCgi(duk_to_boolean(ctx, 0));
    return 0;
}

int jsDelayCgi(duk_context* ctx)
{
    cameraOf(ctx)->DelayCgi(duk_to_int(ctx, 0));
    return 0;
}

// claimSizes([[w, h], ...], periodMs, "picture" | "params"): live video
// becomes size claims; an empty list ends them.
int jsClaimSizes(duk_context* ctx)
{
    sim::SizeClaims claims;
    if (duk_is_array(ctx, 0)) {
        duk_size_t n = duk_get_length(ctx, 0);
        for (duk_size_t i = 0; i < n; ++i) {
            duk_get_prop_index(ctx, 0, static_cast<duk_uarridx_t>(i));
            sim::PictureSize size;
            if (duk_is_array(ctx, -1)) {
                duk_get_prop_index(ctx, -1, 0);
                size.width = duk_to_int(ctx, -1);
                duk_pop(ctx);
                duk_get_prop_index(ctx, -1, 1);
                size.height = duk_to_int(ctx, -1);
                duk_pop(ctx);
            }
            duk_pop(ctx);
            claims.sizes.push_back(size);
        }
    }
    if (duk_is_number(ctx, 1))
        claims.periodMs = duk_get_int(ctx, 1);
    if (duk_is_string(ctx, 2) && std::string(duk_get_string(ctx, 2)) == "params")
        claims.content = sim::ClaimContent::ParamsOnly;
    cameraOf(ctx)->ClaimSizes(claims);
    return 0;
}

// sendRaw("roads" | "media", bytes, repeat, close): bytes as they are.
int jsSendRaw(duk_context* ctx)
{
    auto target = std::string(duk_to_string(ctx, 0)) == "media" ? sim::Camera::Target::Media : sim::Camera::Target::Roads;
    std::vector<std::uint8_t> bytes;
    if (duk_is_array(ctx, 1)) {
        duk_size_t n = duk_get_length(ctx, 1);
        for (duk_size_t i = 0; i < n; ++i) {
            duk_get_prop_index(ctx, 1, static_cast<duk_uarridx_t>(i));
            bytes.push_back(static_cast<std::uint8_t>(duk_to_int(ctx, -1)));
            duk_pop(ctx);
        }
    }
    int repeat = duk_is_number(ctx, 2) ? duk_get_int(ctx, 2) : 1;
    auto after = duk_to_boolean(ctx, 3) ? sim::Camera::AfterRaw::Close : sim::Camera::AfterRaw::KeepOpen;
    cameraOf(ctx)->SendRaw(target, std::move(bytes), repeat, after);
    return 0;
}

int jsStopReading(duk_context* ctx)
{
    cameraOf(ctx)->StopReading(duk_to_boolean(ctx, 0));
    return 0;
}

int jsCgiLog(duk_context* ctx)
{
    auto log = cameraOf(ctx)->CgiLog();
    duk_idx_t array = duk_push_array(ctx);
    for (std::size_t i = 0; i < log.size(); ++i) {
        duk_push_string(ctx, log[i].c_str());
        duk_put_prop_index(ctx, array, static_cast<duk_uarridx_t>(i));
    }
    return 1;
}

// The road commands the camera received, oldest first, each as the values
// the control passed: {command, a, b, text}.
int jsRoadLog(duk_context* ctx)
{
    auto log = cameraOf(ctx)->Commands();
    duk_idx_t array = duk_push_array(ctx);
    for (std::size_t i = 0; i < log.size(); ++i) {
        duk_push_object(ctx);
        duk_push_int(ctx, log[i].command);
        duk_put_prop_string(ctx, -2, "command");
        duk_push_int(ctx, log[i].a);
        duk_put_prop_string(ctx, -2, "a");
        duk_push_int(ctx, log[i].b);
        duk_put_prop_string(ctx, -2, "b");
        duk_push_string(ctx, log[i].text.c_str());
        duk_put_prop_string(ctx, -2, "text");
        duk_put_prop_index(ctx, array, static_cast<duk_uarridx_t>(i));
    }
    return 1;
}

int jsRoadsOpen(duk_context* ctx)
{
    duk_push_int(ctx, cameraOf(ctx)->RoadsOpen());
    return 1;
}

int jsChannelsOpen(duk_context* ctx)
{
    duk_push_int(ctx, cameraOf(ctx)->ChannelsOpen());
    return 1;
}

int jsSoundMsSent(duk_context* ctx)
{
    duk_push_number(ctx, static_cast<double>(cameraOf(ctx)->SoundMsSent()));
    return 1;
}

int jsTalkBlocks(duk_context* ctx)
{
    auto blocks = cameraOf(ctx)->TalkBlocks();
    duk_push_object(ctx);
    for (auto [size, count] : blocks) {
        duk_push_int(ctx, count);
        duk_put_prop_string(ctx, -2, std::to_string(size).c_str());
    }
    return 1;
}

}

std::shared_ptr<sim::Camera> StartSimCamera(const std::string& description, std::string& error)
{
    sim::CameraConfig config;
    if (!configure(description, config, error))
        return nullptr;
    std::shared_ptr<sim::Camera> camera(sim::Camera::Start(config).release());
    if (!camera) {
        error = "the simulated camera could not start";
        return nullptr;
    }
    // A page's device search finds the embedded camera, unless the user
    // named the targets.
    if (!std::getenv("TIRAVEX_SEARCH_TARGETS") && camera->SearchPort() > 0) {
        std::string target = camera->Address() + ":" + std::to_string(camera->SearchPort());
        setenv("TIRAVEX_SEARCH_TARGETS", target.c_str(), 0);
    }
    return camera;
}

std::shared_ptr<sim::Camera> InstallSimCamera(PageHost& page, const std::string& description, std::string& error)
{
    std::shared_ptr<sim::Camera> camera = StartSimCamera(description, error);
    if (!camera)
        return nullptr;
    page.AddInstaller([camera](duk_context* ctx) {
        duk_push_global_stash(ctx);
        duk_push_pointer(ctx, camera.get());
        duk_put_prop_string(ctx, -2, kCameraKey);
        duk_pop(ctx);

        duk_push_object(ctx);
        duk_push_string(ctx, camera->Address().c_str());
        duk_put_prop_string(ctx, -2, "address");
        duk_push_int(ctx, camera->Port());
        duk_put_prop_string(ctx, -2, "port");
        duk_push_int(ctx, camera->WebPort());
        duk_put_prop_string(ctx, -2, "webPort");
        duk_push_string(ctx, camera->User().c_str());
        duk_put_prop_string(ctx, -2, "user");
        duk_push_string(ctx, camera->Password().c_str());
        duk_put_prop_string(ctx, -2, "password");
        struct Native {
            const char* name;
            duk_c_function function;
            duk_idx_t args;
        };
        const Native methods[] = {
            { "sendControl", jsSendControl, 2 }, { "stallVideo", jsStallVideo, 1 }, { "dropLink", jsDropLink, 0 },
            { "setVideo", jsSetVideo, 1 }, { "setAudio", jsSetAudio, 1 }, { "alarm", jsAlarm, 1 }, { "snapshot", jsSnapshot, 0 },
            { "ignoreCgi", jsIgnoreCgi, 1 }, { "delayCgi", jsDelayCgi, 1 }, { "cgiLog", jsCgiLog, 0 },
            { "claimSizes", jsClaimSizes, 3 }, { "sendRaw", jsSendRaw, 4 }, { "stopReading", jsStopReading, 1 }, { "roadLog", jsRoadLog, 0 }, { "talkBlocks", jsTalkBlocks, 0 }, { "soundMsSent", jsSoundMsSent, 0 },
            { "roadsOpen", jsRoadsOpen, 0 }, { "channelsOpen", jsChannelsOpen, 0 },
        };
        for (const auto& m : methods) {
            duk_push_c_function(ctx, m.function, m.args);
            duk_put_prop_string(ctx, -2, m.name);
        }
        duk_put_global_string(ctx, "camera");
    });
    return camera;
}

}
