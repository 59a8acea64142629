#include "kznet/kznet.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

// Reads the raw little-endian bytes at an offset, as the library does.
template<typename T>
T at(const void* record, std::size_t offset)
{
    T value;
    std::memcpy(&value, static_cast<const std::uint8_t*>(record) + offset, sizeof value);
    return value;
}

TEST(LoginRecord, FieldsSitAtTheirByteOffsets)
{
    LoginInfo login {};
    login.groupID = 0x11223344;
    std::strcpy(login.ip, "127.0.0.1");
    login.port = 8000;
    std::strcpy(login.username, "admin");
    std::strcpy(login.passwd, "secret");
    login.streamType = 2;
    login.webport = 0xBEEF;

    ASSERT_EQ(sizeof login, 184u);
    EXPECT_EQ(at<std::int32_t>(&login, 0), 0x11223344);
    EXPECT_STREQ(reinterpret_cast<const char*>(&login) + 4, "127.0.0.1");
    EXPECT_EQ(at<std::int32_t>(&login, 132), 8000);
    EXPECT_STREQ(reinterpret_cast<const char*>(&login) + 136, "admin");
    EXPECT_STREQ(reinterpret_cast<const char*>(&login) + 157, "secret");
    EXPECT_EQ(at<std::int16_t>(&login, 178), 2);
    EXPECT_EQ(at<std::uint16_t>(&login, 180), 0xBEEF);
    EXPECT_EQ(at<std::uint16_t>(&login, 182), 0);
}

TEST(FrameRecord, TheFieldsTheControlReadsSitAtTheirByteOffsets)
{
    static const std::uint8_t payload[] = { 0, 0, 0, 1, 0x67 };
    FrameRecord frame {};
    frame.passThrough1 = 0xA1;
    frame.passThrough2 = 0xA2;
    frame.frameRate = 25;
    frame.size = sizeof payload;
    frame.keyFrame = 1;
    frame.bitRate = 2048000;
    frame.payload = payload;
    EXPECT_EQ(at<std::uint32_t>(&frame, 16), 0xA1u);
    EXPECT_EQ(at<std::uint32_t>(&frame, 20), 0xA2u);
    EXPECT_EQ(at<std::int32_t>(&frame, 24), 25);
    EXPECT_EQ(at<std::int32_t>(&frame, 28), 5);
    EXPECT_EQ(at<std::int32_t>(&frame, 32), 1);
    EXPECT_EQ(at<std::int32_t>(&frame, 36), 2048000);
    EXPECT_EQ(at<const std::uint8_t*>(&frame, 48), payload);
}

}
