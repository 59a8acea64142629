#include "present/StreamPresenter.h"

#include "gfx/Gdi.h"
#include "gfx/MenuPainter.h"
#include "gfx/Pixels.h"
#include "gfx/Screen.h"
#include "ui/Dialogs.h"
#include "ui/Menu.h"

#include "sys/CrashHandler.h"

#include <turbojpeg.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <map>

namespace present {

namespace {

// The thread looks at the screen at least this often, also without a change.
constexpr auto kIdleWait = std::chrono::milliseconds(200);
constexpr int kBytesPerPixel = 4;
constexpr std::uint32_t kOpaque = 0xFF000000u;

std::int64_t nowUs()
{
    return std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::system_clock::now().time_since_epoch()).count();
}

// One view as the viewer last got it.
struct Sent {
    RECT rect {};
    std::vector<std::uint32_t> pixels; // what the viewer has, Width(rect) a row
    std::vector<std::uint32_t> next; // read from the screen now
    bool valid = false;
};

// The part of `now` that differs from `before` (both `width` a row); empty when none.
RECT changedPart(const std::vector<std::uint32_t>& before, const std::vector<std::uint32_t>& now, int width, int height)
{
    RECT part { width, height, 0, 0 };
    for (int y = 0; y < height; ++y) {
        const std::uint32_t* a = before.data() + static_cast<std::ptrdiff_t>(y) * width;
        const std::uint32_t* b = now.data() + static_cast<std::ptrdiff_t>(y) * width;
        if (std::memcmp(a, b, static_cast<std::size_t>(width) * kBytesPerPixel) == 0)
            continue;
        int left = 0;
        while (a[left] == b[left])
            ++left;
        int right = width;
        while (a[right - 1] == b[right - 1])
            --right;
        part.left = std::min<LONG>(part.left, left);
        part.right = std::max<LONG>(part.right, right);
        part.top = std::min<LONG>(part.top, y);
        part.bottom = y + 1;
    }
    if (part.right <= part.left)
        return RECT {};
    return part;
}

// The `part` of a view (`width` a row) as a PNG whose pass-through key
// pixels within `video` are transparent and all others opaque. False, and
// nothing made, when no pixel is transparent: then a JPEG does.
bool encodeWithVideo(const std::vector<std::uint32_t>& pixels, int width, const RECT& part, const std::vector<RECT>& video, std::vector<std::uint32_t>& alpha, std::vector<std::uint8_t>& png)
{
    const int w = ui::Width(part), h = ui::Height(part);
    bool transparent = false;
    for (const RECT& r : video) {
        const RECT in = ui::Intersect(r, part);
        for (LONG y = in.top; y < in.bottom && !transparent; ++y) {
            const std::uint32_t* row = pixels.data() + static_cast<std::ptrdiff_t>(y) * width;
            for (LONG x = in.left; x < in.right && !transparent; ++x)
                transparent = (row[x] & gfx::kPassThroughKeyMask) == gfx::kPassThroughKey;
        }
    }
    if (!transparent)
        return false;
    alpha.resize(static_cast<std::size_t>(w) * static_cast<std::size_t>(h));
    for (int y = 0; y < h; ++y) {
        const std::uint32_t* row = pixels.data() + static_cast<std::ptrdiff_t>(part.top + y) * width + part.left;
        std::uint32_t* out = alpha.data() + static_cast<std::ptrdiff_t>(y) * w;
        for (int x = 0; x < w; ++x)
            out[x] = row[x] | kOpaque;
        for (const RECT& r : video) {
            const LONG sy = part.top + y;
            if (sy < r.top || sy >= r.bottom)
                continue;
            const LONG from = std::max(r.left, part.left), to = std::min(r.right, part.right);
            for (LONG x = from; x < to; ++x)
                if ((row[x - part.left] & gfx::kPassThroughKeyMask) == gfx::kPassThroughKey)
                    out[x - part.left] = 0;
        }
    }
    return EncodePngWithAlpha(alpha.data(), w, h, w, png);
}

}

std::unique_ptr<StreamPresenter> StreamPresenter::Create(Sink sink, int quality)
{
    std::unique_ptr<StreamPresenter> presenter(new StreamPresenter(std::move(sink), std::clamp(quality, 1, 100)));
    return presenter;
}

StreamPresenter::StreamPresenter(Sink sink, int quality) : m_sink(std::move(sink)), m_quality(quality)
{
    gfx::InstallBackgroundEraser();
    std::weak_ptr<Shared> shared = m_shared;
    gfx::Screen::Get().SetChangeListener([shared] {
        auto s = shared.lock();
        if (!s)
            return;
        {
            std::lock_guard lock(s->mutex);
            if (!s->firstChangeUs)
                s->firstChangeUs = nowUs();
            s->dirty = true;
        }
        s->changed.notify_one();
    });
    // A person at the viewer picks from popup menus and answers dialogs.
    if (!ui::GetMenuPainter()) {
        ui::SetMenuPainter(&gfx::ScreenMenuPainter());
        m_paintsMenus = true;
    }
    if (!ui::DialogsAnswerable()) {
        ui::SetDialogsAnswerable(true);
        m_answersDialogs = true;
    }
    m_thread = std::thread([this] {
        sys::PrepareThreadForCrash();
        run();
    });
}

StreamPresenter::~StreamPresenter()
{
    gfx::Screen::Get().SetChangeListener(nullptr);
    if (m_paintsMenus && ui::GetMenuPainter() == &gfx::ScreenMenuPainter())
        ui::SetMenuPainter(nullptr);
    if (m_answersDialogs)
        ui::SetDialogsAnswerable(false);
    {
        std::lock_guard lock(m_shared->mutex);
        m_shared->quit = true;
    }
    m_shared->changed.notify_all();
    if (m_thread.joinable())
        m_thread.join();
}

void StreamPresenter::SetViews(std::vector<StreamView> views)
{
    {
        std::lock_guard lock(m_shared->mutex);
        m_shared->views = std::move(views);
        m_shared->viewsChanged = true;
    }
    m_shared->changed.notify_one();
}

void StreamPresenter::SendWhole()
{
    {
        std::lock_guard lock(m_shared->mutex);
        m_shared->whole = true;
    }
    m_shared->changed.notify_one();
}

void StreamPresenter::SetVideoRects(std::vector<RECT> rects)
{
    {
        std::lock_guard lock(m_shared->mutex);
        if (rects == m_shared->videoRects)
            return;
        m_shared->videoRects = std::move(rects);
        m_shared->whole = true;
    }
    m_shared->changed.notify_one();
}

RECT StreamPresenter::MenuRect() { return gfx::Screen::Get().OverlayRect(); }

void StreamPresenter::run()
{
    tjhandle encoder = tjInitCompress();
    std::map<std::uint32_t, Sent> sent;
    std::vector<std::uint32_t> alpha; // a part with video, as PNG pixels
    gfx::Screen& screen = gfx::Screen::Get();
    // The screen's generation at the last look: an idle look at an
    // unchanged screen is skipped (every write to the screen counts one).
    std::uint64_t lookedAt = 0;
    bool looked = false;
    for (;;) {
        std::vector<StreamView> views;
        std::vector<RECT> videoRects;
        bool whole = false;
        std::int64_t changedUs = 0;
        bool asked = false;
        {
            std::unique_lock lock(m_shared->mutex);
            asked = m_shared->changed.wait_for(lock, kIdleWait, [&] { return m_shared->quit || m_shared->dirty || m_shared->whole || m_shared->viewsChanged; });
            if (m_shared->quit)
                break;
        }
        // Outside the presenter's lock: the screen's change listener takes
        // it under the screen's.
        const std::uint64_t generation = screen.Generation();
        if (!asked && looked && generation == lookedAt)
            continue;
        lookedAt = generation;
        looked = true;
        {
            std::unique_lock lock(m_shared->mutex);
            views = m_shared->views;
            videoRects = m_shared->videoRects;
            whole = m_shared->whole;
            changedUs = m_shared->firstChangeUs ? m_shared->firstChangeUs : nowUs();
            m_shared->whole = m_shared->dirty = m_shared->viewsChanged = false;
            m_shared->firstChangeUs = 0;
        }
        const std::int64_t startUs = nowUs();
        // Forget views that went; a view whose rectangle changed starts again.
        for (auto it = sent.begin(); it != sent.end();) {
            auto found = std::find_if(views.begin(), views.end(), [&](const StreamView& v) { return v.id == it->first; });
            if (found == views.end())
                it = sent.erase(it);
            else
                ++it;
        }
        for (const StreamView& v : views) {
            Sent& s = sent[v.id];
            if (s.rect != v.rect || whole)
                s.valid = false;
            s.rect = v.rect;
            s.next.assign(static_cast<std::size_t>(std::max<LONG>(0, ui::Width(v.rect))) * static_cast<std::size_t>(std::max<LONG>(0, ui::Height(v.rect))), 0);
        }
        // Everything is read at once, so the views agree with each other.
        screen.Read([&](const std::uint32_t* pixels, int width, int height) {
            const RECT bounds { 0, 0, width, height };
            for (const StreamView& v : views) {
                Sent& s = sent[v.id];
                const RECT on = ui::Intersect(v.rect, bounds);
                if (ui::IsEmpty(on))
                    continue;
                const LONG viewWidth = ui::Width(v.rect);
                for (LONG y = on.top; y < on.bottom; ++y)
                    std::memcpy(s.next.data() + static_cast<std::ptrdiff_t>(y - v.rect.top) * viewWidth + (on.left - v.rect.left), pixels + static_cast<std::ptrdiff_t>(y) * width + on.left,
                        static_cast<std::size_t>(ui::Width(on)) * kBytesPerPixel);
            }
        });
        for (const StreamView& v : views) {
            Sent& s = sent[v.id];
            const int width = ui::Width(v.rect), height = ui::Height(v.rect);
            if (width <= 0 || height <= 0)
                continue;
            RECT part = s.valid ? changedPart(s.pixels, s.next, width, height) : RECT { 0, 0, width, height };
            if (ui::IsEmpty(part))
                continue;
            // The video under this view, in its coordinates.
            std::vector<RECT> video;
            for (const RECT& r : videoRects)
                if (RECT in = ui::Intersect(r, v.rect); !ui::IsEmpty(in))
                    video.push_back(ui::Offset(in, -v.rect.left, -v.rect.top));
            StreamPicture picture;
            if (video.empty() || !encodeWithVideo(s.next, width, part, video, alpha, picture.jpeg)) {
                unsigned char* jpeg = nullptr;
                unsigned long size = 0;
                const auto* origin = reinterpret_cast<const unsigned char*>(s.next.data() + static_cast<std::ptrdiff_t>(part.top) * width + part.left);
                if (!encoder
                    || tjCompress2(encoder, origin, ui::Width(part), width * kBytesPerPixel, ui::Height(part), TJPF_BGRX, &jpeg, &size, TJSAMP_420, m_quality, TJFLAG_FASTDCT) != 0) {
                    tjFree(jpeg);
                    continue;
                }
                picture.jpeg.assign(jpeg, jpeg + size);
                tjFree(jpeg);
            }
            picture.view = v.id;
            picture.serial = ++m_pictures;
            picture.viewWidth = width;
            picture.viewHeight = height;
            picture.part = part;
            picture.changedUs = changedUs;
            picture.workUs = nowUs() - startUs;
            s.pixels.swap(s.next);
            s.valid = true;
            m_sink(std::move(picture));
        }
    }
    if (encoder)
        tjDestroy(encoder);
}

}
