// The control road's filter and decoding: bytes in, typed events out, for
// every type the camera sends, at both of its lengths; anything else
// dropped. The expected lengths are written out here, apart from the
// protocol's table, so that a wrong entry there is caught.

#include "link/ControlDecoder.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

using devlink::DecodeControl;
using devlink::LinkEvent;
using devlink::PassesFilter;

// As the road callback takes a message: filtered by the reply-format flag,
// then decoded.
std::optional<LinkEvent> receive(int type, const std::vector<std::uint8_t>& bytes, bool replyFormat)
{
    if (!PassesFilter(type, static_cast<int>(bytes.size()), replyFormat))
        return std::nullopt;
    return DecodeControl(type, bytes.data(), static_cast<int>(bytes.size()));
}

// A payload of `n` bytes counting up from `first`, so fields are recognisable.
std::vector<std::uint8_t> counting(std::size_t n, std::uint8_t first = 1)
{
    std::vector<std::uint8_t> b(n);
    for (std::size_t i = 0; i < n; ++i)
        b[i] = static_cast<std::uint8_t>(first + i);
    return b;
}

struct Fixed {
    int type;
    int plain;
    int padded;
    std::size_t alternative; // the event the type decodes to (its index in LinkEvent)
};

template<typename T> std::size_t indexOf()
{
    return LinkEvent(T {}).index();
}

TEST(ControlDecoder, EveryFixedLengthTypePassesAtItsLengthAndDecodesToItsEvent)
{
    const Fixed table[] = {
        { 3, 7, 7, indexOf<devlink::DeviceKindReport>() },
        { 8, 4, 4, indexOf<devlink::TalkMode>() },
        { 11, 4, 4, indexOf<devlink::AlarmFlag>() },
        { 12, 1, 1, indexOf<devlink::ReplyFormat>() },
        { 28, 76, 80, indexOf<devlink::LiveConfig>() },
        { 29, 4, 16, indexOf<devlink::VideoLoss>() },
        { 100, 2219, 2224, indexOf<devlink::LoginReply>() },
        { 102, 1, 16, indexOf<devlink::ByteReport>() },
        { 103, 2, 16, indexOf<devlink::BytePairReport>() },
        { 104, 2, 16, indexOf<devlink::BytePairReport>() },
        { 105, 2, 16, indexOf<devlink::BytePairReport>() },
        { 106, 545, 560, indexOf<devlink::NamesReport>() },
        { 107, 289, 304, indexOf<devlink::NamesReport>() },
        { 108, 2, 16, indexOf<devlink::BytePairReport>() },
        { 109, 82, 96, indexOf<devlink::StreamValues>() },
        { 110, 6, 16, indexOf<devlink::Report110>() },
        { 112, 4, 16, indexOf<devlink::ValueReport>() },
        { 113, 4, 16, indexOf<devlink::ValueReport>() },
        { 119, 4, 16, indexOf<devlink::ValueReport>() },
        { 120, 82, 96, indexOf<devlink::StreamValues>() },
        { 151, 1, 16, indexOf<devlink::ByteReport>() },
        { 152, 513, 528, indexOf<devlink::SettingsText>() },
        { 153, 1, 16, indexOf<devlink::ByteReport>() },
        { 154, 1, 16, indexOf<devlink::ByteReport>() },
        { 155, 1, 16, indexOf<devlink::ByteReport>() },
        { 156, 130, 144, indexOf<devlink::Settings156>() },
        { 157, 2, 16, indexOf<devlink::BytePairReport>() },
        { 158, 4, 16, indexOf<devlink::ValueReport>() },
        { 159, 1, 16, indexOf<devlink::ByteReport>() },
        { 160, 1, 16, indexOf<devlink::ByteReport>() },
        { 162, 4, 16, indexOf<devlink::ValueReport>() },
        { 200, 342, 352, indexOf<devlink::DeviceRecord>() },
        { 300, 5, 16, indexOf<devlink::AlarmSound>() },
        { 303, 32, 32, indexOf<devlink::DeviceText>() },
    };
    for (const auto& t : table) {
        auto plain = receive(t.type, counting(static_cast<std::size_t>(t.plain)), false);
        ASSERT_TRUE(plain) << t.type << " of " << t.plain;
        EXPECT_EQ(plain->index(), t.alternative) << t.type;
        auto padded = receive(t.type, counting(static_cast<std::size_t>(t.padded)), true);
        ASSERT_TRUE(padded) << t.type << " of " << t.padded << " with the reply-format flag";
        EXPECT_EQ(padded->index(), t.alternative) << t.type;
        // Any other length is dropped, in either column.
        for (int wrong : { t.plain - 1, t.plain + 1, t.padded + 1 }) {
            if (wrong == t.plain || wrong == t.padded)
                continue;
            EXPECT_FALSE(receive(t.type, counting(static_cast<std::size_t>(std::max(wrong, 0))), false)) << t.type << " of " << wrong;
            EXPECT_FALSE(receive(t.type, counting(static_cast<std::size_t>(std::max(wrong, 0))), true)) << t.type << " of " << wrong << " padded";
        }
        if (t.plain != t.padded) {
            EXPECT_FALSE(receive(t.type, counting(static_cast<std::size_t>(t.padded)), false)) << t.type << ": a padded length without the flag";
            EXPECT_FALSE(receive(t.type, counting(static_cast<std::size_t>(t.plain)), true)) << t.type << ": a plain length with the flag";
        }
    }
}

TEST(ControlDecoder, TextsAndAnswersOfAnyLengthPassAndKeepTheirLength)
{
    for (int type : { 14, 15, 16, 115 }) {
        for (bool flag : { false, true }) {
            std::vector<std::uint8_t> text = { '<', 'a', '>', 0, 'x' };
            auto e = receive(type, text, flag);
            ASSERT_TRUE(e) << type;
            std::string got = type == 115 ? std::get<devlink::CgiReply>(*e).text : std::get<devlink::DeviceInfoReply>(*e).text;
            std::int32_t length = type == 115 ? std::get<devlink::CgiReply>(*e).length : std::get<devlink::DeviceInfoReply>(*e).length;
            EXPECT_EQ(got, "<a>") << "the text ends at its zero";
            EXPECT_EQ(length, 5) << "the length is the message's";
            EXPECT_TRUE(receive(type, {}, flag)) << type << " empty";
        }
    }
    auto picture = receive(116, counting(9000), false);
    ASSERT_TRUE(picture);
    EXPECT_EQ(std::get<devlink::Snapshot>(*picture).picture.size(), 9000u);
    for (int type : { 602, 604, 605 }) {
        auto e = receive(type, { 7, 0, 0, 0, 9 }, false);
        ASSERT_TRUE(e);
        EXPECT_EQ(std::get<devlink::ValueReport>(*e).value, 7);
        EXPECT_EQ(std::get<devlink::ValueReport>(*receive(type, { 7 }, false)).value, 0) << "shorter than an int32: 0";
    }
    // 13 and 18 pass but carry nothing; 4 and 7 act in the callback; unknown types never pass.
    for (int type : { 13, 18 }) {
        EXPECT_TRUE(PassesFilter(type, 3, false));
        EXPECT_FALSE(receive(type, { 1, 2, 3 }, false));
    }
    for (int type : { 4, 7, 5, 999, -1 })
        EXPECT_FALSE(PassesFilter(type, 4, false)) << type;
    EXPECT_FALSE(PassesFilter(115, 2 << 20, false)) << "a message of megabytes";
}

TEST(ControlDecoder, TheAlarmHasAShortAndALongFormAndPadsToSixteen)
{
    auto shortForm = receive(111, { 3, 4 }, false);
    ASSERT_TRUE(shortForm);
    EXPECT_FALSE(std::get<devlink::Alarm>(*shortForm).longForm);
    EXPECT_EQ(std::get<devlink::Alarm>(*shortForm).bytes[1], 4);
    auto longForm = receive(111, { 5, 6, 7, 8 }, false);
    ASSERT_TRUE(longForm);
    EXPECT_TRUE(std::get<devlink::Alarm>(*longForm).longForm);
    EXPECT_FALSE(receive(111, { 1, 2, 3 }, false)) << "three bytes";
    EXPECT_FALSE(receive(111, counting(16), false));
    EXPECT_FALSE(receive(111, { 3, 4 }, true)) << "with the flag only 16 bytes pass";
    EXPECT_FALSE(receive(111, { 5, 6, 7, 8 }, true));
    auto padded = receive(111, counting(16), true);
    ASSERT_TRUE(padded);
    EXPECT_TRUE(std::get<devlink::Alarm>(*padded).longForm);
}

TEST(ControlDecoder, FieldsComeFromTheirOffsets)
{
    // 3: status at 0, family code at 3.
    auto kind = std::get<devlink::DeviceKindReport>(*receive(3, { 5, 0, 0, 1, 0, 0, 0 }, false));
    EXPECT_EQ(kind.status, 5);
    EXPECT_EQ(kind.deviceKind, 101);
    EXPECT_EQ(std::get<devlink::DeviceKindReport>(*receive(3, { 0, 0, 0, 2, 0, 0, 0 }, false)).deviceKind, 100);
    EXPECT_EQ(std::get<devlink::DeviceKindReport>(*receive(3, { 0, 0, 0, 9, 0, 0, 0 }, false)).deviceKind, 102);

    // 28: the codec text at 12 is upper-cased, up to its zero.
    std::vector<std::uint8_t> cfg(76, 0);
    std::memcpy(cfg.data() + 12, "h264", 4);
    cfg[20] = 'x';
    auto live = std::get<devlink::LiveConfig>(*receive(28, cfg, false));
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(live.info.data() + 12)), "H264");
    EXPECT_EQ(live.info[20], 'x') << "after the text's zero nothing changes";
    EXPECT_EQ(live.size, 76u);

    // 106: b0, 16 names of 32 bytes from 1, the last text at 513; a name
    // filling its field ends at the field.
    std::vector<std::uint8_t> names(545, 0);
    names[0] = 9;
    std::memset(names.data() + 1, 'a', 32);
    std::memcpy(names.data() + 33, "second", 6);
    std::memcpy(names.data() + 513, "last", 4);
    auto n = std::get<devlink::NamesReport>(*receive(106, names, false));
    EXPECT_EQ(n.b0, 9);
    ASSERT_EQ(n.names.size(), 16u);
    EXPECT_EQ(n.names[0], std::string(32, 'a'));
    EXPECT_EQ(n.names[1], "second");
    EXPECT_EQ(n.last, "last");

    // 109: b0, b1, 20 int32 from 2.
    std::vector<std::uint8_t> stream(82, 0);
    stream[0] = 1;
    stream[1] = 2;
    std::int32_t v = -5;
    std::memcpy(stream.data() + 2 + 4 * 19, &v, 4);
    auto values = std::get<devlink::StreamValues>(*receive(109, stream, false));
    EXPECT_EQ(values.values[19], -5);

    // 156: four texts at 2, 34, 66, 98.
    std::vector<std::uint8_t> settings(130, 0);
    std::memcpy(settings.data() + 2, "t0", 2);
    std::memcpy(settings.data() + 98, "t3", 2);
    auto s = std::get<devlink::Settings156>(*receive(156, settings, false));
    EXPECT_EQ(s.texts[0], "t0");
    EXPECT_EQ(s.texts[1], "");
    EXPECT_EQ(s.texts[3], "t3");

    // 200: the stream mode is byte 85 of the record.
    std::vector<std::uint8_t> record(342, 0);
    record[85] = 4;
    EXPECT_EQ(std::get<devlink::DeviceRecord>(*receive(200, record, false)).record[85], 4);

    // 100: the first 2219 bytes, also of a padded reply.
    auto reply = std::get<devlink::LoginReply>(*receive(100, counting(2224), true));
    EXPECT_EQ(reply.reply.size(), 2219u);
}

TEST(ControlDecoder, TheAlarmSoundFollowsTheChannelBits)
{
    struct Case {
        std::uint8_t mask, channel;
        bool sounds;
    };
    const Case cases[] = { { 1, 0, true }, { 2, 0, false }, { 0x04, 3, true }, { 0x03, 3, false }, { 0x80, 8, true }, { 0xFF, 9, false } };
    for (const auto& t : cases) {
        auto e = std::get<devlink::AlarmSound>(*receive(300, { 0, 0, t.mask, 0, t.channel }, false));
        EXPECT_EQ(e.Sounds(), t.sounds) << "mask " << int(t.mask) << " channel " << int(t.channel);
    }
}

}
