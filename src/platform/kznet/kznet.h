#pragma once
// The camera network library: the control road (login and the camera's
// control messages), media channels (live video and sound, talk, playback
// of recordings), device search, and a small HTTP client.
//
// Handles are opaque pointer-sized values; 0 is none, and every function
// given 0 (or a handle already closed) does nothing and returns -1 or 0.
// Callbacks are plain C functions called on the library's own threads (one
// per road, channel and search); they must not block for long. No callback
// starts after the close of its handle has returned. No exception leaves
// the library. docs/WIRE-PROTOCOL.md describes the protocol and timings.
//
// Opening never blocks: kz_open_ctrl_road and kz_open_device return a
// handle at once (0 only for missing arguments) and connect on their own
// thread. A road that cannot log in delivers one login reply (control
// message 100) with a non-zero status: the camera's own, or -1 when there
// is no connection and -2 when the camera does not answer. A channel that
// cannot connect, is refused, or loses its camera reports status 1 once.

#include "kznet/Protocol.h"

#include <cstddef>
#include <cstdint>

extern "C" {

// The login record, owned by the caller and read by the library: 184 bytes,
// little-endian, no padding but the last two bytes.
struct LoginInfo {
    std::int32_t groupID;     // 0: the page's group id
    char ip[128];             // 4: camera address, zero-terminated
    std::int32_t port;        // 132: media and control port
    char username[21];        // 136: zero-terminated
    char passwd[21];          // 157: zero-terminated
    std::int16_t streamType;  // 178: requested stream; also the audio coding
    std::uint16_t webport;    // 180: HTTP port
    std::uint8_t reserved[2]; // 182: zero
};

// One frame of a media channel. Bytes 0..15 and 40..47 are the library's
// own; the caller reads only the named fields.
struct FrameRecord {
    std::uint32_t kind;          // 0: frame kind (kKzFrame...)
    std::uint32_t sequence;      // 4: frame number on the channel
    std::uint32_t timestamp;     // 8: milliseconds since the channel opened
    std::uint32_t flags;         // 12: library's own
    std::uint32_t passThrough1;  // 16: copied to the decoded picture
    std::uint32_t passThrough2;  // 20: copied to the decoded picture
    std::int32_t frameRate;      // 24: frames per second
    std::int32_t size;           // 28: payload bytes
    std::int32_t keyFrame;       // 32: non-zero for a key frame
    std::int32_t bitRate;        // 36: bits per second
    std::uint32_t width;         // 40: library's own: picture width when known
    std::uint32_t height;        // 44: library's own: picture height when known
    const std::uint8_t* payload; // 48: the frame's bytes, valid during the callback
};

using KzHandle = void*;

// (type, payload, user, payload length)
using KzCtrlCallback = int (*)(int type, const char* data, void* user, int length);
// (status type, pointer to a 32-bit result or null, user, value)
using KzStatusCallback = int (*)(int type, int* data, void* user, int value);
// (frame kind, frame, user, window id given at open)
using KzFrameCallback = int (*)(int kind, FrameRecord* frame, void* user, int id);
// (answer type, device record, record length, user); -4 ends a one-device search
using KzSearchCallback = int (*)(int type, const char* record, int length, void* user);

// Control road.
KzHandle kz_open_ctrl_road(int mode, LoginInfo* login, KzCtrlCallback callback, void* user, unsigned char secure);
int kz_post_ctrl_road_msg(KzHandle road, int command, std::intptr_t a, std::intptr_t b);
int kz_close_ctrl_road(KzHandle road);

// Media channels. `address` names the stream: empty or a live name for the
// live stream, a recording's path on the camera for playback. `tag` is the
// window id in its low 16 bits with bit 16 as the caller gives it; the
// frame and link-loss callbacks get the id back as their last argument.
KzHandle kz_open_device(int kind, const char* address, LoginInfo* login, int streamParam, int tag, int constant, KzStatusCallback status, KzFrameCallback frame, void* user, unsigned char secure);
int kz_close_device(KzHandle stream);
int kz_pause_media(KzHandle stream);
int kz_resume_media(KzHandle stream);
int kz_start_media(KzHandle stream, int selector);
int kz_stop_media(KzHandle stream, int selector);
int kz_seek_record(KzHandle stream, double position);
int kz_post_media_msg(KzHandle stream, int code, int a, int b);
int kz_send_talk_data(KzHandle stream, int reserved1, int reserved2, int reserved3, int size, const char* data);

// Device search: `oneDevice` 0 for all answers, 1 to end at the first one
// the callback accepts (by returning -4).
KzHandle kz_search_devices(KzSearchCallback callback, void* user, int parameter, int oneDevice);
int kz_close_search(KzHandle search);

// HTTP client.
KzHandle kz_create_HttpParser();
int kz_mallocSendData(KzHandle parser, int size);
int kz_set_httpRequest(KzHandle parser, const char* path, const char* method, const char* host, int reserved1, int reserved2);
int kz_create_HttpSocket(KzHandle parser);
int kz_httpIsConnected(KzHandle parser);
int kz_httpConnect(KzHandle parser, const char* address, int port);
int kz_httpRequest(KzHandle parser);
int kz_httpResponse(KzHandle parser, int timeout);
const char* kz_GetContentData(KzHandle parser);
int kz_closeHttpSocket(KzHandle parser);
int kz_freeSendData(KzHandle parser);
int kz_close_HttpParser(KzHandle parser);

}

static_assert(sizeof(LoginInfo) == 184, "LoginInfo is 184 bytes");
static_assert(offsetof(LoginInfo, groupID) == 0);
static_assert(offsetof(LoginInfo, ip) == 4);
static_assert(offsetof(LoginInfo, port) == 132);
static_assert(offsetof(LoginInfo, username) == 136);
static_assert(offsetof(LoginInfo, passwd) == 157);
static_assert(offsetof(LoginInfo, streamType) == 178);
static_assert(offsetof(LoginInfo, webport) == 180);
static_assert(offsetof(FrameRecord, passThrough1) == 16);
static_assert(offsetof(FrameRecord, passThrough2) == 20);
static_assert(offsetof(FrameRecord, frameRate) == 24);
static_assert(offsetof(FrameRecord, size) == 28);
static_assert(offsetof(FrameRecord, keyFrame) == 32);
static_assert(offsetof(FrameRecord, bitRate) == 36);
static_assert(offsetof(FrameRecord, payload) == 48);
