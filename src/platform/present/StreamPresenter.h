#pragma once
// The presenter for a person who sees the screen somewhere else (a browser
// page): the host names the parts of the screen that are shown there
// ("views": a control's window, a top-level window, an open menu), and the
// presenter hands each view's changed part to the host's sink as a JPEG
// picture whenever the screen changes. Like the window presenter it
// installs the screen's menu painter and says that a person answers modal
// dialogs, since the host carries the person's mouse and keys back into
// the window system.
//
// Threads: make, use and destroy it on the page's thread; SetViews and
// SendWhole may be called from any thread. The pictures are read, compared
// and encoded on the presenter's own thread, which also runs the sink; the
// sink may block (that is how a slow viewer slows the presenter down), and
// pictures that changed meanwhile are sent as one.

#include "present/Presenter.h"

#include "ui/Geometry.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace present {

struct StreamView {
    std::uint32_t id = 0;
    RECT rect {}; // screen coordinates
};

// A changed part of one view.
struct StreamPicture {
    std::uint32_t view = 0;
    std::uint64_t serial = 0; // counts the presenter's pictures from 1
    int viewWidth = 0;
    int viewHeight = 0;
    RECT part {}; // in the view's coordinates
    // When the screen first changed after the previous picture was read
    // (system clock, microseconds since the epoch).
    std::int64_t changedUs = 0;
    // How long reading, comparing and encoding took (microseconds).
    std::int64_t workUs = 0;
    // A JPEG; a PNG with alpha where the part holds video.
    std::vector<std::uint8_t> jpeg;
};

class StreamPresenter final : public Presenter {
public:
    using Sink = std::function<void(StreamPicture&& picture)>;
    static constexpr int kDefaultQuality = 80;

    static std::unique_ptr<StreamPresenter> Create(Sink sink, int quality = kDefaultQuality);
    ~StreamPresenter() override;

    // The person is at a screen: menus and dialogs wait for their input.
    Kind GetKind() const override { return Kind::Window; }
    std::uint64_t FramesShown() const override { return m_pictures; }

    // The views to stream, replacing the previous list. A new view, or one
    // whose size changed, is sent whole.
    void SetViews(std::vector<StreamView> views);
    // Every view is sent whole with the next pictures (a new viewer).
    void SendWhole();
    // Where the viewer shows video itself (screen coordinates): there the
    // pass-through key colour (gfx::kPassThroughKey) is sent as
    // transparent, the pictures of the views over it as PNG with alpha.
    // A change sends every view whole.
    void SetVideoRects(std::vector<RECT> rects);
    // The rectangle of the open menu on the screen; empty when none is open.
    static RECT MenuRect();

private:
    StreamPresenter(Sink sink, int quality);
    void run();

    // What the presenter's thread shares with the page's thread and with
    // the screen's change listener (which may run after the presenter is gone).
    struct Shared {
        std::mutex mutex;
        std::condition_variable changed;
        bool quit = false; // guarded by mutex
        bool dirty = true; // guarded by mutex
        bool whole = false; // guarded by mutex
        bool viewsChanged = true; // guarded by mutex
        std::vector<StreamView> views; // guarded by mutex
        std::vector<RECT> videoRects; // guarded by mutex
        std::int64_t firstChangeUs = 0; // guarded by mutex; 0: no change since the last read
    };

    Sink m_sink;
    int m_quality;
    std::shared_ptr<Shared> m_shared = std::make_shared<Shared>();
    std::thread m_thread;
    std::atomic<std::uint64_t> m_pictures { 0 };
    bool m_paintsMenus = false;
    bool m_answersDialogs = false;
};

}
