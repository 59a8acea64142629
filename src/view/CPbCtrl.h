#pragma once
// The playback window "PLAYBACK": a recording stored on the camera, played
// through the same stream player as live video, with its sound as 16-bit
// PCM played unchanged (never decoded, never recorded). It turns the
// library's playback events into the control's messages (1227 to 1230)
// and into the watchdog's close of the channel, pauses, resumes, goes
// black after 2.5 s without frames (but keeps a paused recording's last
// picture with its "PAUSE" for as long as it is paused: the camera sends
// no frames then, and a black picture would say the recording is gone)
// and shows the playback's status texts
// ("PAUSE", "WAITING...nn%" and their Chinese forms) centred on the
// picture.
//
// Threads: playback events and sound arrive on the network library's
// threads; the script members on the page's thread.

#include "view/CPlayCtrl.h"

// The playback channel's stream parameter and the picture size assumed
// until the first frame.
constexpr std::int32_t kPlaybackStreamParam = 0x003201F4;
constexpr std::uint32_t kPlaybackPictureWidth = 1280;
constexpr std::uint32_t kPlaybackPictureHeight = 960;
// The silence counter: black after this many ticks without a frame, then parked.
constexpr std::int32_t kPlaybackSilenceBlack = 99;
constexpr std::int32_t kPlaybackSilenceParked = 300;
// The playback's status codes that show a text.
constexpr int kPlaybackStatusBuffering = 26;
constexpr int kPlaybackStatusPaused = 32;
// The status text's field, in bytes of its multibyte form.
constexpr std::size_t kStatusTextBytes = 20;

class CPbCtrl : public CPlayCtrl {
public:
    CPbCtrl();

    void ToggleScreenPtz(int, int) override { }
    bool IsScreenPtz() const override { return false; }
    bool TrackPtzCursor(int, int) override { return false; }
    int BeginPtzMove() override { return 0; }

    HRESULT OnTick() override;
    // The channel closes: the picture is forgotten and the control told (1227).
    void CloseStream() override;
    // The recording's sound is played while this is on; no network call.
    void StartAudio() override { m_audioOut = true; }
    void StopAudio() override { m_audioOut = false; }
    void OnAudioFrame(const FrameRecord& frame, int id) override;
    void OnAudioData(const std::uint8_t* data, std::size_t size, int id) override;
    void DrawRgbFrame(const PictureRecord& picture, int width, int height) override;
    void DrawYuvFrame(const PictureRecord& picture, int width, int height) override;

    // Pause and resume the recording being played, when a channel is open.
    void Pause();
    void Resume();

    // Redraws the picture with the text of playback status `code` (paused,
    // or buffering with `value` percent); a value of 0 also reports the
    // playback state to the control.
    void ShowStatus(int code, int value);
    // The status text last formatted, in its multibyte (code page 936) form.
    std::string StatusText() const;

    std::atomic<bool> m_audioOut { true };

protected:
    // The playback events of status type 5.
    void OnLinkEvent(int type, int* data, int value) override;

private:
    // The text of a status code in the control's language, and its length
    // in bytes of its multibyte form.
    std::u16string statusText(int code, int value, std::size_t& bytes);
    void drawStatusText(gfx::Surface* surface, const std::u16string& text, std::size_t bytes);

    std::atomic<bool> m_frameDrawn { false };
    // Set by the paused status, cleared by the buffering one, playing,
    // resuming, seeking and the close.
    std::atomic<bool> m_paused { false };
    std::vector<std::uint8_t> m_audioCopy; // the library's audio thread only
    char m_statusText[kStatusTextBytes] = {}; // guarded by m_renderLock
};
