// What the scripted platform offers its own tests beyond the platform layer.
#pragma once

#include "uiglean/platform/scripted/scene.h"

namespace uiglean {

// Makes `scene` the world that every platform call answers from, with the clock at 0.
void useScene(Scene scene);
// The virtual clock, in milliseconds.
double scriptedNowMs();

}  // namespace uiglean
