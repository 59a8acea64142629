#pragma once
// The live window "ALIVE": the camera's live picture with the red alarm
// dot and the green recording dot drawn into it, the silence timeline
// (black after 10 s without frames; at 20 s the stall is reported and
// "connecting" grows its dots; "connect fail" after a refused login), the
// live context menu, and screen pan/tilt: the pointer's direction from a
// centre picks one of nine cursors, and a press moves the camera that way
// through the pan/tilt worker until the release.
//
// Threads: as CPlayCtrl. The pan/tilt worker calls BeginPtzMove and
// EndPtzMove on its own thread; the direction and the moving flag are
// atomics.

#include "view/CPlayCtrl.h"

constexpr std::size_t kStreamInfoBytes = 80;

// The silence counter's marks, in 25 ms ticks without a frame.
constexpr std::int32_t kLiveSilenceIdle = 1200;      // after construction and close: black, no text
constexpr std::int32_t kLiveSilenceBlack = 400;      // 10 s: the picture goes black
constexpr std::int32_t kLiveSilenceStall = 800;      // 20 s: the stall is reported
constexpr std::int32_t kLiveSilenceConnecting = 900; // "connecting" cycle, one dot more every 50 ticks
constexpr std::int32_t kLiveSilenceDotTicks = 50;
constexpr std::int32_t kLiveSilenceCycleEnd = 1100;

// The screen pan/tilt geometry: the dead zone around the centre, the
// marker's offset from the point it was switched on at, the cursor's jump.
constexpr int kPtzDeadZone = 20;
constexpr int kPtzMarkerOffset = 10;
constexpr int kPtzCursorJump = 13;
constexpr int kPtzMarkerOff = -50;
constexpr int kPtzCentreDirection = 4;

class CLiveCtrl : public CPlayCtrl {
public:
    CLiveCtrl();
    ~CLiveCtrl() override;

    void Attach(HWND notifyWindow, int screenWidth, int screenHeight, CMediaHub* hub) override;
    bool IsViewReady() override;
    void CloseStream() override;
    HRESULT OnTick() override;
    void DetachView() override;
    void OnPictureSize(int width, int height) override;
    void DrawRgbFrame(const PictureRecord& picture, int width, int height) override;
    void DrawYuvFrame(const PictureRecord& picture, int width, int height) override;
    bool TakesDecodedPicture() const override { return true; }
    bool PassesThrough() const override { return true; }
    void PassFrame(media::VideoPassThrough& pass, media::PassedFrame& frame) override;

    // No menu without an owner; else by screen pan/tilt and full screen.
    HMENU BuildMenu() override;
    void ToggleScreenPtz(int x, int y) override;
    bool IsScreenPtz() const override { return m_screenPtz; }
    bool TrackPtzCursor(int x, int y) override;
    int BeginPtzMove() override;
    void EndPtzMove() override { m_moving = false; }
    bool OffersScreenPtz() const override { return ptzCapable != 0; }

    int PtzDirection() const { return m_direction; }
    POINT MarkerPosition() const { return POINT { m_markerX.load(), m_markerY.load() }; }

    // The camera has pan/tilt (1 at construction; set by the control).
    std::atomic<std::int32_t> ptzCapable { 1 };
    // The red dot: the camera's alarm state (messages 11 and 102).
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
    // The dots on the back surface, then the composition, then the marker.
    void finishFrame(int width, int height);
    // The fast path of a decoded picture (see media::Renderer::ComposePicture).
    void composePicture(const gfx::YuvPicture& picture, int width, int height);
    // The alarm and recording dots on the back surface, and the picture
    // square they cover (empty without dots).
    void drawDots(int width, int height);
    RECT dotsBox(int width, int height) const;
    // The screen pan/tilt marker onto the composition surface.
    void drawMarker();
    // A text of the string table (+ the language base) and `suffix` in
    // white at the status place of the composition surface.
    void drawStatus(int id, const char16_t* suffix);
    void releaseDrawing();

    // What the composition surface shows while frames pass through: the
    // key colour in the picture's place with the dots and the marker, as
    // they were when it was drawn, and the surface's writes after it (a
    // write since, such as a text, asks for it again).
    struct KeyState {
        RECT zoom {};
        RECT display {};
        bool keepRatio = false;
        bool alarm = false;
        bool recording = false;
        bool marker = false;
        int markerX = 0;
        int markerY = 0;
        int width = 0;
        int height = 0;
        bool operator==(const KeyState&) const = default;
    };
    KeyState m_keyState {}; // guarded by m_renderLock
    std::uint64_t m_keyWrites = 0; // guarded by m_renderLock; 0: not drawn

    gfx::Surface* m_marker = nullptr; // guarded by m_renderLock
    gfx::HBRUSH m_redBrush = nullptr;
    gfx::HBRUSH m_greenBrush = nullptr;
    std::atomic<bool> m_screenPtz { false };
    std::atomic<int> m_direction { kPtzCentreDirection };
    std::atomic<int> m_markerX { kPtzMarkerOff };
    std::atomic<int> m_markerY { kPtzMarkerOff };
    std::atomic<bool> m_moving { false };
};
