// The stream player's recording: where and when files begin and end, their
// names and headers, the frames and the sound written into them, and
// keeping the disk from filling. The files are written by the AVI recorder.

#include "media/CPlayBase.h"

#include "media/AviRepair.h"
#include "media/CMediaHub.h"
#include "media/Notifications.h"

#include "sys/Files.h"
#include "sys/Time.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <system_error>

namespace {

// A recording needs more than this much free space where it is written;
// the cleaner frees space until this much is free again.
constexpr std::uint64_t kRecordSpaceThreshold = 0x10000000;
// The cleaner's list holds at most this many recordings.
constexpr std::size_t kRecordingListLimit = 10000;
// A taken name gets "_2" ... "_1000" before its extension.
constexpr int kFirstNameCounter = 2;
constexpr int kLastNameCounter = 1000;
constexpr const char* kRecordExtension = ".avi";
constexpr const char* kSortKeySeparator = "//";

// The nominal picture until the first frame gives the real one.
constexpr std::uint32_t kNominalMjpegWidth = 640;
constexpr std::uint32_t kNominalMjpegHeight = 480;
constexpr std::uint32_t kNominalH264Width = 1280;
constexpr std::uint32_t kNominalH264Height = 960;

// The headers' fixed values.
constexpr std::uint32_t kMicrosecondsPerSecond = 1000000;
constexpr std::uint32_t kMillisecondsPerSecond = 1000;
constexpr std::uint32_t kMaxBytesPerSecond = 0x80000;
constexpr std::uint32_t kStreamCount = 2;
constexpr std::uint32_t kBytesPerPixel = 3;
constexpr std::uint16_t kVideoBitCount = 24;
constexpr std::uint32_t kQualityDefault = 0xFFFFFFFF;
constexpr std::uint32_t kAudioRate = 8000;
constexpr std::uint32_t kAudioSampleBytes = 2;
constexpr std::uint16_t kAudioChannels = 1;
constexpr std::uint16_t kAudioBits = 16;
// Frame rate taken for the main header when the camera gives none.
constexpr int kFallbackFrameRate = 30;
constexpr int kBitsPerByte = 8;

// File names by kind of recording: manual, then the alarm kinds 0 to 3,
// then any other alarm.
constexpr const char* kManualPrefix = "manual";
constexpr const char* kAlarmPrefixes[] = { "motion_alarm", "sound_alarm", "io_alarm", "temperature_alarm" };
constexpr const char* kOtherAlarmPrefix = "alarm";

bool exists(const std::string& path)
{
    std::error_code error;
    return std::filesystem::exists(path, error);
}

}

std::string CPlayBase::recordBaseName() const
{
    const char* prefix = kManualPrefix;
    if (m_alarmRecording) {
        std::int32_t kind = m_alarmKind;
        prefix = kind >= 0 && kind < static_cast<std::int32_t>(std::size(kAlarmPrefixes)) ? kAlarmPrefixes[kind] : kOtherAlarmPrefix;
    }
    const SYSTEMTIME now = sys::GetLocalTime();
    char name[kRecordPathBytes];
    std::snprintf(name, sizeof name, "%s/%s_%4d%02d%02d%02d%02d%02d", m_recordDirectory.c_str(), prefix, now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond);
    return name;
}

std::string CPlayBase::FreeRecordName(const std::string& base)
{
    if (!exists(base + kRecordExtension))
        return base + kRecordExtension;
    for (int counter = kFirstNameCounter; counter <= kLastNameCounter; ++counter) {
        std::string name = base + "_" + std::to_string(counter) + kRecordExtension;
        if (!exists(name))
            return name;
    }
    return base;
}

bool CPlayBase::recordRoom(const std::string& directory)
{
    std::optional<std::uint64_t> free = sys::DiskFreeBytes(directory);
    if (!free || *free <= kRecordSpaceThreshold) {
        ui::PostMessage(m_notifyWindow, media::kNotifyDiskFull, 0, 0);
        return false;
    }
    if (!sys::MakeDirTree(directory)) {
        ui::PostMessage(m_notifyWindow, media::kNotifyRecordPathFailed, 0, 0);
        return false;
    }
    return true;
}

bool CPlayBase::CheckRecordPath(const std::string& directory)
{
    if (!m_channel.load())
        return false;
    if (!recordRoom(directory))
        return false;
    // Recordings a crash left open there are finished on the clean-up
    // thread: a large one is never walked on the page's or a frame's thread.
    media::RepairLeftoversInBackground(directory);
    sys::Locker lock(m_recordLock);
    m_recordDirectory = directory;
    m_recordingArmed = true;
    return true;
}

void CPlayBase::fillHeaders(int frameRate)
{
    // The coding is the one of the frames the file is started with (the
    // login's sound coding says nothing of the video's).
    const bool mjpeg = m_recordKind == kz::kFrameMjpeg;
    const std::uint32_t width = mjpeg ? kNominalMjpegWidth : kNominalH264Width;
    const std::uint32_t height = mjpeg ? kNominalMjpegHeight : kNominalH264Height;
    const std::uint32_t codec = mjpeg ? media::kFourccMjpg : m_recordKind == kz::kFrameH265 ? media::kFourccHevc : media::kFourccH264;
    // A camera that gives no rate (0) has one taken until the frames'
    // arrival tells the real one.
    const auto rate = static_cast<std::uint32_t>(frameRate > 0 ? frameRate : kFallbackFrameRate);
    RecordHeaders& h = m_aviHeaders;
    h.main = {};
    h.main.microSecPerFrame = kMicrosecondsPerSecond / rate;
    h.main.maxBytesPerSec = kMaxBytesPerSecond;
    h.main.flags = media::kAviRecordingFlags;
    h.main.streams = kStreamCount;
    h.main.suggestedBufferSize = width * height * kBytesPerPixel;
    h.main.width = width;
    h.main.height = height;
    h.video = {};
    h.video.fccType = media::kFourccVids;
    h.video.fccHandler = codec;
    h.video.scale = 1;
    h.video.rate = rate;
    h.video.suggestedBufferSize = width * height * kBytesPerPixel;
    h.video.quality = kQualityDefault;
    h.video.right = static_cast<std::uint16_t>(width);
    h.video.bottom = static_cast<std::uint16_t>(height);
    h.videoFormat = {};
    h.videoFormat.width = static_cast<std::int32_t>(width);
    h.videoFormat.height = static_cast<std::int32_t>(height);
    h.videoFormat.planes = 1;
    h.videoFormat.bitCount = kVideoBitCount;
    h.videoFormat.compression = codec;
    h.audio = {};
    h.audio.fccType = media::kFourccAuds;
    h.audio.scale = 1;
    h.audio.rate = kAudioRate;
    h.audio.quality = kQualityDefault;
    h.audio.sampleSize = kAudioSampleBytes;
    h.audioFormat = {};
    h.audioFormat.formatTag = media::kWaveFormatPcm;
    h.audioFormat.channels = kAudioChannels;
    h.audioFormat.samplesPerSec = kAudioRate;
    h.audioFormat.avgBytesPerSec = kAudioRate * kAudioSampleBytes;
    h.audioFormat.blockAlign = static_cast<std::uint16_t>(kAudioChannels * kAudioSampleBytes);
    h.audioFormat.bitsPerSample = kAudioBits;
}

void CPlayBase::tellDiskFull()
{
    // Under the record lock; once a file.
    if (m_diskFullTold)
        return;
    m_diskFullTold = true;
    ui::PostMessage(m_notifyWindow, media::kNotifyDiskFull, 0, 0);
}

void CPlayBase::closeRecordFile()
{
    // Under the record lock.
    if (!m_avi)
        return;
    bool finished = false;
    const int result = media::AviClose(m_avi, &finished);
    m_avi = nullptr;
    m_recordFileOpen = false;
    if (finished) {
        std::remove((m_recordFileName + media::kAviIndexSuffix).c_str());
    } else {
        // The companion stays for the repair, which is tried at once and
        // again whenever recording starts in this folder.
        media::RepairLeftoversInBackground(m_recordDirectory);
    }
    if (result == media::kAviDiskFull)
        tellDiskFull();
}

bool CPlayBase::endRecording()
{
    // Under the record lock: recording ended by itself (a failed rollover).
    m_recordingArmed = false;
    m_recordFileOpen = false;
    m_recordFrameRate = 0;
    const bool owed = m_stopOwed;
    m_stopOwed = false;
    return owed;
}

bool CPlayBase::StartRecordFile(int frameRate)
{
    if (!m_channel.load())
        return true;
    std::unique_lock lock(m_recordLock);
    if (!m_recordingArmed)
        return false; // a stop came between the frame's look and here
    if (m_avi) {
        // Rollover: the open file is finished and the space asked for again,
        // without the lock. A stop meanwhile wins: it told the page (1525)
        // and no new file begins.
        closeRecordFile();
        m_gotKeyFrame = false;
        const std::uint32_t stops = m_recordStops;
        const std::string directory = m_recordDirectory;
        lock.unlock();
        const bool room = recordRoom(directory);
        lock.lock();
        if (m_recordStops != stops || !m_recordingArmed)
            return false;
        if (!room) {
            const bool owed = endRecording();
            lock.unlock();
            if (owed)
                ui::PostMessage(m_notifyWindow, media::kNotifyRecordStopped, 0, 0);
            return false;
        }
    }
    // The name is claimed by creating the file: views of cameras at one
    // address record into one folder, and two of them starting in the same
    // second must not both take the same free name and write one file. When
    // every name is taken, the base name is used only if it is free: an
    // existing file is never overwritten.
    const std::string base = recordBaseName();
    std::string name;
    bool claimed = false;
    for (int tries = kFirstNameCounter; tries <= kLastNameCounter && !claimed; ++tries) {
        name = FreeRecordName(base);
        claimed = sys::CreateNewFile(name);
        if (name == base)
            break;
    }
    m_avi = claimed ? media::AviOpen(name.c_str()) : nullptr;
    if (!m_avi) {
        const bool owed = endRecording();
        lock.unlock();
        ui::PostMessage(m_notifyWindow, media::kNotifyRecordPathFailed, 0, 0);
        if (owed)
            ui::PostMessage(m_notifyWindow, media::kNotifyRecordStopped, 0, 0);
        return true;
    }
    m_recordFileName = name;
    fillHeaders(frameRate);
    media::AviWriteMainHeader(m_avi, media::SerializeMainHeader(m_aviHeaders.main).data());
    media::AviAddStream(media::SerializeBitmapInfo(m_aviHeaders.videoFormat).data(), m_avi, media::SerializeStreamHeader(m_aviHeaders.video).data(), &m_videoChunkId);
    media::AviAddStream(media::SerializeWaveFormat(m_aviHeaders.audioFormat).data(), m_avi, media::SerializeStreamHeader(m_aviHeaders.audio).data(), &m_audioChunkId);
    m_recordFrameRate = frameRate;
    m_recordFileOpen = true;
    m_gotKeyFrame = false; // frames (and sound) from the file's first key frame on
    m_fileHasKeyFrame = false;
    m_diskFullTold = false;
    m_stopOwed = true;
    m_recordStartTick = sys::GetTickCount();
    const bool manual = !m_alarmRecording;
    lock.unlock();
    if (manual)
        ui::PostMessage(m_notifyWindow, media::kNotifyRecordStarted, 0, 0);
    return true;
}

CPlayBase::Chunk CPlayBase::chunkWritten(int result)
{
    // Under the record lock.
    if (result == media::kAviTooLarge) {
        m_recordFileOpen = false; // the next video frame starts a new file
        return Chunk::Refused;
    }
    if (result == media::kAviDiskFull) {
        tellDiskFull();
        if (m_hub)
            m_hub->Request(m_id, CMediaHub::WatchdogRequest::DiskFull);
        return Chunk::Refused;
    }
    return result < 0 ? Chunk::Failed : Chunk::Written;
}

int CPlayBase::WriteVideoSample(int width, int height, int frameRate, int bitRate, const std::uint8_t* payload, std::uint32_t size, bool keyFrame)
{
    sys::Locker lock(m_recordLock);
    if (!m_avi)
        return 1;
    switch (chunkWritten(media::AviWriteChunk(keyFrame ? 1 : 0, m_avi, size, m_videoChunkId, payload))) {
    case Chunk::Failed:
        return 1;
    case Chunk::Refused:
        // Not in the file, so not counted; the pictures after it refer to
        // it: writing goes on at the next key frame.
        m_gotKeyFrame = false;
        return 0;
    case Chunk::Written:
        break;
    }
    if (keyFrame)
        m_fileHasKeyFrame = true;
    media::AviStreamHeader& video = m_aviHeaders.video;
    ++video.length;
    const DWORD elapsed = sys::TicksBetween(m_recordStartTick, sys::GetTickCount());
    if (elapsed > 0)
        video.rate = std::max<std::uint32_t>(1, static_cast<std::uint32_t>(static_cast<std::uint64_t>(video.length) * kMillisecondsPerSecond / elapsed));
    else if (frameRate > 0)
        video.rate = static_cast<std::uint32_t>(frameRate) * video.scale;
    video.right = static_cast<std::uint16_t>(width);
    video.bottom = static_cast<std::uint16_t>(height);
    m_aviHeaders.videoFormat.width = width;
    m_aviHeaders.videoFormat.height = height;

    media::AviMainHeader& main = m_aviHeaders.main;
    ++main.totalFrames;
    main.width = static_cast<std::uint32_t>(width);
    main.height = static_cast<std::uint32_t>(height);
    // Without a rate from the camera, the one of the frames' arrival.
    main.microSecPerFrame = kMicrosecondsPerSecond / (frameRate > 0 ? static_cast<std::uint32_t>(frameRate) : std::max<std::uint32_t>(1, video.rate / std::max<std::uint32_t>(1, video.scale)));
    main.maxBytesPerSec = static_cast<std::uint32_t>(bitRate / kBitsPerByte);
    media::AviWriteMainHeader(m_avi, media::SerializeMainHeader(main).data());
    return media::AviRewriteStream(0, m_avi, media::SerializeStreamHeader(video).data(), media::SerializeBitmapInfo(m_aviHeaders.videoFormat).data()) == media::kAviOk ? 0 : 1;
}

int CPlayBase::WriteAudioSample(const std::uint8_t* pcm, std::uint32_t size)
{
    sys::Locker lock(m_recordLock);
    // Sound waits for the file's first picture, which is a key frame.
    if (!m_avi || !m_fileHasKeyFrame)
        return 1;
    switch (chunkWritten(media::AviWriteChunk(0, m_avi, size, m_audioChunkId, pcm))) {
    case Chunk::Failed:
        return 1;
    case Chunk::Refused:
        return 0;
    case Chunk::Written:
        break;
    }
    m_aviHeaders.audio.length += size / kAudioSampleBytes;
    return media::AviRewriteStream(1, m_avi, media::SerializeStreamHeader(m_aviHeaders.audio).data(), media::SerializeWaveFormat(m_aviHeaders.audioFormat).data()) == media::kAviOk ? 0 : 1;
}

bool CPlayBase::StopRecord()
{
    {
        sys::Locker lock(m_recordLock);
        m_recordingArmed = false;
        m_recordFileOpen = false;
        // During a rollover no file is open, yet the page was told of one.
        if (!m_avi && !m_stopOwed)
            return true;
        ++m_recordStops;
        m_stopOwed = false;
        m_recordFrameRate = 0;
        m_gotKeyFrame = false;
        m_recordStartTick = 0;
        closeRecordFile();
    }
    ui::PostMessage(m_notifyWindow, media::kNotifyRecordStopped, 0, 0);
    return true;
}

void CPlayBase::CleanRecordStorage()
{
    ++m_storageCleans;
    std::string directory, writing;
    {
        sys::Locker lock(m_recordLock);
        directory = m_recordDirectory;
        writing = m_avi ? m_recordFileName : std::string();
    }
    CleanRecordFolder(directory, writing, m_recordingList);
}

void CPlayBase::CleanRecordFolder(const std::string& directory, const std::string& writing, std::vector<std::string>& list)
{
    if (directory.empty())
        return;
    // Recordings, oldest first: each sorts by its name from the first
    // underscore on (the kind of recording and its time).
    list.clear();
    std::error_code error;
    for (auto it = std::filesystem::recursive_directory_iterator(directory, error); !error && it != std::filesystem::recursive_directory_iterator(); it.increment(error)) {
        if (!it->is_regular_file(error))
            continue;
        std::string path = it->path().string();
        std::string name = it->path().filename().string();
        std::size_t underscore = name.find('_');
        if (underscore == std::string::npos || !name.ends_with(kRecordExtension) || path == writing)
            continue;
        list.push_back(name.substr(underscore) + kSortKeySeparator + path);
        if (list.size() > kRecordingListLimit) {
            std::sort(list.begin(), list.end());
            list.pop_back();
        }
    }
    std::sort(list.begin(), list.end());
    for (const std::string& entry : list) {
        std::optional<std::uint64_t> free = sys::DiskFreeBytes(directory);
        if (!free || *free >= kRecordSpaceThreshold)
            break;
        std::string path = entry.substr(entry.find(kSortKeySeparator) + std::char_traits<char>::length(kSortKeySeparator));
        std::remove(path.c_str());
    }
}
