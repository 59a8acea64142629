#pragma once
// The browser bridge's two vocabularies, each defined once:
//
// - The page stream: what a browser page reads from its session's stream
//   (GET /tiravex/<session>/stream), a sequence of items, each a 12-byte
//   header (type, three zero bytes, a 32-bit view or device number and the
//   payload's length, little-endian) and the payload. /tiravex.js reads it.
// - The worker link: messages between tiravex-serve and the worker process
//   that runs one page's controls, over a local socket: a 4-byte length
//   (of what follows), a 1-byte kind, a 4-byte request id, the payload.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace host::bridge {

// ---- the page stream ----
enum class ItemType : std::uint8_t {
    Event = 1, // JSON [sequence, function name, [arguments...]]
    Layout = 2, // JSON {"views": [...]}: the views the page shows
    Picture = 3, // kPictureHeaderBytes of PictureHeader, then a JPEG
    Sound = 4, // 8 kHz mono 16-bit PCM of one play device (the item's number)
    Ping = 5, // nothing: the stream is alive
    End = 6, // the session ended; text: why
    Microphone = 7, // "1": the controls want the microphone now, "0": no more
    Cursor = 8, // JSON {"css": name, "width", "height", "hot": [x, y], "argb": [words]}: the pointer's shape
    Download = 9, // a file a control saved, for the browser to download: its name (the item's number is its length), then its bytes
    Video = 10, // kVideoHeaderBytes of VideoHeader, then one coded frame as the camera sent it (the item's number is its stream)
};
constexpr std::size_t kItemHeaderBytes = 12;
constexpr std::size_t kItemNumberAt = 4; // the item's number (a view, a device, a stream), in its header
constexpr std::size_t kItemLengthAt = 8; // the payload's length, in its header

// The fields of a picture item, little-endian, before the JPEG.
struct PictureHeader {
    std::uint32_t serial; // the presenter's picture count
    std::int32_t x, y, width, height; // the part of the view the JPEG covers
    std::uint32_t viewWidth, viewHeight;
    std::uint32_t workUs; // reading, comparing and encoding
    double changedMs; // when the screen changed: ms since the epoch (system clock)
};
constexpr std::size_t kPictureHeaderBytes = 40;

// The fields of a video item, little-endian, before the coded frame. The
// page decodes the frame itself and draws `source` of the picture (its
// zoom rectangle) onto `target` of the screen (where the control shows it),
// under the control's own drawing: the views' pictures are transparent
// where the video shows.
enum class VideoCoding : std::uint8_t { H264 = 1, Mjpeg = 2 };
struct VideoHeader {
    std::uint32_t serial; // counts the stream's frames from 1
    VideoCoding coding;
    std::uint8_t keyFrame; // 1: a key frame (H.264: with its parameter sets, Annex B)
    std::uint16_t reserved;
    std::uint32_t width, height; // the picture's size
    std::int32_t source[4]; // left, top, right, bottom in the picture
    std::int32_t target[4]; // left, top, right, bottom on the screen
    double arrivedMs; // when the frame reached the control: ms since the epoch (system clock)
    char codec[16]; // the decoder's name for the coding ("avc1.64001f", "jpeg"), NUL-padded
};
constexpr std::size_t kVideoHeaderBytes = 72;
constexpr std::size_t kVideoCodecChars = 16;
constexpr std::size_t kVideoKeyFrameAt = 5; // the key-frame flag, in the video header

// View numbers: a control's view is its handle; top-level windows and the
// open menu have numbers of their own above every handle.
constexpr std::uint32_t kFirstWindowView = 0x80000000u;
constexpr std::uint32_t kMenuView = 0xFFFFFFFFu;

// Writes an item's header followed by nothing (the caller appends the payload).
std::string ItemHeader(ItemType type, std::uint32_t number, std::size_t payloadBytes);
std::string Item(ItemType type, std::uint32_t number, std::string_view payload);
std::string PictureItem(std::uint32_t view, const PictureHeader& header, const std::uint8_t* jpeg, std::size_t jpegBytes);
std::string VideoItem(std::uint32_t stream, const VideoHeader& header, const std::uint8_t* frame, std::size_t frameBytes);
// A video item's stream and key-frame flag; false when `item` is not a whole video item's header.
bool ReadVideoItem(std::string_view item, std::uint32_t& stream, bool& keyFrame);

// ---- the worker link ----
enum class LinkKind : std::uint8_t {
    // tiravex-serve to the worker
    Request = 1, // JSON; answered by a Reply with the same id
    Input = 2, // JSON {"events": [...]}; no answer (a menu may be waiting for the next)
    Talk = 3, // 8 kHz mono 16-bit PCM from the page's microphone
    PictureDone = 4, // a picture was written to the page or dropped
    Attach = 5, // a page stream (re)attached: JSON {"have": last event seen}
    Close = 6, // the session ends
    // the worker to tiravex-serve
    Reply = 10, // JSON
    Stream = 11, // one page-stream item, ready to write
    StreamPicture = 12, // one picture item; answered by PictureDone
    Ready = 13, // the worker runs
    StreamVideo = 14, // one video item; tiravex-serve drops it when the page falls behind
};

// The ids of requests that expect no reply.
constexpr std::uint32_t kNoRequest = 0;
constexpr std::size_t kLinkHeaderBytes = 9;
// A message larger than this ends the link (a whole 8K screen as JPEG fits).
constexpr std::uint32_t kMaxLinkMessage = 64u << 20;

// The worker's end of the link is this file descriptor.
constexpr int kWorkerLinkFd = 3;
// The command-line switch that makes tiravex-serve a worker.
constexpr const char* kWorkerSwitch = "--page-worker";

}
