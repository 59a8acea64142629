#pragma once
// The video window classes: CPlayCtrl adds zoom, full screen and the
// context menu to the stream player; CLiveCtrl is the live window with
// screen pan/tilt, CPbCtrl the playback window.

#include "media/CPlayBase.h"

#include "ui/Menu.h"

// The back surface until the video's size is known.
constexpr int kDefaultBackWidth = 1280;
constexpr int kDefaultBackHeight = 960;

class CPlayCtrl : public CPlayBase {
public:
    ~CPlayCtrl() override;

    void Attach(HWND notifyWindow, int screenWidth, int screenHeight, CMediaHub* hub) override;
    void DetachView() override;
    void OnPictureSize(int width, int height) override;
    void DrawRgbFrame(const PictureRecord& picture, int width, int height) override;
    void DrawYuvFrame(const PictureRecord& picture, int width, int height) override;
    void DrawPlainFrame(const PictureRecord&, int, int) override { }
    // Ticks the silence counter, then presents the composed picture at the
    // window's place on the screen.
    HRESULT OnTick() override;

    RECT GetSourceRect() const { return m_zoomRect; }

    bool IsFullScreen() const { return m_fullScreen; }
    // Into full screen on the window's monitor, or back into the control.
    void ToggleFullScreen();

    // Screen pan/tilt; the playback window has none.
    virtual void ToggleScreenPtz(int x, int y) = 0;
    virtual bool IsScreenPtz() = 0;
    virtual int BeginPtzMove() = 0;
    virtual void EndPtzMove() = 0;

    // The context menu, made when first shown and destroyed with the window object.
    HMENU GetMenu() const { return m_menu; }
    void DestroyMenu();

protected:
    explicit CPlayCtrl(std::int16_t id) : CPlayBase(id) { }

    // Onto the composition surface from the zoom rectangle (keep ratio: onto the display rectangle).
    HRESULT compose();

    RECT m_sourceRect {};    // committed zoom rectangle, in video pixels
    RECT m_zoomRect {};      // what is blitted; the source rectangle except while dragging
    RECT m_windowRect {};
    gfx::Surface* m_back = nullptr; // guarded by m_renderLock
    std::int16_t m_zoomLevel = 0;
    sys::CriticalSection m_windowLock; // blits into the composition surface and onto the screen
    bool m_fullScreen = false;
    HMENU m_menu = nullptr;
    HWND m_parent = nullptr;  // the control window, while in full screen
    RECT m_savedRect {};      // the control's client rectangle before full screen
};

constexpr std::size_t kStreamInfoBytes = 80;

class CLiveCtrl : public CPlayCtrl {
public:
    CLiveCtrl();

    void ToggleScreenPtz(int x, int y) override;
    bool IsScreenPtz() override { return m_screenPtz; }
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

private:
    bool m_screenPtz = false;
    bool m_ptzMoving = false;
    int m_ptzDirection = 4; // the middle: no movement
};

class CPbCtrl : public CPlayCtrl {
public:
    CPbCtrl();

    void ToggleScreenPtz(int, int) override { }
    bool IsScreenPtz() override { return false; }
    int BeginPtzMove() override { return 0; }
    void EndPtzMove() override { }

    // Pause and resume the recording being played, when a channel is open.
    void Pause();
    void Resume();
};
