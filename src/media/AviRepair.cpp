#include "media/AviRepair.h"

#include "media/AviWriter.h"
#include "media/RiffBytes.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include <dirent.h>
#include <sys/file.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace media {

using namespace riff;

namespace {

constexpr std::uint32_t kMicrosecondsPerSecond = 1'000'000;
constexpr std::uint32_t kDefaultFrameRate = 25;

// How much of a video chunk is searched for a key frame's NAL units.
constexpr std::size_t kKeyScanBytes = 64 * 1024;
constexpr std::uint8_t kNalTypeMask = 0x1f;
constexpr std::uint8_t kNalIdr = 5;
constexpr std::uint8_t kNalSps = 7;
constexpr std::uint32_t kFourccH264Lower = Fourcc("h264");
constexpr std::uint32_t kFourccHevcLower = Fourcc("hevc");
// H.265: the type is bits 1 to 6 of the NAL header; 16 to 21 are the
// pictures a decoder can start at, 32 to 34 the parameter sets.
constexpr int kHevcNalTypeShift = 1;
constexpr std::uint8_t kHevcNalTypeMask = 0x3f;
constexpr std::uint8_t kHevcFirstRandomAccess = 16;
constexpr std::uint8_t kHevcLastRandomAccess = 21;
constexpr std::uint8_t kHevcFirstParameterSet = 32;
constexpr std::uint8_t kHevcLastParameterSet = 34;

constexpr std::uint32_t kChunkTypeShift = 16;
constexpr std::uint32_t kDecimal = 10;
constexpr std::uint32_t kFourccBytes = 4;

struct Stream {
    std::uint64_t headerPos = 0; // of the "strh" chunk
    AviStreamHeader header;
    std::uint32_t compression = 0; // video: biCompression
    WaveFormatEx wave;             // audio
};

struct Entry {
    std::uint32_t id;
    std::uint32_t flags;
    std::uint32_t offset; // from the movi FOURCC
    std::uint32_t size;
};

class File {
public:
    explicit File(int fd) : m_fd(fd) { }
    ~File()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    File(const File&) = delete;
    File& operator=(const File&) = delete;

    int fd() const { return m_fd; }
    bool read(std::uint64_t pos, void* to, std::size_t n) const
    {
        auto* p = static_cast<std::uint8_t*>(to);
        while (n > 0) {
            const ssize_t got = ::pread(m_fd, p, n, static_cast<off_t>(pos));
            if (got < 0 && errno == EINTR)
                continue;
            if (got <= 0)
                return false;
            p += got;
            pos += static_cast<std::uint64_t>(got);
            n -= static_cast<std::size_t>(got);
        }
        return true;
    }
    bool write(std::uint64_t pos, const void* from, std::size_t n) const
    {
        const auto* p = static_cast<const std::uint8_t*>(from);
        while (n > 0) {
            const ssize_t put = ::pwrite(m_fd, p, n, static_cast<off_t>(pos));
            if (put < 0 && errno == EINTR)
                continue;
            if (put <= 0)
                return false;
            p += put;
            pos += static_cast<std::uint64_t>(put);
            n -= static_cast<std::size_t>(put);
        }
        return true;
    }
    bool write32(std::uint64_t pos, std::uint32_t value) const
    {
        Block<sizeof value> b;
        wl32(b, value);
        return write(pos, b.data(), b.size());
    }

private:
    int m_fd;
};

std::uint64_t padded(std::uint64_t size)
{
    return size + (size & 1);
}

// The stream number of a chunk id "NNxx", or -1 when it is not one.
int streamOf(std::uint32_t id)
{
    const auto c0 = static_cast<char>(id & 0xff), c1 = static_cast<char>((id >> kByteBits) & 0xff);
    const auto c2 = static_cast<char>((id >> kChunkTypeShift) & 0xff), c3 = static_cast<char>(id >> (kChunkTypeShift + kByteBits));
    auto digit = [](char c) { return c >= '0' && c <= '9'; };
    auto letter = [](char c) { return c >= 'a' && c <= 'z'; };
    if (!digit(c0) || !digit(c1) || !letter(c2) || !letter(c3))
        return -1;
    return (c0 - '0') * static_cast<int>(kDecimal) + (c1 - '0');
}

bool holdsKeyPicture(const std::uint8_t* p, std::size_t n, bool hevc)
{
    for (std::size_t i = 0; i + 3 < n; ++i) {
        if (p[i] == 0 && p[i + 1] == 0 && p[i + 2] == 1) {
            if (!hevc) {
                const std::uint8_t type = p[i + 3] & kNalTypeMask;
                if (type == kNalIdr || type == kNalSps)
                    return true;
                continue;
            }
            const std::uint8_t type = (p[i + 3] >> kHevcNalTypeShift) & kHevcNalTypeMask;
            if ((type >= kHevcFirstRandomAccess && type <= kHevcLastRandomAccess) || (type >= kHevcFirstParameterSet && type <= kHevcLastParameterSet))
                return true;
        }
    }
    return false;
}

// The key-frame flag of a chunk found by walking: H.264 chunks holding an
// IDR picture or a sequence parameter set, H.265 chunks holding a random
// access picture or a parameter set, every other chunk.
std::uint32_t walkedFlags(const File& file, const std::vector<Stream>& streams, int stream, std::uint64_t payloadPos, std::uint32_t size)
{
    if (stream < 0 || static_cast<std::size_t>(stream) >= streams.size())
        return kAviifKeyframe;
    const Stream& s = streams[static_cast<std::size_t>(stream)];
    auto named = [&](std::uint32_t upper, std::uint32_t lower) {
        return s.header.fccHandler == upper || s.header.fccHandler == lower || s.compression == upper || s.compression == lower;
    };
    const bool video = s.header.fccType == kFourccVids;
    const bool h264 = video && named(kFourccH264, kFourccH264Lower);
    const bool hevc = video && named(kFourccHevc, kFourccHevcLower);
    if (!h264 && !hevc)
        return kAviifKeyframe;
    std::vector<std::uint8_t> payload(std::min<std::size_t>(size, kKeyScanBytes));
    if (!file.read(payloadPos, payload.data(), payload.size()))
        return 0;
    return holdsKeyPicture(payload.data(), payload.size(), hevc) ? kAviifKeyframe : 0;
}

void refuse(AviRepairReport& r, AviRepairResult result, std::string reason)
{
    r.result = result;
    r.reason = std::move(reason);
}

// True when the file has its RIFF size and an idx1 wholly inside it.
bool isComplete(const File& file, std::uint64_t size, std::uint32_t riffSize)
{
    if (std::uint64_t { riffSize } + kAviChunkHeaderSize != size)
        return false;
    std::uint64_t pos = kAviListHeaderSize;
    std::uint8_t head[kAviChunkHeaderSize];
    while (pos + kAviChunkHeaderSize <= size && file.read(pos, head, sizeof head)) {
        const std::uint64_t chunkSize = rl32(head + kFourccBytes);
        if (rl32(head) == kFourccIdx1)
            return pos + kAviChunkHeaderSize + chunkSize <= size;
        pos += kAviChunkHeaderSize + padded(chunkSize);
    }
    return false;
}

}

namespace {

// What a file must be to be repaired: a regular file (never a FIFO, whose
// open must not wait for a writer: every open is non-blocking), and in a
// record folder one of this user's with no other name, reached without a
// symbolic link.
enum class Scope { Named, InFolder };

int openFlags(Scope scope, int access)
{
    return access | O_NONBLOCK | O_CLOEXEC | (scope == Scope::InFolder ? O_NOFOLLOW : 0);
}

bool acceptable(const struct stat& st, Scope scope)
{
    return S_ISREG(st.st_mode) && (scope == Scope::Named || (st.st_uid == ::geteuid() && st.st_nlink == 1));
}

void repairAt(int dirFd, const std::string& path, Scope scope, AviRepairReport& report)
{
    report = AviRepairReport {};
    File file(::openat(dirFd, path.c_str(), openFlags(scope, O_RDWR)));
    if (file.fd() < 0) {
        refuse(report, errno == ELOOP ? AviRepairResult::Refused : AviRepairResult::Failed, std::string("cannot open: ") + std::strerror(errno));
        return;
    }
    struct stat st {};
    if (::fstat(file.fd(), &st) != 0 || !acceptable(st, scope)) {
        refuse(report, AviRepairResult::Refused, scope == Scope::Named ? "not a regular file" : "not a regular file of this user with one name");
        return;
    }
    // A recorder holds its file locked while it writes it.
    if (::flock(file.fd(), LOCK_EX | LOCK_NB) != 0) {
        refuse(report, AviRepairResult::Refused, "being written by a recorder");
        return;
    }
    const auto size = static_cast<std::uint64_t>(st.st_size);
    std::uint8_t riff[kAviListHeaderSize];
    if (size < sizeof riff || !file.read(0, riff, sizeof riff)) {
        refuse(report, AviRepairResult::Refused, "too short for a RIFF header");
        return;
    }
    if (rl32(riff) != kFourccRiff || rl32(riff + 2 * kFourccBytes) != kFourccAvi) {
        refuse(report, AviRepairResult::Refused, "not a RIFF AVI file");
        return;
    }
    if (isComplete(file, size, rl32(riff + kFourccBytes))) {
        report.result = AviRepairResult::AlreadyComplete;
        return;
    }

    // The header: the main header, the stream lists and where movi starts.
    std::vector<Stream> streams;
    std::uint64_t hdrlPos = 0, mainPos = 0, moviPos = 0;
    bool haveHdrl = false, haveMain = false, haveMovi = false;
    for (std::uint64_t pos = kAviListHeaderSize; !haveMovi && pos + kAviChunkHeaderSize <= size;) {
        std::uint8_t head[kAviListHeaderSize] = {};
        const bool list = pos + kAviListHeaderSize <= size;
        if (!file.read(pos, head, list ? kAviListHeaderSize : kAviChunkHeaderSize))
            break;
        const std::uint32_t id = rl32(head), chunkSize = rl32(head + kFourccBytes), type = rl32(head + kAviChunkHeaderSize);
        if (id == kFourccList && list && type == kFourccHdrl) {
            if (haveHdrl) {
                // The recorder writes one; with two, the sizes the close
                // would have set cannot be told.
                refuse(report, AviRepairResult::Refused, "more than one header list");
                return;
            }
            hdrlPos = pos;
            haveHdrl = true;
            pos += kAviListHeaderSize; // its size may still be 0: enter it
            continue;
        }
        if (id == kFourccList && list && type == kFourccMovi) {
            moviPos = pos;
            haveMovi = true;
            break;
        }
        if (id == kFourccAvih && chunkSize >= kAviHeaderPayloadSize) {
            mainPos = pos;
            haveMain = true;
        }
        if (id == kFourccList && list && type == kFourccStrl && streams.size() < kAviMaxStreams
            && chunkSize >= kAviStreamListSize && pos + kAviChunkHeaderSize + kAviStreamListSize <= size) {
            std::uint8_t strl[kAviStreamListSize - kFourccBytes];
            const std::uint64_t strhPos = pos + kAviListHeaderSize;
            if (file.read(strhPos, strl, sizeof strl) && rl32(strl) == kFourccStrh && rl32(strl + kFourccBytes) == kAviHeaderPayloadSize
                && rl32(strl + kAviHeaderChunkSize) == kFourccStrf) {
                Stream s;
                s.headerPos = strhPos;
                s.header = ParseStreamHeader(strl + kAviChunkHeaderSize);
                const std::uint8_t* format = strl + kAviHeaderChunkSize + kAviChunkHeaderSize;
                if (s.header.fccType == kFourccVids)
                    s.compression = ParseBitmapInfo(format).compression;
                else if (s.header.fccType == kFourccAuds)
                    s.wave = ParseWaveFormat(format);
                streams.push_back(s);
            }
        }
        pos += kAviChunkHeaderSize + padded(chunkSize);
    }
    if (!haveMovi) {
        refuse(report, AviRepairResult::Refused, "no movi list");
        return;
    }
    const std::uint64_t moviData = moviPos + kAviListHeaderSize;
    const std::uint64_t moviFourcc = moviData - kFourccBytes; // index positions count from here

    // The chunks: first those the companion index names, in order and each
    // where the one before ended, then a walk on from the last of them.
    std::vector<Entry> entries;
    std::uint64_t cursor = moviData;
    auto chunkAt = [&](std::uint64_t pos, std::uint32_t& id, std::uint32_t& chunkSize) {
        std::uint8_t head[kAviChunkHeaderSize];
        if (pos + kAviChunkHeaderSize > size || !file.read(pos, head, sizeof head))
            return false;
        id = rl32(head);
        chunkSize = rl32(head + kFourccBytes);
        return pos + kAviChunkHeaderSize + chunkSize <= size; // a chunk cut short is not one
    };
    const std::string companionPath = path + kAviIndexSuffix;
    bool companionUsed = false;
    if (int fd = ::openat(dirFd, companionPath.c_str(), openFlags(scope, O_RDONLY)); fd >= 0) {
        File companion(fd);
        struct stat cst {};
        const std::uint64_t most = (size - std::min(size, moviData)) / kAviChunkHeaderSize;
        if (::fstat(fd, &cst) == 0 && acceptable(cst, scope)) {
            companionUsed = true;
            const std::uint64_t count = std::min<std::uint64_t>(static_cast<std::uint64_t>(cst.st_size) / kAviIndexEntrySize, most);
            std::vector<std::uint8_t> raw(static_cast<std::size_t>(count) * kAviIndexEntrySize);
            if (companion.read(0, raw.data(), raw.size())) {
                for (std::uint64_t i = 0; i < count; ++i) {
                    const std::uint8_t* e = raw.data() + i * kAviIndexEntrySize;
                    Entry entry { rl32(e), rl32(e + 4), rl32(e + 8), rl32(e + 12) };
                    std::uint32_t id = 0, chunkSize = 0;
                    if (moviFourcc + entry.offset != cursor || !chunkAt(cursor, id, chunkSize) || id != entry.id || chunkSize != entry.size)
                        break;
                    entries.push_back(entry);
                    cursor += kAviChunkHeaderSize + padded(chunkSize);
                }
            }
        }
        report.fromCompanion = static_cast<std::uint32_t>(entries.size());
    }
    for (std::uint32_t id = 0, chunkSize = 0; chunkAt(cursor, id, chunkSize);) {
        const int stream = streamOf(id);
        if (stream < 0 || (!streams.empty() && static_cast<std::size_t>(stream) >= streams.size()))
            break;
        const std::uint32_t flags = walkedFlags(file, streams, stream, cursor + kAviChunkHeaderSize, chunkSize);
        entries.push_back({ id, flags, static_cast<std::uint32_t>(cursor - moviFourcc), chunkSize });
        cursor += kAviChunkHeaderSize + padded(chunkSize);
    }

    for (const Entry& e : entries) {
        const int stream = streamOf(e.id);
        if (stream < 0 || static_cast<std::size_t>(stream) >= streams.size())
            continue;
        if (streams[static_cast<std::size_t>(stream)].header.fccType == kFourccVids)
            ++report.videoFrames;
        else if (streams[static_cast<std::size_t>(stream)].header.fccType == kFourccAuds)
            report.audioBytes += e.size;
    }

    // Cut after the last chunk (its pad byte restored), then idx1.
    const std::uint64_t end = cursor;
    std::vector<std::uint8_t> index(kAviChunkHeaderSize + entries.size() * kAviIndexEntrySize);
    {
        std::uint8_t* p = index.data();
        auto put = [&p](std::uint32_t v) {
            Block<sizeof v> b;
            wl32(b, v);
            std::memcpy(p, b.data(), b.size());
            p += b.size();
        };
        put(kFourccIdx1);
        put(static_cast<std::uint32_t>(entries.size() * kAviIndexEntrySize));
        for (const Entry& e : entries) {
            put(e.id);     // ckid
            put(e.flags);  // dwFlags
            put(e.offset); // dwChunkOffset
            put(e.size);   // dwChunkLength
        }
    }
    const std::uint64_t newSize = end + index.size();
    bool ok = ::ftruncate(file.fd(), static_cast<off_t>(end)) == 0 && file.write(end, index.data(), index.size());

    // The sizes and counts the close would have written.
    ok = ok && file.write32(kAviRiffSizePos, static_cast<std::uint32_t>(newSize - kAviChunkHeaderSize));
    if (haveHdrl)
        ok = ok && file.write32(hdrlPos + kFourccBytes, static_cast<std::uint32_t>(moviPos - hdrlPos - kAviChunkHeaderSize));
    ok = ok && file.write32(moviPos + kFourccBytes, static_cast<std::uint32_t>(end - moviPos - kAviChunkHeaderSize));
    std::uint32_t microSecPerFrame = 0;
    if (haveMain) {
        const std::uint64_t fields = mainPos + kAviChunkHeaderSize;
        std::uint8_t v[sizeof(std::uint32_t)];
        if (file.read(fields + kAviMainMicroSecPerFrameOffset, v, sizeof v))
            microSecPerFrame = rl32(v);
        ok = ok && file.write32(fields + kAviMainTotalFramesOffset, report.videoFrames);
    }
    const Stream* audio = nullptr;
    for (const Stream& s : streams)
        if (s.header.fccType == kFourccAuds && !audio)
            audio = &s;
    for (const Stream& s : streams) {
        const std::uint64_t fields = s.headerPos + kAviChunkHeaderSize;
        if (s.header.fccType == kFourccVids) {
            ok = ok && file.write32(fields + kAviStreamLengthOffset, report.videoFrames);
            if (s.header.rate == 0) {
                std::uint32_t scale = 1, rate = kDefaultFrameRate;
                if (microSecPerFrame) {
                    scale = microSecPerFrame;
                    rate = kMicrosecondsPerSecond;
                } else if (audio && audio->wave.avgBytesPerSec && report.audioBytes) {
                    rate = std::max<std::uint32_t>(1, static_cast<std::uint32_t>(
                        (std::uint64_t { report.videoFrames } * audio->wave.avgBytesPerSec + report.audioBytes / 2) / report.audioBytes));
                }
                ok = ok && file.write32(fields + kAviStreamScaleOffset, scale) && file.write32(fields + kAviStreamRateOffset, rate);
            }
        } else if (s.header.fccType == kFourccAuds && s.header.sampleSize) {
            ok = ok && file.write32(fields + kAviStreamLengthOffset, static_cast<std::uint32_t>(report.audioBytes / s.header.sampleSize));
        }
    }
    if (!ok) {
        refuse(report, AviRepairResult::Failed, std::string("writing the file failed: ") + std::strerror(errno));
        return;
    }
    report.result = AviRepairResult::Done;
    report.entries = static_cast<std::uint32_t>(entries.size());
    report.bytesDropped = size > end ? size - end : 0;
    if (companionUsed)
        ::unlinkat(dirFd, companionPath.c_str(), 0);
}

}

void AviRepair(const std::string& path, AviRepairReport& report)
{
    repairAt(AT_FDCWD, path, Scope::Named, report);
}

void RepairLeftovers(const std::string& directory)
{
    // Recordings left open have their companion index beside them. Names are
    // taken from the folder once it is open, and every file is opened
    // relative to it.
    const int dirFd = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd < 0)
        return;
    File folder(dirFd);
    std::vector<std::string> open;
    if (DIR* listing = ::fdopendir(::dup(dirFd))) {
        const std::size_t suffix = std::char_traits<char>::length(kAviIndexSuffix);
        while (const dirent* entry = ::readdir(listing)) {
            const std::string name = entry->d_name;
            if (name.size() > suffix && name.ends_with(kAviIndexSuffix))
                open.push_back(name.substr(0, name.size() - suffix));
        }
        ::closedir(listing);
    }
    for (const std::string& name : open) {
        AviRepairReport report;
        repairAt(dirFd, name, Scope::InFolder, report);
    }
}

namespace {

// One thread for the whole process finishes the leftovers of the folders
// asked for, one folder after the other.
class LeftoverWorker {
public:
    ~LeftoverWorker()
    {
        {
            std::lock_guard lock(m_mutex);
            m_stop = true;
        }
        m_wake.notify_all();
        if (m_thread.joinable())
            m_thread.join();
    }

    void Queue(const std::string& directory)
    {
        {
            std::lock_guard lock(m_mutex);
            if (std::find(m_folders.begin(), m_folders.end(), directory) != m_folders.end())
                return;
            m_folders.push_back(directory);
            if (!m_thread.joinable())
                m_thread = std::thread([this] { run(); });
        }
        m_wake.notify_all();
    }

private:
    void run()
    {
        std::unique_lock lock(m_mutex);
        for (;;) {
            m_wake.wait(lock, [this] { return m_stop || !m_folders.empty(); });
            if (m_stop)
                return;
            const std::string directory = m_folders.front();
            m_folders.pop_front();
            lock.unlock();
            RepairLeftovers(directory);
            lock.lock();
        }
    }

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<std::string> m_folders; // guarded by m_mutex
    bool m_stop = false;               // guarded by m_mutex
    std::thread m_thread;
};

}

void RepairLeftoversInBackground(const std::string& directory)
{
    static LeftoverWorker worker;
    worker.Queue(directory);
}

}
