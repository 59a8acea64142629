// Our camera's CGI commands on a standard camera: the ones the control and
// the shipped pages use are translated into ONVIF requests or answered from
// the login's ONVIF answers; any other is answered "not supported".

#include "kznet/Onvif.h"
#include "kznet/OnvifAnalytics.h"
#include "kznet/OnvifMasks.h"
#include "kznet/OnvifReplay.h"
#include "kznet/Protocol.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>

namespace kz::onvif {

namespace {

// Pan and tilt speed of the moves, in ONVIF's generic space (-1..1).
constexpr double kPtzSpeed = 0.5;
// A PTZ request may take this long.
constexpr int kPtzRequestTimeoutMs = 3000;
// Asking for the snapshot's address and fetching the picture may take this long.
constexpr int kSnapshotTimeoutMs = 5000;
constexpr int kHexBase = 16;

// The pan and tilt speeds of a road pan/tilt code.
struct PtzDirection {
    int code;
    double pan;
    double tilt;
};
constexpr PtzDirection kPtzDirections[] = {
    { kPtzUp, 0, kPtzSpeed }, { kPtzDown, 0, -kPtzSpeed }, { kPtzLeft, -kPtzSpeed, 0 }, { kPtzRight, kPtzSpeed, 0 },
    { kPtzUpLeft, -kPtzSpeed, kPtzSpeed }, { kPtzUpRight, kPtzSpeed, kPtzSpeed }, { kPtzDownLeft, -kPtzSpeed, -kPtzSpeed },
    { kPtzDownRight, kPtzSpeed, -kPtzSpeed },
};

// The CGI pan/tilt commands pages send, as road pan/tilt codes.
struct CgiPtz {
    const char* command;
    int code;
};
constexpr CgiPtz kCgiPtz[] = {
    { "ptzMoveUp", kPtzUp }, { "ptzMoveDown", kPtzDown }, { "ptzMoveLeft", kPtzLeft }, { "ptzMoveRight", kPtzRight },
    { "ptzMoveTopLeft", kPtzUpLeft }, { "ptzMoveTopRight", kPtzUpRight }, { "ptzMoveBottomLeft", kPtzDownLeft },
    { "ptzMoveBottomRight", kPtzDownRight }, { "ptzStopRun", kPtzStop },
};

std::string element(const char* name, const std::string& value)
{
    std::string escaped;
    for (char c : value)
        escaped += c == '<' ? std::string("&lt;") : c == '&' ? std::string("&amp;") : std::string(1, c);
    return std::string("<") + name + ">" + escaped + "</" + name + ">";
}

std::string deviceName(const DeviceInformation& device)
{
    return device.manufacturer.empty() ? device.model : device.manufacturer + " " + device.model;
}

// The camera's snapshot, handed to the road as our camera's picture
// message; the CGI result of the command.
int snapshot(const Session& session, const std::atomic<bool>* cancel)
{
    using namespace cgi;
    std::string jpeg;
    switch (session.Snapshot(jpeg, Clock::now() + std::chrono::milliseconds(kSnapshotTimeoutMs), cancel)) {
    case Session::Picture::Ok:
        return session.DeliverPicture(jpeg) ? kResultOk : kResultFailed;
    case Session::Picture::Refused:
        return kResultBadAccount;
    case Session::Picture::Unsupported:
        return kResultUnsupported;
    case Session::Picture::Failed:
        break;
    }
    return kResultFailed;
}

int gridResult(GridResult result)
{
    using namespace cgi;
    switch (result) {
    case GridResult::Ok: return kResultOk;
    case GridResult::Unsupported: return kResultUnsupported;
    case GridResult::Refused: return kResultBadAccount;
    case GridResult::Failed:
    case GridResult::BadCells: break;
    }
    return kResultFailed;
}

// The grid as our camera's answer: one "<areaN>" a row, each mask as the
// editor writes it (a signed 16-bit number).
int readGrid(const Session& session, std::string& fields, const std::atomic<bool>* cancel)
{
    MotionGrid grid;
    GridResult result = ReadMotionGrid(session, grid, cancel);
    if (result != GridResult::Ok)
        return gridResult(result);
    for (std::size_t row = 0; row < grid.masks.size(); ++row) {
        std::string name = cgi::kAreaPrefix + std::to_string(row);
        fields += element(name.c_str(), std::to_string(static_cast<std::int16_t>(grid.masks[row])));
    }
    return cgi::kResultOk;
}

// The rows given as "areaN" parameters are saved; the others stay as the
// camera has them. Without any, nothing of the command can be carried out.
int saveGrid(const Session& session, const std::string& request, const std::atomic<bool>* cancel)
{
    // A request target ("/cgi-bin/...?cmd=...") or the road's CGI text ("cmd=...&area0=3").
    const std::string query = request.find('?') == std::string::npos ? "?" + request : request;
    std::vector<std::uint16_t> masks(kMaxGridRows, 0);
    std::vector<bool> given(kMaxGridRows, false);
    for (int row = 0; row < kMaxGridRows; ++row) {
        const std::string key = cgi::kAreaPrefix + std::to_string(row);
        const std::string pair = "&" + key + "=";
        if (query.find(pair) == std::string::npos && query.find("?" + key + "=") == std::string::npos)
            continue;
        given[static_cast<std::size_t>(row)] = true;
        masks[static_cast<std::size_t>(row)] = static_cast<std::uint16_t>(std::strtol(QueryValue(query, key).c_str(), nullptr, 10));
    }
    if (std::none_of(given.begin(), given.end(), [](bool g) { return g; }))
        return cgi::kResultUnsupported;
    return gridResult(WriteMotionGrid(session, masks, given, cancel));
}

}

bool MovePtz(const Session& session, int code, const std::atomic<bool>* cancel)
{
    auto deadline = Clock::now() + std::chrono::milliseconds(kPtzRequestTimeoutMs);
    if (code == kPtzStop)
        return session.Stop(deadline, cancel);
    for (const auto& direction : kPtzDirections)
        if (direction.code == code)
            return session.Move(direction.pan, direction.tilt, deadline, cancel);
    return false;
}

std::string CgiCommandName(const std::string& text)
{
    const std::string key = std::string(cgi::kCommandParam) + "=";
    std::size_t at = text.find(key);
    std::size_t start = at == std::string::npos ? 0 : at + key.size();
    std::size_t end = text.find('&', start);
    return text.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

std::string QueryValue(const std::string& target, const std::string& key)
{
    std::size_t query = target.find('?');
    if (query == std::string::npos)
        return {};
    std::size_t at = query + 1;
    while (at <= target.size()) {
        std::size_t end = target.find('&', at);
        if (end == std::string::npos)
            end = target.size();
        std::string pair = target.substr(at, end - at);
        std::size_t equals = pair.find('=');
        if (pair.substr(0, equals) == key) {
            std::string raw = equals == std::string::npos ? std::string() : pair.substr(equals + 1);
            std::string value;
            for (std::size_t i = 0; i < raw.size(); ++i) {
                if (raw[i] == '+') {
                    value += ' ';
                } else if (raw[i] == '%' && i + 2 < raw.size() && std::isxdigit(static_cast<unsigned char>(raw[i + 1]))
                    && std::isxdigit(static_cast<unsigned char>(raw[i + 2]))) {
                    value += static_cast<char>(std::stoi(raw.substr(i + 1, 2), nullptr, kHexBase));
                    i += 2;
                } else {
                    value += raw[i];
                }
            }
            return value;
        }
        at = end + 1;
    }
    return {};
}

CgiAnswer RelayCgi(const Session& session, const std::string& command, const std::string& request, bool accountOk, const std::atomic<bool>* cancel)
{
    using namespace cgi;
    const DeviceInformation& device = session.Device();
    CgiAnswer answer { kMsgCgiReply, {} };
    int result = kResultUnsupported;
    std::string fields;
    if (command == kGetDevInfo)
        answer.type = kMsgDevInfo;
    else if (command == kGetProductAllInfo)
        answer.type = kMsgProductInfo;
    if (!accountOk) {
        result = kResultBadAccount;
    } else if (command == kGetDevInfo) {
        result = kResultOk;
        fields = element(kProductName, device.model) + element(kSerialNo, device.serial) + element(kDevName, deviceName(device))
            + element(kFirmwareVer, device.firmware) + element(kHardwareVer, device.hardware);
    } else if (command == kGetProductAllInfo) {
        result = kResultOk;
        fields = element(kModelName, device.model) + element(kPtFlag, session.HasPtz() ? "1" : "0") + element(kRs485Flag, "0");
        // The grid's size, when the camera has a cell motion detector (the control takes 10 by 10 otherwise).
        MotionGrid grid;
        GridResult read = ReadMotionGrid(session, grid, cancel);
        if ((read == GridResult::Ok || read == GridResult::BadCells) && grid.editor.rows > 0)
            fields += element(kMotionRows, std::to_string(grid.editor.rows)) + element(kMotionCols, std::to_string(grid.editor.columns));
    } else if (command == kGetMotionConfig) {
        result = readGrid(session, fields, cancel);
    } else if (command == kSetMotionConfig) {
        result = saveGrid(session, request, cancel);
    } else if (command == kTakeSnapshot) {
        result = snapshot(session, cancel);
    } else if (RelayRecordingCgi(session, command, result, fields, cancel)) {
        // the recordings' fields follow the result
    } else if (RelayMaskCgi(session, command, request.find('?') == std::string::npos ? "?" + request : request, result, fields, cancel)) {
        // the masks' fields follow the result
    } else {
        for (const auto& ptz : kCgiPtz)
            if (command == ptz.command && session.HasPtz())
                result = MovePtz(session, ptz.code, cancel) ? kResultOk : kResultUnsupported;
    }
    answer.text = std::string(kResultOpen) + element(kResult, std::to_string(result)) + fields + kResultClose;
    return answer;
}

}
