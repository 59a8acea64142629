// Fuzz entry point: frame records and the players' frame path. Four players
// (live, playback, motion grid, privacy mask) sit on a page, attached to a
// running media hub, as in the control. The input's first byte is the audio
// stream type of the login record and its second the camera's stream mode;
// then come frames, each a window byte (which player) and a media channel's
// Frame message payload (length first, 32 bits), read into a frame record as
// the network library reads it and handed to the player's frame callback.

#include "FuzzInput.h"

#include "editors/CMotion.h"
#include "editors/CShelter.h"
#include "kznet/Library.h"
#include "media/CMediaHub.h"
#include "ui/Input.h"
#include "ui/Monitor.h"
#include "ui/Window.h"
#include "view/CLiveCtrl.h"
#include "view/CPbCtrl.h"
#include "view/CPlayView.h"

#include <cstdint>
#include <vector>

namespace {

struct Owner : CMediaHub::Owner {
    bool IsSelected() const override { return true; }
    bool IsMainInstance() const override { return true; }
};

struct Players {
    static constexpr int kWidth = 640;
    static constexpr int kHeight = 480;

    Players()
    {
        ui::SetMonitorSizes({});
        WNDCLASS pageClass;
        pageClass.lpszClassName = "FuzzPlayers";
        ui::RegisterClass(pageClass);
        page = ui::CreateWindowEx(0, "FuzzPlayers", "page", WS_POPUP | WS_VISIBLE, 0, 0, 1024, 768, nullptr);
        RECT rect { 1, 1, 1 + kWidth, 1 + kHeight };
        live.Register("ALIVE");
        live.CreateEx(0, "ALIVE", "ALIVE", WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN, rect, page, RGB(0, 0, 0));
        playback.CreateEx(0, "static", "PLAYBACK", WS_CHILD, rect, page, RGB(0, 0, 0));
        motion.CreateEx(0, "static", "MOTION", WS_CHILD, rect, page, RGB(0, 0, 0));
        shelter.CreateEx(0, "static", "SHELTER", WS_CHILD, rect, page, RGB(0, 0, 0));
        int w = ui::GetSystemMetrics(SM_CXSCREEN), h = ui::GetSystemMetrics(SM_CYSCREEN);
        hub.AttachControlWindow(page, w, h);
        for (CPlayBase* p : all()) {
            p->Attach(page, w, h, &hub);
            p->SetLoginRecord(&login);
        }
        shelter.SetPictureSize(kWidth, kHeight);
        motion.SetOverlaySize(kWidth, kHeight);
        hub.SetActiveWindow(kLiveWindowId);
        hub.GetView()->SetClipperWindow(live.GetHwnd());
        hub.HubStart(&owner, false);
    }
    std::vector<CPlayBase*> all() { return { &live, &playback, &motion, &shelter }; }

    Owner owner;
    LoginInfo login {};
    HWND page = nullptr;
    CMediaHub hub { &CPlayView::Make };
    CLiveCtrl live;
    CPbCtrl playback;
    CMotion motion;
    CShelter shelter;
};

// Made once and kept for the process.
Players& players()
{
    static Players* made = new Players;
    return *made;
}

}

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    players();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    Players& p = players();
    fuzz::Input in(data, size);
    p.login.streamType = in.U8();
    std::uint8_t mode = in.U8();
    auto all = p.all();
    for (CPlayBase* player : all)
        player->m_streamMode = mode;
    while (!in.Empty()) {
        CPlayBase* player = all[in.U8() % all.size()];
        std::vector<std::uint8_t> message = in.Bytes(in.U32());
        FrameRecord record;
        if (kz::ReadFrameRecord(message.data(), message.size(), record))
            CPlayBase::FrameCallback(static_cast<int>(record.kind), &record, player, player->GetId());
    }
    ui::PumpPending();
    return 0;
}
