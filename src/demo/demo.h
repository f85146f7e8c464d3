// The demo: set-up, then the frame loop until Escape is held.
#pragma once

void RunDemo();
