#pragma once
// Reading the fields of a camera's record: little-endian integers and texts
// that are zero-terminated within fixed fields. The caller has checked that
// the field lies inside the record; a text never reads past its field.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

namespace devlink {

inline std::int32_t ReadI32(const std::uint8_t* data, std::size_t offset)
{
    std::uint32_t v = 0;
    for (std::size_t i = 0; i < 4; ++i)
        v |= static_cast<std::uint32_t>(data[offset + i]) << (8 * i);
    return static_cast<std::int32_t>(v);
}

inline std::uint16_t ReadU16(const std::uint8_t* data, std::size_t offset)
{
    return static_cast<std::uint16_t>(data[offset] | (data[offset + 1] << 8));
}

inline void WriteI32(std::uint8_t* data, std::size_t offset, std::int32_t value)
{
    for (std::size_t i = 0; i < 4; ++i)
        data[offset + i] = static_cast<std::uint8_t>(static_cast<std::uint32_t>(value) >> (8 * i));
}

// The text at `offset`, ending at its zero or at the field's end.
inline std::string FieldText(const std::uint8_t* data, std::size_t offset, std::size_t size)
{
    const char* start = reinterpret_cast<const char*>(data + offset);
    return std::string(start, strnlen(start, size));
}

}
