#pragma once
// The control road's messages as the control takes them: the length filter
// that the road callback applies, and the decoding of a message that passed
// it into its typed event. Plain functions over a pointer and a length;
// nothing is read past the length. Any thread.

#include "link/LinkEvents.h"

#include <cstdint>
#include <optional>

namespace devlink {

// Whether a control message of `type` and `length` is handed on: its type
// is known and its length is the one the camera sends, plain or (with the
// reply-format flag) padded. Messages 4 and 7 are never handed on: the road
// callback acts on them itself.
bool PassesFilter(int type, int length, bool replyFormat);

// The typed event of a message that passed the filter. Nothing for the
// messages that carry nothing (13, 18), for 4 and 7, for unknown types, and
// for a message too short for its fields, which is dropped rather than read
// past.
std::optional<LinkEvent> DecodeControl(int type, const std::uint8_t* data, int length);

}
