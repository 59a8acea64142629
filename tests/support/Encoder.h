#pragma once
// Encodes test pictures with FFmpeg (libx264 for H.264, libx265 for H.265, the MJPEG encoder
// for JPEG) so that tests feed the decoder real bitstreams.

#include <cstdint>
#include <string>
#include <vector>

namespace testing_support {

struct Picture {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> y, u, v; // planar 4:2:0
};

// A picture with a gradient, a moving bar at `frame` and a grey level per
// frame; `textured` adds moving fine detail, as a camera's picture has, so
// that the encoder and the decoder work as hard as on real video.
Picture TestPicture(int width, int height, int frame, bool textured = false);

// Encodes `count` frames; every frame is one packet (the first a key frame
// carrying its parameter sets). Empty on failure.
std::vector<std::vector<std::uint8_t>> EncodeH264(int width, int height, int count, const std::string& profile = "baseline", bool textured = false);
// The same in H.265 (libx265), parameter sets on every key frame.
std::vector<std::vector<std::uint8_t>> EncodeH265(int width, int height, int count);
std::vector<std::uint8_t> EncodeJpeg(int width, int height, int frame, bool textured = false);

// The bytes after the first sequence parameter set's NAL header, or empty.
std::vector<std::uint8_t> FindSps(const std::vector<std::uint8_t>& annexB);

}
