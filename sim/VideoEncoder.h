#pragma once
// Encodes the simulator's moving test pattern (with the frame number drawn
// in it) to H.264 through libx264 or to Motion-JPEG, one frame at a time.
// One encoder per stream; not shared between threads.

#include "sim/CameraConfig.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace sim {

struct EncodedFrame {
    std::vector<std::uint8_t> data;
    bool key = false;
};

class VideoEncoder {
public:
    // Null when the codec cannot be opened for these settings.
    static std::unique_ptr<VideoEncoder> Create(const VideoSettings& settings);
    ~VideoEncoder();
    VideoEncoder(const VideoEncoder&) = delete;
    VideoEncoder& operator=(const VideoEncoder&) = delete;

    // Encodes pattern frame `number`; false when the encoder failed. Every
    // H.264 key frame starts with the sequence parameter set after a
    // four-byte start code.
    bool Encode(std::uint32_t number, EncodedFrame& out);

    const VideoSettings& Settings() const { return m_settings; }

private:
    VideoEncoder() = default;
    struct Impl;
    std::unique_ptr<Impl> m_impl;
    VideoSettings m_settings;
};

// Draws pattern frame `number` into planar YUV 4:2:0 planes.
void DrawPattern(std::uint32_t number, int width, int height, std::uint8_t* y, int yStride, std::uint8_t* u, int uStride, std::uint8_t* v, int vStride);

// One JPEG picture of the pattern (snapshots).
std::vector<std::uint8_t> EncodeJpeg(std::uint32_t number, int width, int height);

}
