#pragma once
// The recorder's file: one RIFF AVI 1.0 recording (a single RIFF, no OpenDML
// extension) with a video and an audio stream. Chunks are appended to the
// movi list as they arrive; their index entries go to a companion file
// "<path>_idx" while recording and become the file's idx1 chunk at close.
// Until AviClose the RIFF, hdrl and movi sizes read 0 and there is no idx1;
// everything else is in place, so a recording a crash left open can be
// finished by AviRepair (media/AviRepair.h).
//
// The file, every number 32-bit little-endian unless marked:
//   0    "RIFF", file size - 8, "AVI "
//   12   "LIST", hdrl size, "hdrl"
//   24   "avih", 56, the main header                       (64 bytes)
//   88   "LIST", 116, "strl", "strh", 56, stream header,
//        "strf", 40, stream format                         (124 bytes, one per stream)
//   336  "LIST", movi size, "movi"                         (with two streams)
//   348  chunks: id, payload size, payload, a zero byte after an odd size
//   end  "idx1", entry count x 16, entries
//
// The headers rewritten while recording (AviWriteMainHeader,
// AviRewriteStream) go through a shared mapping of the file's first bytes,
// so they cost no system call and are in the file as soon as they return,
// as after a write: a process that dies leaves them current.
//
// Threads: a writer is not thread-safe; callers hold their own lock around
// every call on one writer. Ownership: AviOpen's writer is freed by AviClose.
// Deleting the companion file after AviClose is the caller's task.
//
// The writer holds an advisory lock (flock, exclusive) on the recording from
// AviOpen to AviClose: a clean-up of leftovers (AviRepair) leaves alone any
// file it cannot lock, whichever process writes it.

#include <array>
#include <cstddef>
#include <cstdint>
#include <sys/types.h>

struct iovec;

namespace media {

constexpr std::uint32_t Fourcc(const char (&s)[5])
{
    return static_cast<std::uint32_t>(static_cast<std::uint8_t>(s[0])) | static_cast<std::uint32_t>(static_cast<std::uint8_t>(s[1])) << 8
        | static_cast<std::uint32_t>(static_cast<std::uint8_t>(s[2])) << 16 | static_cast<std::uint32_t>(static_cast<std::uint8_t>(s[3])) << 24;
}

// The file's lists and chunks.
constexpr std::uint32_t kFourccRiff = Fourcc("RIFF");
constexpr std::uint32_t kFourccAvi = Fourcc("AVI ");
constexpr std::uint32_t kFourccList = Fourcc("LIST");
constexpr std::uint32_t kFourccHdrl = Fourcc("hdrl");
constexpr std::uint32_t kFourccAvih = Fourcc("avih");
constexpr std::uint32_t kFourccStrl = Fourcc("strl");
constexpr std::uint32_t kFourccStrh = Fourcc("strh");
constexpr std::uint32_t kFourccStrf = Fourcc("strf");
constexpr std::uint32_t kFourccMovi = Fourcc("movi");
constexpr std::uint32_t kFourccIdx1 = Fourcc("idx1");

// Stream types and the codings the recorder names.
constexpr std::uint32_t kFourccVids = Fourcc("vids");
constexpr std::uint32_t kFourccAuds = Fourcc("auds");
constexpr std::uint32_t kFourccH264 = Fourcc("H264");
constexpr std::uint32_t kFourccMjpg = Fourcc("MJPG");
constexpr std::uint32_t kFourccHevc = Fourcc("HEVC");

// Main header flags; the recorder sets kAviRecordingFlags (0x10030).
constexpr std::uint32_t kAvifHasIndex = 0x10;
constexpr std::uint32_t kAvifMustUseIndex = 0x20;
constexpr std::uint32_t kAvifWasCaptureFile = 0x10000;
constexpr std::uint32_t kAviRecordingFlags = kAvifHasIndex | kAvifMustUseIndex | kAvifWasCaptureFile;

// An index entry's flag for a key frame.
constexpr std::uint32_t kAviifKeyframe = 0x10;

// The wave format tag of 16-bit PCM.
constexpr std::uint16_t kWaveFormatPcm = 1;

// Sizes of the blocks, in bytes.
constexpr std::uint32_t kAviChunkHeaderSize = 8;     // id, size
constexpr std::uint32_t kAviListHeaderSize = 12;     // "LIST", size, type
constexpr std::uint32_t kAviHeaderPayloadSize = 56;  // avih and strh payloads
constexpr std::uint32_t kAviHeaderChunkSize = kAviChunkHeaderSize + kAviHeaderPayloadSize; // 64
constexpr std::uint32_t kAviStreamFormatSize = 40;   // strf payload
constexpr std::uint32_t kWaveFormatExSize = 18;      // of the 40-byte audio format, the rest zero
constexpr std::uint32_t kBitmapInfoHeaderSize = 40;
constexpr std::uint32_t kAviStreamListSize = 4 + kAviHeaderChunkSize + kAviChunkHeaderSize + kAviStreamFormatSize; // 116
constexpr std::uint32_t kAviStreamListBytes = kAviChunkHeaderSize + kAviStreamListSize; // 124
constexpr std::uint32_t kAviIndexEntrySize = 16;
// Fields within the avih and strh payloads, and within an index entry.
constexpr std::uint32_t kAviMainMicroSecPerFrameOffset = 0;
constexpr std::uint32_t kAviMainTotalFramesOffset = 16;
constexpr std::uint32_t kAviStreamTypeOffset = 0;
constexpr std::uint32_t kAviStreamScaleOffset = 20;
constexpr std::uint32_t kAviStreamRateOffset = 24;
constexpr std::uint32_t kAviStreamLengthOffset = 32;
constexpr std::uint32_t kAviStreamSampleSizeOffset = 44;
constexpr std::uint32_t kAviIndexOffsetOffset = 8;
constexpr std::uint32_t kAviIndexSizeOffset = 12;

// Where the recorder's file keeps its parts.
constexpr std::uint32_t kAviRiffSizePos = 4;
constexpr std::uint32_t kAviHdrlListPos = 12;
constexpr std::uint32_t kAviHdrlSizePos = 16;
constexpr std::uint32_t kAviMainHeaderPos = 24;
constexpr std::uint32_t kAviFirstStreamListPos = kAviMainHeaderPos + kAviHeaderChunkSize; // 88
constexpr std::uint32_t kAviRecordingStreams = 2;
constexpr std::uint32_t kAviMoviListPos = kAviFirstStreamListPos + kAviRecordingStreams * kAviStreamListBytes; // 336
constexpr std::uint32_t kAviMoviDataPos = kAviMoviListPos + kAviListHeaderSize; // 348

// A chunk is refused once the movi list has grown beyond this length.
constexpr std::uint32_t kAviMaxMoviLength = 0x10000000;
// The most streams a two-digit chunk id can number.
constexpr std::uint32_t kAviMaxStreams = 100;

constexpr const char* kAviIndexSuffix = "_idx";
// Index entries reach the companion file in batches of this many (and at
// close); a recording a crash left open has its last chunks found by
// walking on from the companion's last entry.
constexpr std::uint32_t kAviIndexBatchEntries = 64;
// Chunks are held in memory until this many bytes would be exceeded, then
// written with the chunk that overflows (so a process that dies loses at
// most these last bytes of the recording, which the headers already count).
constexpr std::uint32_t kAviWriteBehindBytes = 64 * 1024;

// Results.
constexpr int kAviOk = 0;
constexpr int kAviBadArgument = -2;
constexpr int kAviTooLarge = -5;
constexpr int kAviDiskFull = -102;    // ENOSPC or EDQUOT
constexpr int kAviWriteFailed = -103; // any other write or read failure

using AviHeaderChunk = std::array<std::uint8_t, kAviHeaderChunkSize>;
using AviStreamFormat = std::array<std::uint8_t, kAviStreamFormatSize>;

struct AviMainHeader {
    std::uint32_t microSecPerFrame = 0;
    std::uint32_t maxBytesPerSec = 0;
    std::uint32_t paddingGranularity = 0;
    std::uint32_t flags = 0;
    std::uint32_t totalFrames = 0;
    std::uint32_t initialFrames = 0;
    std::uint32_t streams = 0;
    std::uint32_t suggestedBufferSize = 0;
    std::uint32_t width = 0;
    std::uint32_t height = 0;
};

struct AviStreamHeader {
    std::uint32_t fccType = 0;
    std::uint32_t fccHandler = 0;
    std::uint32_t flags = 0;
    std::uint16_t priority = 0;
    std::uint16_t language = 0;
    std::uint32_t initialFrames = 0;
    std::uint32_t scale = 0;
    std::uint32_t rate = 0; // rate / scale: frames (video) or samples (audio) a second
    std::uint32_t start = 0;
    std::uint32_t length = 0; // in scale units: frames, or audio bytes / sampleSize
    std::uint32_t suggestedBufferSize = 0;
    std::uint32_t quality = 0;
    std::uint32_t sampleSize = 0;
    std::uint16_t left = 0;
    std::uint16_t top = 0;
    std::uint16_t right = 0;
    std::uint16_t bottom = 0;
};

struct BitmapInfoHeader {
    std::uint32_t size = kBitmapInfoHeaderSize;
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::uint16_t planes = 1;
    std::uint16_t bitCount = 0;
    std::uint32_t compression = 0;
    std::uint32_t sizeImage = 0;
    std::int32_t xPelsPerMeter = 0;
    std::int32_t yPelsPerMeter = 0;
    std::uint32_t clrUsed = 0;
    std::uint32_t clrImportant = 0;
};

struct WaveFormatEx {
    std::uint16_t formatTag = 0;
    std::uint16_t channels = 0;
    std::uint32_t samplesPerSec = 0;
    std::uint32_t avgBytesPerSec = 0;
    std::uint16_t blockAlign = 0;
    std::uint16_t bitsPerSample = 0;
    std::uint16_t cbSize = 0;
};

// The blocks AviAddStream, AviRewriteStream and AviWriteMainHeader take:
// the main and stream headers as whole chunks ("avih"/"strh", 56, fields),
// the formats as the 40-byte strf payload.
AviHeaderChunk SerializeMainHeader(const AviMainHeader&);
AviHeaderChunk SerializeStreamHeader(const AviStreamHeader&);
AviStreamFormat SerializeBitmapInfo(const BitmapInfoHeader&);
AviStreamFormat SerializeWaveFormat(const WaveFormatEx&);

// The fields of a header chunk's 56-byte payload (the bytes after "avih"/"strh", 56).
AviMainHeader ParseMainHeader(const std::uint8_t* payload);
AviStreamHeader ParseStreamHeader(const std::uint8_t* payload);
WaveFormatEx ParseWaveFormat(const std::uint8_t* format);
BitmapInfoHeader ParseBitmapInfo(const std::uint8_t* format);

struct AviWriter;

// Creates (or empties) the file and its companion index. Null on failure,
// with "Open2" (the file) or "Open1" (the companion) on standard output.
AviWriter* AviOpen(const char* path);

// Adds a stream list after the last one and the still empty movi list after
// it, before the first chunk. `chunkId` receives the stream's chunk id:
// its number in two digits and "dc" (video), "wb" (audio) or "gm".
int AviAddStream(const std::uint8_t* format40, AviWriter*, const std::uint8_t* streamHeader64, std::uint32_t* chunkId);

// Appends one chunk and its index entry. kAviTooLarge once the movi list is
// longer than kAviMaxMoviLength. A failed write (kAviDiskFull,
// kAviWriteFailed) indexes and counts nothing: the next chunk takes its place;
// chunks accepted before it and still held behind are written with the next.
int AviWriteChunk(int keyFlag, AviWriter*, std::uint32_t size, std::uint32_t chunkId, const void* data);

// Writes the n-th stream list (0 the first) again in place.
int AviRewriteStream(int n, AviWriter*, const std::uint8_t* streamHeader64, const std::uint8_t* format40);

// Writes the main header chunk in place.
int AviWriteMainHeader(AviWriter*, const std::uint8_t* mainHeader64);

// Writes the chunks still held, appends idx1, sets the RIFF, hdrl and movi
// sizes, closes both files and frees the writer. When the held chunks cannot
// be written they are left out of the movi list, the index and the headers'
// counts, and the write's error is returned. On a full disk the companion's
// space is given up for idx1 (its entries are kept in memory), and when
// that is not enough the last chunks are, as if never written. `finished`
// (when given) says whether the file was finished all the same: then it
// plays and the companion may go; otherwise the companion is what
// AviRepair needs and must stay.
int AviClose(AviWriter*, bool* finished = nullptr);

// Test seams, not for the recorder: the positioned write every write of the
// writer goes through (to make a disk full or fail), and the movi list's
// length (to reach kAviMaxMoviLength without writing 256 MiB).
using AviWriteFunction = ssize_t (*)(int fd, const iovec* parts, int count, off_t offset);
void AviSetWriteFunction(AviWriter*, AviWriteFunction);
void AviSetMoviLength(AviWriter*, std::uint32_t);

}
