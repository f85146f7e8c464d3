// Frame presentation: the end of every frame, and the way back after another
// program took the display away.
#include "screen/present.h"

#include "drawing/drawing.h"
#include "screen/screen.h"
#include "sprites/sprite_load.h"
#include "sprites/sprites.h"

namespace {

// Off-screen sprites lost their pixels with the display; they are made anew
// from their files.
void ReloadOffscreenSprites() {
    for (int32_t number = 0; number < sprites.spriteCapacity; ++number) {
        if (!sprites.spriteTable) return;
        const SpriteRecord& record = sprites.spriteTable[number];
        if (record.surface && record.bitDepth != kRawBlockDepth && record.mode == kModeOffscreen) {
            // Loading copies the name before it frees the slot that owns it.
            LoadSpriteFromFile(number, record.fileName, kModeOffscreen);
        }
    }
}

// Every other file-loaded sprite in video memory (the textures the 3D sprites
// draw with, above all) comes back black from a restore: it gets its picture
// back in the surface it has, so the 3D sprites that borrow that surface draw
// it again. It is asked before the restore, while a lost surface still says so.
void RestoreLostSprites() {
    for (int32_t number = 0; number < sprites.spriteCapacity; ++number) {
        if (!sprites.spriteTable) return;
        const SpriteRecord& record = sprites.spriteTable[number];
        if (!record.surface || record.bitDepth == kRawBlockDepth || record.mode == kModeOffscreen) continue;
        IDirectDrawSurface7* surface = SpriteSurface(record);
        if (surface->IsLost() != DDERR_SURFACELOST || surface->Restore() != DD_OK) continue;
        RefillSpriteFromFile(number);
    }
}

void RestoreDisplay() {
    if (screen.directDraw) {
        screen.directDraw->SetDisplayMode(static_cast<DWORD>(screen.width), static_cast<DWORD>(screen.height),
                                          static_cast<DWORD>(screen.depth), 0, 0);
        RestoreLostSprites();
        screen.directDraw->RestoreAllSurfaces();
    }
    ShowWindow(screen.window, SW_SHOWMAXIMIZED);
    ReloadOffscreenSprites();
}

}  // namespace

IDirectDrawSurface7* FlipBuffers() {
    // GDI must not hold the back buffer across a flip.
    ReleaseBackBufferDC();

    // The program's only message loop: MainWindowProc runs from here.
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }

    // A deactivated window shows nothing; the caller's frames go on unseen.
    if (!screen.active || !screen.primary || !screen.backBuffer) return screen.backBuffer;

    // The flip paces the frames: it waits until it can be done.
    if (screen.primary->Flip(nullptr, DDFLIP_WAIT) == DDERR_SURFACELOST) RestoreDisplay();
    return screen.backBuffer;
}
