#include "media/VideoPassThrough.h"

namespace media {

std::atomic<VideoPassThrough*> g_videoPassThrough { nullptr };

}
