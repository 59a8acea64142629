#pragma once
// Whether this build runs under a sanitizer (TIRAVEX_SANITIZED, set by the
// build for TIRAVEX_ASAN, TIRAVEX_TSAN and TIRAVEX_FUZZ). Work that has to
// keep pace with the clock takes several times longer there; tests that
// measure such pace allow for it, and check everything else as usual.

namespace testing_support {

#if defined(TIRAVEX_SANITIZED)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif

}
