#include "media/AviWriter.h"

#include "media/RiffBytes.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <new>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/uio.h>
#include <unistd.h>

namespace media {

using namespace riff;

namespace {

// The largest block built in memory: a stream list and the movi list after it.
constexpr std::size_t kMaxBlock = kAviStreamListBytes + kAviListHeaderSize;
using FileBlock = Block<kMaxBlock>;

// Index entries copied into idx1 at close, this many at a time.
constexpr std::size_t kIndexCopyEntries = 4096;
// Index entries go to the companion file this many at a time.
constexpr std::size_t kIndexBatchBytes = kAviIndexBatchEntries * kAviIndexEntrySize;

constexpr std::uint8_t kPadByte = 0;
// A chunk is written as the bytes held behind, its header, payload and pad.
constexpr int kMaxParts = 4;
constexpr char kDigitZero = '0';
constexpr std::uint32_t kDecimal = 10;

// The two letters after a chunk id's stream number, by stream type.
constexpr std::uint32_t kChunkSuffixVideo = Fourcc("\0\0dc");
constexpr std::uint32_t kChunkSuffixAudio = Fourcc("\0\0wb");
constexpr std::uint32_t kChunkSuffixOther = Fourcc("\0\0gm");

// A close on a full disk gives up the last chunks for room for the index
// (and this much more, a page of the file system) at most this many times.
constexpr std::uint64_t kRoomSlack = 4096;
constexpr int kRoomRounds = 4;

// Where a header chunk's stream type stands.
constexpr std::size_t kStreamTypeOffset = kAviChunkHeaderSize;


}

struct AviWriter {
    int fd = -1;      // the recording, locked (flock) for the writer's life
    int indexFd = -1; // the companion index; every read and write is positioned
    AviWriteFunction write = ::pwritev;

    // Positions, remembered as they are written; the sizes are patched at close.
    std::uint32_t riffSizePos = 0;
    std::uint32_t hdrlSizePos = 0;
    std::uint32_t mainHeaderPos = 0;
    std::uint32_t firstStreamListPos = 0;
    std::uint32_t moviSizePos = 0;
    std::uint32_t moviDataPos = 0;

    std::uint32_t streamListsLength = 0;
    std::uint32_t streamCount = 0;
    std::uint64_t moviLength = 0;  // chunks with their headers and pads
    std::uint32_t indexCount = 0;
    std::uint64_t companionLength = 0;      // bytes of entries in the companion
    std::vector<std::uint8_t> pendingIndex; // entries not yet in the companion

    // The last chunks accepted, not yet in the file: they go out with the
    // chunk that would overflow kAviWriteBehindBytes, and at close.
    std::vector<std::uint8_t> behind;
    std::uint32_t behindChunks = 0;      // chunks wholly or partly held
    std::uint64_t behindFirstChunk = 0;  // movi length where the first of them starts

    // The file's start up to the movi data, mapped shared once the stream
    // lists are written: a header written there is in the file at once,
    // without a system call, as a write would put it.
    std::uint8_t* header = nullptr;
    std::size_t headerLength = 0;
};

namespace {

int writeError()
{
    return errno == ENOSPC || errno == EDQUOT ? kAviDiskFull : kAviWriteFailed;
}

// Writes the parts one after the other from `pos`, with one call when the
// system takes them whole; `written` receives how many bytes reached the file.
int writeAt(const AviWriter& w, int fd, std::uint64_t pos, std::initializer_list<iovec> list, std::uint64_t* written = nullptr)
{
    iovec parts[kMaxParts];
    int count = 0;
    for (const iovec& part : list) {
        if (part.iov_len)
            parts[count++] = part;
    }
    std::uint64_t total = 0;
    int rc = kAviOk;
    iovec* next = parts;
    while (count > 0) {
        const ssize_t n = w.write(fd, next, count, static_cast<off_t>(pos + total));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            rc = n < 0 ? writeError() : kAviWriteFailed;
            break;
        }
        total += static_cast<std::uint64_t>(n);
        for (std::size_t done = static_cast<std::size_t>(n); done > 0 && count > 0;) {
            const std::size_t take = std::min(done, next->iov_len);
            next->iov_base = static_cast<std::uint8_t*>(next->iov_base) + take;
            next->iov_len -= take;
            done -= take;
            if (next->iov_len == 0) {
                ++next;
                --count;
            }
        }
    }
    if (written)
        *written = total;
    return rc;
}

iovec part(const void* data, std::size_t size)
{
    return { const_cast<void*>(data), size };
}

template<std::size_t C>
int writeBlock(const AviWriter& w, int fd, std::uint64_t pos, const Block<C>& block)
{
    return writeAt(w, fd, pos, { part(block.data(), block.size()) });
}

bool readAt(int fd, std::uint64_t pos, void* buffer, std::size_t size)
{
    auto* to = static_cast<std::uint8_t*>(buffer);
    while (size > 0) {
        const ssize_t n = ::pread(fd, to, size, static_cast<off_t>(pos));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        to += n;
        pos += static_cast<std::uint64_t>(n);
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

// Header bytes go through the mapping when it covers them.
int writeHeader(const AviWriter& w, std::uint64_t pos, const void* data, std::size_t size)
{
    if (w.header && pos + size <= w.headerLength) {
        std::memcpy(w.header + pos, data, size);
        return kAviOk;
    }
    return writeAt(w, w.fd, pos, { part(data, size) });
}

template<std::size_t C>
int writeHeaderBlock(const AviWriter& w, std::uint64_t pos, const Block<C>& block)
{
    return writeHeader(w, pos, block.data(), block.size());
}

bool readHeader(const AviWriter& w, std::uint64_t pos, void* buffer, std::size_t size)
{
    if (w.header && pos + size <= w.headerLength) {
        std::memcpy(buffer, w.header + pos, size);
        return true;
    }
    return readAt(w.fd, pos, buffer, size);
}

void unmapHeader(AviWriter& w)
{
    if (w.header)
        ::munmap(w.header, w.headerLength);
    w.header = nullptr;
    w.headerLength = 0;
}

// Maps the file's first moviDataPos bytes, all of them written already. Without
// a mapping the headers are written with the rest.
void mapHeader(AviWriter& w)
{
    unmapHeader(w);
    void* p = ::mmap(nullptr, w.moviDataPos, PROT_READ | PROT_WRITE, MAP_SHARED, w.fd, 0);
    if (p == MAP_FAILED)
        return;
    w.header = static_cast<std::uint8_t*>(p);
    w.headerLength = w.moviDataPos;
}

int flushBehind(AviWriter& w);

// Writes the pending entries after those already in the companion. On a
// failure they stay pending for the next try and for the close. The chunks
// held behind go to the file first: the companion never lists a chunk that
// a killed process would lose.
void flushIndex(AviWriter& w)
{
    if (w.pendingIndex.empty())
        return;
    if (!w.behind.empty() && (flushBehind(w) != kAviOk || !w.behind.empty()))
        return;
    std::uint64_t written = 0;
    writeAt(w, w.indexFd, w.companionLength, { part(w.pendingIndex.data(), w.pendingIndex.size()) }, &written);
    w.companionLength += written;
    w.pendingIndex.erase(w.pendingIndex.begin(), w.pendingIndex.begin() + static_cast<std::ptrdiff_t>(written));
}

// Drops what reached the file from the bytes held behind.
void dropWritten(AviWriter& w, std::uint64_t written)
{
    const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(written, w.behind.size()));
    w.behind.erase(w.behind.begin(), w.behind.begin() + static_cast<std::ptrdiff_t>(n));
    if (w.behind.empty())
        w.behindChunks = 0;
}

// Where the file's movi data ends on disk: the bytes held behind follow.
std::uint64_t diskEnd(const AviWriter& w)
{
    return w.moviDataPos + w.moviLength - w.behind.size();
}

int flushBehind(AviWriter& w)
{
    std::uint64_t written = 0;
    const int rc = writeAt(w, w.fd, diskEnd(w), { part(w.behind.data(), w.behind.size()) }, &written);
    dropWritten(w, written);
    return rc;
}

// "LIST", 116, "strl", the stream header chunk, "strf", 40, the format.
void putStreamList(FileBlock& b, const std::uint8_t* streamHeader64, const std::uint8_t* format40)
{
    wfourcc(b, kFourccList);
    wl32(b, kAviStreamListSize);
    wfourcc(b, kFourccStrl);
    wbytes(b, streamHeader64, kAviHeaderChunkSize);
    wfourcc(b, kFourccStrf);
    wl32(b, kAviStreamFormatSize);
    wbytes(b, format40, kAviStreamFormatSize);
}

// The movi list's header with its size still 0; remembers where it stands.
void putMoviList(AviWriter& w, FileBlock& b, std::uint32_t blockPos)
{
    wfourcc(b, kFourccList);
    w.moviSizePos = blockPos + static_cast<std::uint32_t>(b.size());
    wl32(b, 0); // movi size, patched at close
    wfourcc(b, kFourccMovi);
    w.moviDataPos = blockPos + static_cast<std::uint32_t>(b.size());
}

std::uint32_t chunkId(std::uint32_t stream, std::uint32_t type)
{
    const std::uint32_t digits = static_cast<std::uint32_t>(kDigitZero + stream / kDecimal)
        | static_cast<std::uint32_t>(kDigitZero + stream % kDecimal) << kByteBits;
    if (type == kFourccVids)
        return digits | kChunkSuffixVideo;
    if (type == kFourccAuds)
        return digits | kChunkSuffixAudio;
    return digits | kChunkSuffixOther;
}

// Appends "idx1" and the first indexCount entries (the companion's, then
// those still pending) at `end`.
int appendIndex(AviWriter& w, std::uint64_t end)
{
    const std::uint64_t length = std::uint64_t { w.indexCount } * kAviIndexEntrySize;
    Block<kAviChunkHeaderSize> head;
    wfourcc(head, kFourccIdx1);
    wl32(head, static_cast<std::uint32_t>(length));
    int rc = writeBlock(w, w.fd, end, head);
    std::vector<std::uint8_t> entries(kIndexCopyEntries * kAviIndexEntrySize);
    const std::uint64_t inCompanion = std::min(length, w.companionLength);
    std::uint64_t copied = 0;
    while (rc == kAviOk && copied < inCompanion) {
        const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(entries.size(), inCompanion - copied));
        if (!readAt(w.indexFd, copied, entries.data(), n))
            return kAviWriteFailed;
        rc = writeAt(w, w.fd, end + kAviChunkHeaderSize + copied, { part(entries.data(), n) });
        copied += n;
    }
    if (rc == kAviOk && copied < length)
        rc = writeAt(w, w.fd, end + kAviChunkHeaderSize + copied, { part(w.pendingIndex.data(), static_cast<std::size_t>(length - copied)) });
    return rc;
}

void closeFiles(AviWriter& w)
{
    if (w.fd >= 0)
        ::close(w.fd);
    if (w.indexFd >= 0)
        ::close(w.indexFd);
    w.fd = w.indexFd = -1;
}

// A file of the recorder's own, opened without following a symbolic link
// left in its place.
int openOwn(const char* path, int flags)
{
    constexpr mode_t kFileMode = 0644;
    return ::open(path, O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC | flags, kFileMode);
}


// Index entry `i`: in the companion or still pending.
bool entryAt(const AviWriter& w, std::uint32_t i, std::uint8_t (&entry)[kAviIndexEntrySize])
{
    const std::uint64_t pos = std::uint64_t { i } * kAviIndexEntrySize;
    if (pos < w.companionLength)
        return readAt(w.indexFd, pos, entry, sizeof entry);
    const std::uint64_t at = pos - w.companionLength;
    if (at + sizeof entry > w.pendingIndex.size())
        return false;
    std::memcpy(entry, w.pendingIndex.data() + at, sizeof entry);
    return true;
}

// Takes index entries [first, last) out of the headers' counts: the main
// header's total frames, each stream's length (frames, or audio bytes /
// sample size).
void uncount(AviWriter& w, std::uint32_t first, std::uint32_t last)
{
    for (std::uint32_t i = first; i < last; ++i) {
        std::uint8_t entry[kAviIndexEntrySize];
        if (!entryAt(w, i, entry))
            continue;
        const auto c0 = static_cast<std::uint32_t>(entry[0] - kDigitZero), c1 = static_cast<std::uint32_t>(entry[1] - kDigitZero);
        const std::uint32_t stream = c0 * kDecimal + c1;
        if (c0 >= kDecimal || c1 >= kDecimal || stream >= w.streamCount)
            continue;
        const std::uint64_t fields = w.firstStreamListPos + std::uint64_t { stream } * kAviStreamListBytes + kAviListHeaderSize + kAviChunkHeaderSize;
        std::uint8_t header[kAviHeaderPayloadSize];
        if (!readHeader(w, fields, header, sizeof header))
            continue;
        const std::uint32_t sampleSize = rl32(header + kAviStreamSampleSizeOffset);
        const std::uint32_t units = rl32(header + kAviStreamTypeOffset) == kFourccAuds && sampleSize ? rl32(entry + kAviIndexSizeOffset) / sampleSize : 1;
        Block<sizeof(std::uint32_t)> length;
        wl32(length, rl32(header + kAviStreamLengthOffset) - std::min(units, rl32(header + kAviStreamLengthOffset))); // dwLength
        writeHeaderBlock(w, fields + kAviStreamLengthOffset, length);
        if (rl32(header + kAviStreamTypeOffset) == kFourccVids) {
            std::uint8_t total[sizeof(std::uint32_t)];
            const std::uint64_t at = w.mainHeaderPos + kAviChunkHeaderSize + kAviMainTotalFramesOffset;
            if (readHeader(w, at, total, sizeof total)) {
                Block<sizeof(std::uint32_t)> frames;
                wl32(frames, rl32(total) - std::min(1u, rl32(total))); // dwTotalFrames
                writeHeaderBlock(w, at, frames);
            }
        }
    }
}

}

AviHeaderChunk SerializeMainHeader(const AviMainHeader& h)
{
    Block<kAviHeaderChunkSize> b;
    wfourcc(b, kFourccAvih);
    wl32(b, kAviHeaderPayloadSize);
    wl32(b, h.microSecPerFrame);    // dwMicroSecPerFrame
    wl32(b, h.maxBytesPerSec);      // dwMaxBytesPerSec
    wl32(b, h.paddingGranularity);  // dwPaddingGranularity
    wl32(b, h.flags);               // dwFlags
    wl32(b, h.totalFrames);         // dwTotalFrames
    wl32(b, h.initialFrames);       // dwInitialFrames
    wl32(b, h.streams);             // dwStreams
    wl32(b, h.suggestedBufferSize); // dwSuggestedBufferSize
    wl32(b, h.width);               // dwWidth
    wl32(b, h.height);              // dwHeight
    wzeros(b, kAviHeaderChunkSize - b.size()); // dwReserved[4]
    AviHeaderChunk out;
    std::memcpy(out.data(), b.data(), out.size());
    return out;
}

AviHeaderChunk SerializeStreamHeader(const AviStreamHeader& h)
{
    Block<kAviHeaderChunkSize> b;
    wfourcc(b, kFourccStrh);
    wl32(b, kAviHeaderPayloadSize);
    wfourcc(b, h.fccType);          // fccType
    wfourcc(b, h.fccHandler);       // fccHandler
    wl32(b, h.flags);               // dwFlags
    wl16(b, h.priority);            // wPriority
    wl16(b, h.language);            // wLanguage
    wl32(b, h.initialFrames);       // dwInitialFrames
    wl32(b, h.scale);               // dwScale
    wl32(b, h.rate);                // dwRate
    wl32(b, h.start);               // dwStart
    wl32(b, h.length);              // dwLength
    wl32(b, h.suggestedBufferSize); // dwSuggestedBufferSize
    wl32(b, h.quality);             // dwQuality
    wl32(b, h.sampleSize);          // dwSampleSize
    wl16(b, h.left);                // rcFrame.left
    wl16(b, h.top);                 // rcFrame.top
    wl16(b, h.right);               // rcFrame.right
    wl16(b, h.bottom);              // rcFrame.bottom
    AviHeaderChunk out;
    std::memcpy(out.data(), b.data(), out.size());
    return out;
}

AviStreamFormat SerializeBitmapInfo(const BitmapInfoHeader& h)
{
    Block<kAviStreamFormatSize> b;
    wl32(b, h.size);                                   // biSize
    wl32(b, static_cast<std::uint32_t>(h.width));         // biWidth
    wl32(b, static_cast<std::uint32_t>(h.height));        // biHeight
    wl16(b, h.planes);                                 // biPlanes
    wl16(b, h.bitCount);                               // biBitCount
    wfourcc(b, h.compression);                         // biCompression
    wl32(b, h.sizeImage);                              // biSizeImage
    wl32(b, static_cast<std::uint32_t>(h.xPelsPerMeter)); // biXPelsPerMeter
    wl32(b, static_cast<std::uint32_t>(h.yPelsPerMeter)); // biYPelsPerMeter
    wl32(b, h.clrUsed);                                // biClrUsed
    wl32(b, h.clrImportant);                           // biClrImportant
    AviStreamFormat out;
    std::memcpy(out.data(), b.data(), out.size());
    return out;
}

AviStreamFormat SerializeWaveFormat(const WaveFormatEx& f)
{
    Block<kAviStreamFormatSize> b;
    wl16(b, f.formatTag);      // wFormatTag
    wl16(b, f.channels);       // nChannels
    wl32(b, f.samplesPerSec);  // nSamplesPerSec
    wl32(b, f.avgBytesPerSec); // nAvgBytesPerSec
    wl16(b, f.blockAlign);     // nBlockAlign
    wl16(b, f.bitsPerSample);  // wBitsPerSample
    wl16(b, f.cbSize);         // cbSize
    wzeros(b, kAviStreamFormatSize - kWaveFormatExSize); // the rest of the 40-byte format
    AviStreamFormat out;
    std::memcpy(out.data(), b.data(), out.size());
    return out;
}

AviMainHeader ParseMainHeader(const std::uint8_t* p)
{
    AviMainHeader h;
    h.microSecPerFrame = rl32(p);
    h.maxBytesPerSec = rl32(p + 4);
    h.paddingGranularity = rl32(p + 8);
    h.flags = rl32(p + 12);
    h.totalFrames = rl32(p + 16);
    h.initialFrames = rl32(p + 20);
    h.streams = rl32(p + 24);
    h.suggestedBufferSize = rl32(p + 28);
    h.width = rl32(p + 32);
    h.height = rl32(p + 36);
    return h;
}

AviStreamHeader ParseStreamHeader(const std::uint8_t* p)
{
    AviStreamHeader h;
    h.fccType = rl32(p);
    h.fccHandler = rl32(p + 4);
    h.flags = rl32(p + 8);
    h.priority = rl16(p + 12);
    h.language = rl16(p + 14);
    h.initialFrames = rl32(p + 16);
    h.scale = rl32(p + 20);
    h.rate = rl32(p + 24);
    h.start = rl32(p + 28);
    h.length = rl32(p + 32);
    h.suggestedBufferSize = rl32(p + 36);
    h.quality = rl32(p + 40);
    h.sampleSize = rl32(p + 44);
    h.left = rl16(p + 48);
    h.top = rl16(p + 50);
    h.right = rl16(p + 52);
    h.bottom = rl16(p + 54);
    return h;
}

WaveFormatEx ParseWaveFormat(const std::uint8_t* p)
{
    WaveFormatEx f;
    f.formatTag = rl16(p);
    f.channels = rl16(p + 2);
    f.samplesPerSec = rl32(p + 4);
    f.avgBytesPerSec = rl32(p + 8);
    f.blockAlign = rl16(p + 12);
    f.bitsPerSample = rl16(p + 14);
    f.cbSize = rl16(p + 16);
    return f;
}

BitmapInfoHeader ParseBitmapInfo(const std::uint8_t* p)
{
    BitmapInfoHeader h;
    h.size = rl32(p);
    h.width = static_cast<std::int32_t>(rl32(p + 4));
    h.height = static_cast<std::int32_t>(rl32(p + 8));
    h.planes = rl16(p + 12);
    h.bitCount = rl16(p + 14);
    h.compression = rl32(p + 16);
    h.sizeImage = rl32(p + 20);
    h.xPelsPerMeter = static_cast<std::int32_t>(rl32(p + 24));
    h.yPelsPerMeter = static_cast<std::int32_t>(rl32(p + 28));
    h.clrUsed = rl32(p + 32);
    h.clrImportant = rl32(p + 36);
    return h;
}

AviWriter* AviOpen(const char* path)
{
    // The recording is locked before it is emptied and before its companion
    // exists: a leftover clean-up that finds the companion cannot take it.
    const int fd = path ? openOwn(path, 0) : -1;
    if (fd < 0 || ::flock(fd, LOCK_EX | LOCK_NB) != 0 || ::ftruncate(fd, 0) != 0) {
        if (fd >= 0)
            ::close(fd);
        std::fputs("Open2", stdout);
        return nullptr;
    }
    const std::string indexPath = std::string(path) + kAviIndexSuffix;
    const int indexFd = openOwn(indexPath.c_str(), O_TRUNC);
    if (indexFd < 0) {
        std::fputs("Open1", stdout);
        ::close(fd);
        return nullptr;
    }
    auto* w = new (std::nothrow) AviWriter;
    if (!w) {
        std::fputs("AVI malloc fail!\n", stdout);
        std::fflush(stdout);
        ::close(fd);
        ::close(indexFd);
        return nullptr;
    }
    w->fd = fd;
    w->indexFd = indexFd;
    w->behind.reserve(kAviWriteBehindBytes);
    w->pendingIndex.reserve(kIndexBatchBytes);

    FileBlock b;
    wfourcc(b, kFourccRiff);
    w->riffSizePos = static_cast<std::uint32_t>(b.size());
    wl32(b, 0); // RIFF size, patched at close
    wfourcc(b, kFourccAvi);
    wfourcc(b, kFourccList);
    w->hdrlSizePos = static_cast<std::uint32_t>(b.size());
    wl32(b, 0); // hdrl size, patched at close
    wfourcc(b, kFourccHdrl);
    w->mainHeaderPos = static_cast<std::uint32_t>(b.size());
    w->firstStreamListPos = w->mainHeaderPos + kAviHeaderChunkSize;
    if (writeBlock(*w, w->fd, 0, b) != kAviOk) {
        closeFiles(*w);
        delete w;
        return nullptr;
    }
    return w;
}

int AviAddStream(const std::uint8_t* format40, AviWriter* w, const std::uint8_t* streamHeader64, std::uint32_t* id)
{
    if (!format40 || !w || !streamHeader64 || !id || w->streamCount >= kAviMaxStreams)
        return kAviBadArgument;
    const std::uint32_t listPos = w->firstStreamListPos + w->streamListsLength;
    FileBlock b;
    putStreamList(b, streamHeader64, format40);
    putMoviList(*w, b, listPos);
    if (int rc = writeBlock(*w, w->fd, listPos, b); rc != kAviOk)
        return rc;
    w->streamListsLength += kAviStreamListBytes;
    mapHeader(*w);
    *id = chunkId(w->streamCount, rl32(streamHeader64 + kStreamTypeOffset));
    ++w->streamCount;
    return kAviOk;
}

int AviWriteChunk(int keyFlag, AviWriter* w, std::uint32_t size, std::uint32_t id, const void* data)
{
    if (!w || w->streamCount == 0 || (!data && size))
        return kAviBadArgument;
    if (w->moviLength > kAviMaxMoviLength || size > kAviMaxMoviLength)
        return kAviTooLarge;
    const std::uint32_t pad = size & 1;
    const std::uint64_t chunkBytes = kAviChunkHeaderSize + std::uint64_t { size } + pad;
    Block<kAviChunkHeaderSize> head;
    wfourcc(head, id); // ckid
    wl32(head, size);  // ckSize
    if (w->behind.size() + chunkBytes <= kAviWriteBehindBytes) {
        if (w->behind.empty())
            w->behindFirstChunk = w->moviLength;
        const auto* payload = static_cast<const std::uint8_t*>(data);
        w->behind.insert(w->behind.end(), head.data(), head.data() + head.size());
        w->behind.insert(w->behind.end(), payload, payload + size);
        w->behind.insert(w->behind.end(), pad, kPadByte);
        ++w->behindChunks;
    } else {
        // What is held behind and this chunk, in one write.
        std::uint64_t written = 0;
        const int rc = writeAt(*w, w->fd, diskEnd(*w),
            { part(w->behind.data(), w->behind.size()), part(head.data(), head.size()), part(data, size), part(&kPadByte, pad) }, &written);
        dropWritten(*w, written);
        if (rc != kAviOk)
            return rc; // the next chunk is written where this one began
    }
    Block<kAviIndexEntrySize> entry;
    wfourcc(entry, id);                                   // ckid
    wl32(entry, keyFlag ? kAviifKeyframe : 0);            // dwFlags
    wl32(entry, static_cast<std::uint32_t>(w->moviLength + sizeof kFourccMovi)); // dwChunkOffset, from the movi FOURCC
    wl32(entry, size);                                    // dwChunkLength
    w->pendingIndex.insert(w->pendingIndex.end(), entry.data(), entry.data() + entry.size());
    ++w->indexCount;
    w->moviLength += chunkBytes;
    if (w->pendingIndex.size() >= kIndexBatchBytes)
        flushIndex(*w);
    return kAviOk;
}

int AviRewriteStream(int n, AviWriter* w, const std::uint8_t* streamHeader64, const std::uint8_t* format40)
{
    if (!w || !streamHeader64 || !format40 || n < 0 || static_cast<std::uint32_t>(n) >= w->streamCount)
        return kAviBadArgument;
    std::uint64_t pos = w->firstStreamListPos;
    for (int i = 0; i < n; ++i) {
        std::uint8_t list[kAviListHeaderSize];
        if (!readHeader(*w, pos, list, sizeof list))
            return kAviWriteFailed;
        if (rl32(list) != kFourccList || rl32(list + 8) != kFourccStrl)
            return kAviBadArgument;
        pos += kAviListHeaderSize + rl32(list + 4) - sizeof kFourccStrl;
    }
    FileBlock b;
    putStreamList(b, streamHeader64, format40);
    return writeHeaderBlock(*w, pos, b);
}

int AviWriteMainHeader(AviWriter* w, const std::uint8_t* mainHeader64)
{
    if (!w || !mainHeader64)
        return kAviBadArgument;
    return writeHeader(*w, w->mainHeaderPos, mainHeader64, kAviHeaderChunkSize);
}

int AviClose(AviWriter* w, bool* finished)
{
    if (finished)
        *finished = false;
    if (!w)
        return kAviBadArgument;
    if (w->streamCount == 0) {
        FileBlock b;
        putMoviList(*w, b, w->firstStreamListPos);
        writeBlock(*w, w->fd, w->firstStreamListPos, b);
    }
    // On a full disk the companion's entries move into memory and its space
    // goes to the chunks held behind and to idx1, which needs as much.
    bool companionFreed = false;
    auto freeCompanion = [&] {
        if (companionFreed || w->companionLength == 0)
            return false;
        companionFreed = true;
        std::vector<std::uint8_t> entries(static_cast<std::size_t>(w->companionLength));
        if (!readAt(w->indexFd, 0, entries.data(), entries.size()) || ::ftruncate(w->indexFd, 0) != 0)
            return false;
        w->pendingIndex.insert(w->pendingIndex.begin(), entries.begin(), entries.end());
        w->companionLength = 0;
        return true;
    };
    // Bytes of a write that failed part way lie beyond what the file holds.
    auto cutAtDiskEnd = [&] { return ::ftruncate(w->fd, static_cast<off_t>(diskEnd(*w))) == 0; };
    int rc = flushBehind(*w);
    if (rc == kAviDiskFull && cutAtDiskEnd() && freeCompanion())
        rc = flushBehind(*w);
    if (rc != kAviOk) {
        // The chunks that did not reach the file leave the index and the counts.
        uncount(*w, w->indexCount - w->behindChunks, w->indexCount);
        w->moviLength = w->behindFirstChunk;
        w->indexCount -= w->behindChunks;
        w->behind.clear();
        w->behindChunks = 0;
    }
    std::uint64_t end = w->moviDataPos + w->moviLength;
    int indexRc = ::ftruncate(w->fd, static_cast<off_t>(end)) == 0 ? appendIndex(*w, end) : writeError();
    if (indexRc == kAviDiskFull && freeCompanion() && ::ftruncate(w->fd, static_cast<off_t>(end)) == 0)
        indexRc = appendIndex(*w, end);
    // Still no room: the last chunks make way for the index of the others.
    for (int round = 0; indexRc == kAviDiskFull && w->indexCount > 0 && round < kRoomRounds; ++round) {
        const std::uint64_t need = kAviChunkHeaderSize + std::uint64_t { w->indexCount } * kAviIndexEntrySize + kRoomSlack;
        std::uint32_t keep = w->indexCount;
        std::uint64_t length = w->moviLength;
        std::uint8_t entry[kAviIndexEntrySize];
        while (keep > 0 && w->moviLength - length < need && entryAt(*w, keep - 1, entry)) {
            length = rl32(entry + kAviIndexOffsetOffset) - sizeof kFourccMovi;
            --keep;
        }
        if (keep == w->indexCount || length > w->moviLength)
            break;
        uncount(*w, keep, w->indexCount);
        w->indexCount = keep;
        w->moviLength = length;
        end = w->moviDataPos + w->moviLength;
        indexRc = ::ftruncate(w->fd, static_cast<off_t>(end)) == 0 ? appendIndex(*w, end) : writeError();
        if (rc == kAviOk)
            rc = kAviDiskFull; // chunks were given up
    }
    const std::uint64_t fileSize = end + kAviChunkHeaderSize + std::uint64_t { w->indexCount } * kAviIndexEntrySize;

    // The sizes the header left open.
    Block<sizeof(std::uint32_t)> riffSize, hdrlSize, moviSize;
    wl32(riffSize, static_cast<std::uint32_t>(fileSize - kAviChunkHeaderSize));                      // RIFF size
    wl32(hdrlSize, w->moviSizePos - sizeof kFourccList - w->hdrlSizePos - sizeof(std::uint32_t));  // hdrl size
    wl32(moviSize, static_cast<std::uint32_t>(w->moviLength + sizeof kFourccMovi));                 // movi size
    if (indexRc == kAviOk)
        indexRc = writeHeaderBlock(*w, w->riffSizePos, riffSize);
    if (indexRc == kAviOk)
        indexRc = writeHeaderBlock(*w, w->hdrlSizePos, hdrlSize);
    if (indexRc == kAviOk)
        indexRc = writeHeaderBlock(*w, w->moviSizePos, moviSize);
    unmapHeader(*w);
    if (::close(w->fd) != 0 && indexRc == kAviOk)
        indexRc = writeError();
    w->fd = -1;
    if (finished)
        *finished = indexRc == kAviOk;
    closeFiles(*w);
    delete w;
    return rc != kAviOk ? rc : indexRc;
}

void AviSetWriteFunction(AviWriter* w, AviWriteFunction write)
{
    w->write = write ? write : ::pwritev;
}

void AviSetMoviLength(AviWriter* w, std::uint32_t length)
{
    w->moviLength = length;
}

}
