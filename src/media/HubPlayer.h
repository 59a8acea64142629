#pragma once
// A stream player as the media hub sees it. A player registers with the hub
// when it is attached to it (window ids 1025 to 1028 name the four players);
// the hub's watchdog thread then ticks the shown one, passes it the thread
// messages that name it, and remakes its view after a lost display. The hub
// never reaches a player by any other road.
//
// Threads: the hub calls these on its watchdog thread (ticks, requests, the
// renderer rebuild) and on the audio library's capture thread (a failed
// capture device stops talk on the first player). A player must outlive the
// hub's watchdog: stop the hub before the players go.

#include "sys/Lock.h"
#include "ui/Window.h"

#include <cstdint>

namespace media {

class HubPlayer {
public:
    virtual std::int16_t GetId() const = 0;
    // The window the player draws in; a remade renderer is made for it.
    virtual HWND GetDrawWindow() const = 0;

    // One watchdog tick for the shown window: Poll, then when the view is
    // ready OnTick, whose DDERR_SURFACELOST asks for a rebuilt renderer.
    virtual bool Poll() = 0;
    virtual bool IsViewReady() = 0;
    virtual HRESULT OnTick() = 0;

    // Requests the watchdog passes on: blacken the picture, close the
    // channel, make room on the record disk.
    virtual void RefreshView() = 0;
    virtual void CloseStream() = 0;
    virtual void CleanRecordStorage() = 0;

    // The renderer rebuild: every player's render lock is held, in id
    // order, while each forgets the old view and takes the new one.
    virtual sys::CriticalSection& RenderLock() = 0;
    virtual void DetachView() = 0;
    virtual void ReattachView() = 0;

    // The capture device failed: the camera's talk is stopped.
    virtual void StopTalkMedia() = 0;

protected:
    ~HubPlayer() = default;
};

}
