#include "media/FrameProbe.h"

namespace media {

std::atomic<FrameProbe> g_frameProbe { nullptr };

}
