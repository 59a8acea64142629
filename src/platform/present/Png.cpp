#include "present/Presenter.h"

#include "gfx/Screen.h"

#include <png.h>

#include <cstdio>
#include <memory>

namespace present {

namespace {

constexpr int kBitDepth = 8;
constexpr int kRgbBytes = 3;

struct File {
    std::FILE* f;
    ~File()
    {
        if (f)
            std::fclose(f);
    }
};

}

bool WritePng(const std::string& path, const std::uint32_t* pixels, int width, int height, int pitch)
{
    if (!pixels || width <= 0 || height <= 0 || pitch < width)
        return false;
    File file { std::fopen(path.c_str(), "wb") };
    if (!file.f)
        return false;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (!info) {
        png_destroy_write_struct(&png, nullptr);
        return false;
    }
    std::vector<png_byte> row(static_cast<std::size_t>(width) * kRgbBytes);
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return false;
    }
    png_init_io(png, file.f);
    png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), kBitDepth, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    for (int y = 0; y < height; ++y) {
        const std::uint32_t* src = pixels + static_cast<std::ptrdiff_t>(y) * pitch;
        for (int x = 0; x < width; ++x) {
            row[static_cast<std::size_t>(x) * kRgbBytes + 0] = static_cast<png_byte>(src[x] >> 16);
            row[static_cast<std::size_t>(x) * kRgbBytes + 1] = static_cast<png_byte>(src[x] >> 8);
            row[static_cast<std::size_t>(x) * kRgbBytes + 2] = static_cast<png_byte>(src[x]);
        }
        png_write_row(png, row.data());
    }
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return std::fflush(file.f) == 0;
}

bool EncodePngWithAlpha(const std::uint32_t* pixels, int width, int height, int pitch, std::vector<std::uint8_t>& out)
{
    if (!pixels || width <= 0 || height <= 0 || pitch < width)
        return false;
    png_image image {};
    image.version = PNG_IMAGE_VERSION;
    image.width = static_cast<png_uint_32>(width);
    image.height = static_cast<png_uint_32>(height);
    image.format = PNG_FORMAT_BGRA;
    image.flags = PNG_IMAGE_FLAG_FAST;
    png_alloc_size_t size = 0;
    // The stride counts components: four a pixel.
    const auto stride = static_cast<png_int_32>(pitch * PNG_IMAGE_PIXEL_CHANNELS(PNG_FORMAT_BGRA));
    if (!png_image_write_to_memory(&image, nullptr, &size, 0, pixels, stride, nullptr) || size == 0)
        return false;
    out.resize(size);
    if (!png_image_write_to_memory(&image, out.data(), &size, 0, pixels, stride, nullptr))
        return false;
    out.resize(size);
    return true;
}

bool ReadPng(const std::string& path, std::vector<std::uint32_t>& pixels, int& width, int& height)
{
    png_image image {};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, path.c_str()))
        return false;
    image.format = PNG_FORMAT_BGRA;
    pixels.assign(static_cast<std::size_t>(image.width) * image.height, 0);
    if (!png_image_finish_read(&image, nullptr, pixels.data(), 0, nullptr)) {
        png_image_free(&image);
        return false;
    }
    for (auto& p : pixels)
        p &= 0x00FFFFFF;
    width = static_cast<int>(image.width);
    height = static_cast<int>(image.height);
    return true;
}

bool SaveScreenPng(const std::string& path)
{
    bool written = false;
    gfx::Screen::Get().Read([&](const std::uint32_t* pixels, int width, int height) { written = WritePng(path, pixels, width, height, width); });
    return written;
}

bool Presenter::SaveScreenshot(const std::string& path) { return SaveScreenPng(path); }

}
