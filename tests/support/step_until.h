// Bounded waiting for the tests: steps (frames of a scene, calls of a
// widget, frames of a lobby and its peers) until a condition holds, and
// fails with a message once a limit passes instead of hanging until CTest's
// time-out.
#pragma once

#include <functional>

namespace testsupport {

// Frames enough for any animation of the menus; the longest, the title
// closing and fading into the next scene, takes about 150.
inline constexpr int kFrameLimit = 1000;

// Asks done() and, while it does not hold, calls step(), at most `limit`
// times. Returns the number of steps made. When done() still does not hold
// after `limit` steps, records a test failure that names `what` (what was
// waited for) and returns `limit`.
int stepUntil(const char* what, const std::function<bool()>& done,
              const std::function<void()>& step, int limit = kFrameLimit);

}  // namespace testsupport
