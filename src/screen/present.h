// Ends a frame: releases GDI's hold on the back buffer, pumps the window's
// messages, flips, and restores a lost display.
#pragma once

#include "platform/api.h"

IDirectDrawSurface7* FlipBuffers();
