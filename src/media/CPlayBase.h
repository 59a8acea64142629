#pragma once
// The stream player behind every video window: one media channel to the
// camera, its picture and its flags. The derived window classes give it an
// id (1025 live, 1026 playback, 1027 motion grid, 1028 privacy mask) and
// draw its pictures.
//
// Threads: the page's thread opens, closes and configures; the network
// library's threads deliver frames and status; the media hub's watchdog
// ticks it. Fields that several threads touch are atomics or sit under the
// lock named beside them.

#include "media/AviWriter.h"
#include "media/CNPWnd.h"
#include "media/Decoder.h"
#include "media/HubPlayer.h"
#include "media/Renderer.h"
#include "media/WindowIds.h"

#include "kznet/kznet.h"
#include "sys/Lock.h"
#include "ui/Geometry.h"

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

namespace gfx {
class Surface;
}
namespace media {
class VideoPassThrough;
struct PassedFrame;
}

class CMediaHub;

// The silence counter's start values.
constexpr std::int32_t kSilenceAtConstruction = 500;
constexpr std::int32_t kSilenceAtOpen = 200;

constexpr std::size_t kAddressBytes = 128;
constexpr std::size_t kRecordPathBytes = 512;

// The silence counter's tick limit: 100 ticks of 25 ms without a frame.
constexpr std::int32_t kSilenceRefresh = 100;
// The play device's conversion buffer.
constexpr std::size_t kAudioBufferBytes = 8640;

// The picture handed to the drawing operations.
struct PictureRecord {
    std::uint32_t reserved0[2];
    std::uint32_t passThrough1;
    std::uint32_t passThrough2;
    std::uint32_t reserved1;
    std::uint32_t width;
    std::uint32_t height;
    std::uint32_t size;
    std::uint8_t* buffer; // owned by the player; null when the window takes `yuv`
    std::uint32_t reserved2;
    // The decoded picture where the decoder left it, for windows that take
    // it that way (TakesDecodedPicture); valid while the frame is drawn.
    gfx::YuvPicture yuv;
};

// The open recording's headers as they stand; every frame brings them up
// to date in the file.
struct RecordHeaders {
    media::AviMainHeader main;
    media::AviStreamHeader video;
    media::BitmapInfoHeader videoFormat;
    media::AviStreamHeader audio;
    media::WaveFormatEx audioFormat;
};

// Which drawing operation the player's frames go to.
enum class RenderPath { Plain, Yuv, Rgb };

class CPlayBase : public CNPWnd, public media::HubPlayer {
public:
    ~CPlayBase() override;

    UINT GetKind() override { return CS_DBLCLKS; }
    std::int16_t GetId() const override { return m_id; }
    HWND GetDrawWindow() const override { return m_drawWindow ? m_drawWindow : m_hWnd; }

    // Stores the notify window and the hub, takes the hub's view and
    // registers with the hub.
    virtual void Attach(HWND notifyWindow, int screenWidth, int screenHeight, CMediaHub* hub);
    // The first kz_open_device argument (connection kind 1, 3 or 4).
    void SetOpenParam(int kind) { m_streamKind = kind; }
    int GetOpenParam() const { return m_streamKind; }

    // The view exists with its device, surfaces and clipper.
    bool IsViewReady() override;
    // Closes the media channel, if one is open.
    void CloseStream() override;

    // Opens the media channel to `address` with the login record, when the
    // view is ready (a channel already open is kept unless reopen is allowed).
    virtual void OpenStream(const char* address, LoginInfo* login);
    // Starts and stops the camera's audio on the channel.
    virtual void StartAudio();
    virtual void StopAudio();
    // Zeroes the audio decode state, sets audio on, and asks for a new
    // recording file when recording is armed.
    void SetAudioOn(bool on);
    void StartTalkMedia();
    void StopTalkMedia() override;
    // The channel joins (leaves) the hub's talk list and the microphone
    // starts (stops when no channel talks any more).
    void StartTalkCapture();
    void StopTalkCapture();
    // Arms recording into `directory` when a channel is open, more than
    // 256 MiB are free there (else 1526) and the folder can be made (else
    // 1527); recordings a crash left open there are finished on the
    // clean-up thread (media/AviRepair.h). The file begins at the next
    // video frame.
    bool CheckRecordPath(const std::string& directory);
    // Finishes the open file (1525) and disarms; true. A stop during a
    // rollover wins over the new file, and 1525 follows every recording
    // the page was told of (1524) or that was written.
    bool StopRecord();
    // The file being written ("" when none).
    std::string RecordFileName() const;
    // `base` + ".avi", or with "_2" ... "_1000" before the extension when
    // taken; `base` itself when all are.
    static std::string FreeRecordName(const std::string& base);

    // The watchdog's calls: Poll, then OnTick for the shown window (a
    // display result; DDERR_SURFACELOST asks for a rebuild), RefreshView
    // to blacken the picture, CleanRecordStorage when the disk is full.
    bool Poll() override { return true; }
    HRESULT OnTick() override;
    void RefreshView() override;
    // The watchdog's answer to a full disk: deletes the oldest recordings
    // of the record folder until 256 MiB are free, never the open one.
    void CleanRecordStorage() override;
    // The cleaner's work: recordings (".avi" files with an underscore in
    // their names) under `directory`, sorted by their names from the first
    // underscore into `list`, deleted from the first while less than 256 MiB
    // are free. `writing` is never deleted, nor index or other files.
    static void CleanRecordFolder(const std::string& directory, const std::string& writing, std::vector<std::string>& list);

    // Audio of this window's channel: decoded by the login record's stream
    // type and played when `id` is the hub's active window and the control
    // is the selected one.
    virtual void OnAudioFrame(const FrameRecord& frame, int id);
    virtual void OnAudioData(const std::uint8_t* data, std::size_t size, int id);

    // The view was remade: forget the old one, attach to the new one and
    // rebuild the surfaces for the current picture size.
    void ReattachView() override;
    void DetachView() override;
    // Where the picture goes in the draw window with keep ratio on.
    void ComputeDisplayRect();
    RECT GetDisplayRect();
    bool ToggleKeepRatio() { return m_keepRatio = !m_keepRatio.load(); }
    // The last decoded picture's size.
    SIZE PictureSize() const;
    RenderPath GetRenderPath() const { return m_renderPath; }
    sys::CriticalSection& RenderLock() override { return m_renderLock; }
    const media::DecoderState& Decoder() const { return m_decoder; }
    // How often the decoder was opened (a resolution change opens it once).
    int DecoderOpenCount() const { return m_decoderOpens; }
    // How many pictures reached the drawing operation.
    int DrawnFrames() const { return m_drawnFrames; }

    std::uint32_t GetPictureWidth() const { return m_width; }
    std::uint32_t GetPictureHeight() const { return m_height; }

    media::Renderer* GetView() const { return m_view; }
    // The login record is given by OpenStream; the playback of a stored
    // stream and the tests give it directly.
    void SetLoginRecord(LoginInfo* login) { m_login = login; }

    // The library's callbacks; `player` is the CPlayBase.
    static int StatusCallback(int type, int* data, void* player, int value);
    static int FrameCallback(int kind, FrameRecord* frame, void* player, int id);
    // How often the storage cleaner was asked for (the watchdog's disk-full message).
    int StorageCleanRequests() const { return m_storageCleans; }
    CMediaHub* GetHub() const { return m_hub; }
    HWND GetNotifyWindow() const { return m_notifyWindow; }
    KzHandle GetChannel() const { return m_channel.load(); }

    // Flags read by the control (see the stream player's lifecycle).
    std::atomic<std::int32_t> m_silence { kSilenceAtConstruction };
    std::atomic<bool> m_videoStarted { false };
    std::atomic<bool> m_audioOn { false };
    std::atomic<bool> m_talkCaptureOn { false };
    std::atomic<bool> m_recordingArmed { false };
    std::atomic<bool> m_restartFile { false };
    std::atomic<bool> m_alarmRecording { false };
    // Set by RegMy, cleared by UNRegMy and when the view cannot start.
    std::atomic<bool> m_registered { false };
    std::atomic<std::int32_t> m_alarmKind { 0 };
    // Byte 85 of the camera's type-200 record: selects the audio variant.
    std::atomic<std::uint8_t> m_streamMode { 0 };
    // The audio decode state (predictor, step index).
    std::atomic<std::int32_t> m_adpcmPredictor { 0 };
    std::atomic<std::int32_t> m_adpcmIndex { 0 };
    std::atomic<bool> m_keepRatio { false };
    // Cleared by a refused login: the live window then says so.
    std::atomic<bool> m_connected { true };
    bool m_reopenAllowed = false;
    bool m_secureTransport = false;

protected:
    explicit CPlayBase(std::int16_t id) : m_id(id) { }

    // A video frame of kind 261 (H.264) or 262 (Motion-JPEG).
    virtual void OnVideoFrame(int kind, const FrameRecord& frame);
    void DecodeAndDraw(media::Codec codec, const FrameRecord& frame);
    void SelectRender();

protected:
    // The window draws YUV frames from the decoder's own planes
    // (PictureRecord::yuv) rather than from a packed I420 copy.
    virtual bool TakesDecodedPicture() const { return false; }
    // Called when the decoded size changes; the windows remake their surfaces.
    virtual void OnPictureSize(int, int) { }
    // The drawing operations of the window classes, under the render lock.
    virtual void DrawRgbFrame(const PictureRecord& picture, int width, int height) = 0;
    virtual void DrawYuvFrame(const PictureRecord& picture, int width, int height) = 0;
    virtual void DrawPlainFrame(const PictureRecord& picture, int width, int height) = 0;
    // The window can show its frames through a video pass-through (the
    // live window); the others always decode.
    virtual bool PassesThrough() const { return false; }
    // A coded frame that passes through, under the render lock: the window
    // fills in where and how it is shown (`frame.source`, `frame.target`),
    // hands it to `pass`, and draws and presents its own things around and
    // over the picture's place.
    virtual void PassFrame(media::VideoPassThrough&, media::PassedFrame&) { }
    // Puts the frame just composed on the screen, under the render lock on
    // the frame's thread; called for the hub's shown window only. Windows
    // that show their frames as they draw them keep the default.
    virtual HRESULT PresentComposed() { return S_OK; }
    // Whether this is the hub's shown window, whose frames are presented as
    // they are composed.
    bool Shown() const;
    // Recording, under the record lock. A new file named by time and kind
    // (1524 for a manual one); false when a rollover finds too little space
    // (1526, then 1525) or recording was stopped meanwhile.
    bool StartRecordFile(int frameRate);
    // One video frame or block of 8 kHz 16-bit PCM into the open file, with
    // its headers brought up to date: 0 written, 1 not written. A chunk
    // refused at the size limit or on a full disk returns 0 but counts
    // nothing; after a refused picture, pictures wait for a key frame. Sound
    // waits for the file's first key frame.
    int WriteVideoSample(int width, int height, int frameRate, int bitRate, const std::uint8_t* payload, std::uint32_t size, bool keyFrame);
    int WriteAudioSample(const std::uint8_t* pcm, std::uint32_t size);

    virtual void OnLinkEvent(int, int*, int) { }
    // Message 1034: when `id` is the hub's active window, `window` goes back
    // into the control window at (inset, inset), the control's client size
    // less the inset on each side, and shows. False otherwise.
    bool showInControl(HWND window, LPARAM id, int inset);

private:
    void passFrame(media::VideoPassThrough& pass, media::Codec codec, const FrameRecord& frame, int width, int height);
    // Recording helpers, under the record lock.
    std::string recordBaseName() const;
    void fillHeaders(int frameRate);
    // Closes the open file; its companion goes only when the file was
    // finished (else the repair needs it). A full disk is told (1526).
    void closeRecordFile();
    // Disarms after a failed rollover; true when 1525 is owed to the page.
    bool endRecording();
    // 1526, once a file.
    void tellDiskFull();
    // More than 256 MiB free in `directory` (else 1526) and the folder made
    // (else 1527). Without the record lock.
    bool recordRoom(const std::string& directory);
    // What a chunk's write means for the recording: written; refused at the
    // size limit (which starts a new file) or on a full disk (which asks the
    // watchdog to free space and tells the page once); failed.
    enum class Chunk { Written, Refused, Failed };
    Chunk chunkWritten(int result);

protected:

    HWND m_drawWindow = nullptr;
    HWND m_notifyWindow = nullptr;
    std::atomic<KzHandle> m_channel { nullptr }; // changed under m_channelLock
    media::Renderer* m_view = nullptr;
    CMediaHub* m_hub = nullptr;
    int m_screenWidth = 0;
    int m_screenHeight = 0;
    std::int32_t m_streamParam = 0;
    // The picture's size found in the bitstream (0 until known); the live
    // window forgets it on a stall.
    std::atomic<std::uint32_t> m_width { 0 };
    std::atomic<std::uint32_t> m_height { 0 };
    int m_streamKind = 0;
    std::int16_t m_id;
    char m_address[kAddressBytes] = {};
    LoginInfo* m_login = nullptr;
    // Recording; guarded by m_recordLock.
    std::string m_recordDirectory;
    std::string m_recordFileName;
    media::AviWriter* m_avi = nullptr;
    RecordHeaders m_aviHeaders {};
    std::uint32_t m_videoChunkId = 0;
    std::uint32_t m_audioChunkId = 0;
    DWORD m_recordStartTick = 0;
    // The frame kind of the open file (kz::kFrameH264 or kFrameMjpeg): it
    // names the file's coding. Written by the frame thread.
    std::atomic<int> m_recordKind { 0 };
    std::vector<std::string> m_recordingList; // the watchdog's cleaner only
    std::vector<std::uint8_t> m_audioBuffer; // PCM decoded on the library's thread
    mutable sys::CriticalSection m_recordLock;
    sys::CriticalSection m_channelLock;
    sys::CriticalSection m_decoderLock;
    mutable sys::CriticalSection m_geometryLock; // the display rectangle, the picture's size, the windows' zoom rectangles
    media::DecoderState m_decoder;     // the library's frame thread; open/close under m_decoderLock
    PictureRecord m_picture {};        // the last decoded picture
    std::vector<std::uint8_t> m_pictureBuffer;
    gfx::Surface* m_surface = nullptr; // the YUV surface; guarded by m_renderLock
    RenderPath m_renderPath = RenderPath::Plain; // guarded by m_renderLock
    media::PixelFormat m_outputFormat = media::PixelFormat::Yuv420p;
    RECT m_displayRect {};             // guarded by m_geometryLock
    std::atomic<bool> m_gotKeyFrame { false };
    // A file is open and takes the frames; cleared when none is, or the open
    // one must be replaced (the size limit). Written under the record lock,
    // read by the frame thread to decide whether a frame starts a new file.
    std::atomic<bool> m_recordFileOpen { false };
    // Guarded by m_recordLock: the open file holds its first key frame; the
    // page was told of a recording (1524, or a file opened) and is owed its
    // 1525; stops so far (a rollover that sees a new one gives way); the
    // open file's full disk was told (1526).
    bool m_fileHasKeyFrame = false;
    bool m_stopOwed = false;
    std::uint32_t m_recordStops = 0;
    bool m_diskFullTold = false;
    // Cleared by closing an open channel, set by opening one: frames that
    // arrive in between are not decoded. Guarded by m_decoderLock.
    bool m_acceptFrames = true;
    // The frames pass through undecoded (the decoder holds only their size).
    // Guarded by m_decoderLock.
    bool m_passing = false;
    // The rate the open file was started with (0: the camera gave none).
    // Written under the record lock; the media thread reads it without, to
    // decide whether a Motion-JPEG frame starts a new file.
    std::atomic<std::int32_t> m_recordFrameRate { 0 };
    std::atomic<int> m_decoderOpens { 0 };
    std::atomic<int> m_drawnFrames { 0 };
    std::atomic<int> m_storageCleans { 0 };
    mutable sys::CriticalSection m_renderLock;
};
