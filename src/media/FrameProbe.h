#pragma once
// A measurement hook for the benches: off (null) unless a bench sets it, and
// then told, per player, when a video frame arrives (the frame callback's
// entry, on the network thread), when its picture has been drawn and composed
// (the frame thread, under the player's render lock) and when a window has
// presented its composition surface on the screen (under the same lock, so a
// present told after a draw shows that draw's pixels). The hook reads the
// clock itself. Unset, each point costs one relaxed atomic load.
//
// Nothing in the control sets it; tests and the page host never do.

#include <atomic>

namespace media {

enum class ProbePoint { FrameArrived, FrameComposed, Presented };

// `player` is the CPlayBase the point belongs to. Called on the threads
// named above, so it must be thread-safe and quick.
using FrameProbe = void (*)(ProbePoint point, const void* player);

extern std::atomic<FrameProbe> g_frameProbe;

// Sets the hook; null turns it off.
inline void SetFrameProbe(FrameProbe probe) { g_frameProbe.store(probe); }

inline void Probe(ProbePoint point, const void* player)
{
    if (FrameProbe probe = g_frameProbe.load(std::memory_order_relaxed))
        probe(point, player);
}

}
