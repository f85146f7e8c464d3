// The demo: opens the screen, builds the glyph table and the ring, loads the
// particle sprite, then presents, clears, scrolls and draws one frame a pass
// until Escape is held. No result is looked at: whatever failed only makes
// its later operations do nothing, and the loop still ends on Escape.
#include "demo/demo.h"

#include "core/convert.h"
#include "core/runtime.h"
#include "demo/glyphs.h"
#include "demo/scroller.h"
#include "drawing/fonts.h"
#include "input/keyboard.h"
#include "screen/color.h"
#include "screen/present.h"
#include "screen/screen.h"
#include "screen/window.h"
#include "sprites/sprite3d.h"
#include "sprites/sprite_load.h"

namespace {

constexpr int32_t kParticleSprite = 1;
constexpr int32_t kParticleSprite3D = 1;
constexpr int32_t kParticleSize = 22;
constexpr DWORD kBlendOne = 2;        // D3DBLEND_ONE
constexpr DWORD kBlendDestAlpha = 7;  // D3DBLEND_DESTALPHA
constexpr DWORD kOpaque = 255;

void SetUpDemo() {
    // A display that cannot be switched to the demo's mode leaves the program
    // nothing to show and, with its window hidden, no keyboard to end it by:
    // it says so and ends rather than run on unseen until killed.
    if (!OpenScreen(640, 480, 16, " ")) {
        ReportFailure("The display could not be switched to 640 x 480 with 16-bit colour.");
        EndProgram(kExitNoScreen);
    }
    LoadFontFace(0, "Arial Black", 22);
    AllocParticles();
    AllocGlyphTable();
    CaptureGlyphs();
    LayOutRing();
    StartScroll();
    LoadSpriteFromFile(kParticleSprite, "glimrotan.bmp", kModeTexture);
    MakeSprite3D(kParticleSprite3D, kParticleSprite);
}

void DrawRing() {
    Begin3D();
    // Begin3D puts its own blend back each scene, so both are set anew.
    ResizeSprite3D(kParticleSprite3D, kParticleSize, kParticleSize);
    SetSprite3DBlend(kBlendOne, kBlendDestAlpha);
    const Particle* particles = scroller.particles;
    for (int32_t i = 0; particles && i < scroller.particleCount; ++i) {
        // Brightness only says whether a particle shows; every one is opaque.
        if (particles[i].brightness != 0) {
            DrawSprite3D(kParticleSprite3D, FloatToInt(particles[i].x), FloatToInt(particles[i].y), kOpaque);
        }
    }
    End3D();
}

}  // namespace

void RunDemo() {
    SetUpDemo();
    for (;;) {
        // Presents the frame drawn in the pass before (the first one shows
        // the back buffer as the glyph capture left it, black).
        FlipBuffers();
        ClearScreen(0, 0, 0);
        AdvanceScroll();
        DrawRing();
        PollKeyboard();
        // The frame drawn in this pass is never shown once Escape is seen.
        // A main window closed from outside ends the demo the same way.
        if (KeyDown(kEscapeKey) != 0 || MainWindowDestroyed()) break;
    }
}
