// Renders the characters space to Z once and samples them into the glyph table.
#pragma once

void CaptureGlyphs();
