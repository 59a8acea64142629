#pragma once
// Video shown by a viewer that decodes it itself (a browser page): a host
// that sets a pass-through takes the live window's coded frames as the
// camera sent them, with where and how they are shown, and the window then
// does not decode them. The window still reads each picture's size and
// does what a size change asks; it draws its own things (texts, dots,
// marker) around and over a picture of the key colour, which the host
// shows as transparent (gfx::kPassThroughKey), so that the viewer's video shows through.
//
// Threads: set and cleared on the page's thread while no frames flow (the
// host owns the object for as long as it is set); Takes and OnFrame run on
// the network library's frame threads under the player's render lock, so
// they must be quick and thread-safe.

#include "media/Decoder.h"

#include "ui/Geometry.h"

#include <atomic>
#include <cstddef>
#include <cstdint>

namespace media {

struct PassedFrame {
    const void* player = nullptr; // the frames of one player form one stream
    Codec codec = Codec::H264;
    const std::uint8_t* data = nullptr; // as the camera sent it (H.264: Annex B)
    std::size_t size = 0;
    bool keyFrame = false;
    int width = 0; // the picture's size
    int height = 0;
    RECT source {}; // the part of the picture shown (the zoom rectangle)
    RECT target {}; // where it is shown on the screen
};

class VideoPassThrough {
public:
    virtual ~VideoPassThrough() = default;
    // The viewer decodes this coding.
    virtual bool Takes(Codec codec) const = 0;
    virtual void OnFrame(const PassedFrame& frame) = 0;
};

extern std::atomic<VideoPassThrough*> g_videoPassThrough;

// Null: every frame is decoded here.
inline void SetVideoPassThrough(VideoPassThrough* passThrough) { g_videoPassThrough.store(passThrough); }
inline VideoPassThrough* GetVideoPassThrough() { return g_videoPassThrough.load(std::memory_order_acquire); }

}
