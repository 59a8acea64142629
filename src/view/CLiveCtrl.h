#pragma once
// The live window "ALIVE": the camera's live picture, with the camera's
// stream description, its alarm flags and the screen pan/tilt switch (the
// pointer's direction is not followed yet: a move asks for the middle).

#include "view/CPlayCtrl.h"

constexpr std::size_t kStreamInfoBytes = 80;

class CLiveCtrl : public CPlayCtrl {
public:
    CLiveCtrl();

    void ToggleScreenPtz(int x, int y) override;
    bool IsScreenPtz() const override { return m_screenPtz; }
    int BeginPtzMove() override;
    void EndPtzMove() override { m_ptzMoving = false; }

    // The camera has pan/tilt (1 at construction; set by the control).
    std::atomic<std::int32_t> ptzCapable { 1 };
    // The red dot: the camera's alarm state (messages 11 and 102, the login reply).
    std::atomic<bool> m_alarmFlag { false };
    // Byte 4 of a successful login reply.
    std::atomic<bool> m_replyFlag { false };
    // The video is 320 x 240 or smaller.
    std::atomic<bool> m_smallVideo { false };
    // The camera's stream description (message 28).
    std::uint8_t m_streamInfo[kStreamInfoBytes] = {};
    // The audio block length the camera announced (message 4).
    std::atomic<std::int32_t> m_audioLength { 0 };

    // The camera announced its audio block length: kept and passed to the
    // live channel, when one is open. Any thread.
    void SetAudioBlockLength(std::int32_t length);
    // The camera's stream description (message 28, its text already
    // upper-cased); marks a picture of 320 x 240 or smaller as small.
    void SetStreamInfo(const std::uint8_t* info, std::size_t size);

private:
    bool m_screenPtz = false;
    bool m_ptzMoving = false;
    int m_ptzDirection = 4; // the middle: no movement
};

