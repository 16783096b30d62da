// A started game context shared by the scene tests of one executable: SDL,
// the GL window on the virtual display, fonts, the shared pictures and
// labels, exactly as the program starts them.
#pragma once

#include <functional>
#include <initializer_list>

#include "app/context.h"
#include "app/scene.h"
#include "support/step_until.h"

namespace testsupport {

// Started on first use; lives until the process ends.
app::GameContext& startedContext();

// Drawing costs time on the software renderer; logic tests turn it off.
void setDrawing(bool enabled);

// Runs one frame of a scene as the main loop would after a poll in which the
// given buttons of `player` were just pressed; the presses last one frame.
void frame(app::GameContext& ctx, app::Scene& scene,
           std::initializer_list<app::Button> pressed = {}, int player = 0);
void frames(app::GameContext& ctx, app::Scene& scene, int count);
// Runs frames with no button pressed until done() holds; the bound and the
// result are stepUntil's.
int framesUntil(app::GameContext& ctx, app::Scene& scene, const char* what,
                const std::function<bool()>& done, int limit = kFrameLimit);

}  // namespace testsupport
