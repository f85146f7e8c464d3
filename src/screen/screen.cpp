// The screen system: one exclusive full-screen DirectDraw display with a
// primary surface and one back buffer, the DirectDraw object shared through
// a use count, and the pixel layout the colour code packs for.
#include "screen/screen.h"

#include <cstring>

#include "drawing/drawing.h"
#include "screen/window.h"
#include "sprites/sprites.h"

// The records handed to DirectDraw carry their own size; the published
// 32-bit layouts are 124 and 100 bytes, which the Windows build checks.
static_assert(sizeof(void*) != 4 || sizeof(DDSURFACEDESC2) == 124, "DDSURFACEDESC2 must have its published layout");
static_assert(sizeof(void*) != 4 || sizeof(DDBLTFX) == 100, "DDBLTFX must have its published layout");

ScreenState screen;

namespace {

// Width, height and depth are 16-bit values widened by the caller.
int32_t Low16(int32_t value) { return static_cast<int16_t>(static_cast<uint16_t>(value & 0xFFFF)); }

// A failed open closes the screen and leaves the size and depth of the
// screen before it: the requested ones would describe surfaces that were
// never made, and sprites would be converted for a depth DirectDraw is not in.
int32_t FailOpen(int32_t width, int32_t height, int32_t depth) {
    CloseScreen();
    screen.width = width;
    screen.height = height;
    screen.depth = depth;
    return 0;
}

}  // namespace

void* InitScreenSystem() {
    std::memset(&screen.fillDescription, 0, sizeof screen.fillDescription);
    screen.fillDescription.dwSize = sizeof(DDBLTFX);
    std::memset(&screen.lockedDescription, 0, sizeof screen.lockedDescription);
    screen.lockedDescription.dwSize = sizeof(DDSURFACEDESC2);
    screen.backBufferDC = nullptr;

    SpriteRecord* table = InitSpriteTable();

    if (!CreateMainWindow()) return nullptr;
    screen.systemStarted = 1;
    if (!AcquireDirectDraw()) return nullptr;
    screen.savedWindow = screen.window;
    return table;
}

IDirectDraw7* AcquireDirectDraw() {
    if (!screen.directDraw) {
        screen.directDrawLibrary = LoadLibraryA("DDRAW.DLL");
        if (screen.directDrawLibrary) {
            typedef HRESULT(WINAPI * CreateFunction)(GUID*, LPVOID*, REFIID, IUnknown*);
            auto create = reinterpret_cast<CreateFunction>(GetProcAddress(screen.directDrawLibrary, "DirectDrawCreateEx"));
            if (create) create(nullptr, reinterpret_cast<LPVOID*>(&screen.directDraw), IID_IDirectDraw7, nullptr);
            if (!screen.directDraw) {
                FreeLibrary(screen.directDrawLibrary);
                screen.directDrawLibrary = nullptr;
            }
        }
    }
    ++screen.directDrawUsers;
    return screen.directDraw;
}

void ReleaseDirectDraw() {
    // An unmatched release would drive the count negative and make the next
    // acquire's release miss the object; it is ignored instead.
    if (screen.directDrawUsers <= 0) return;
    --screen.directDrawUsers;
    if (screen.directDraw && screen.directDrawUsers == 0) {
        screen.directDraw->Release();
        if (screen.directDrawLibrary) FreeLibrary(screen.directDrawLibrary);
        screen.directDrawLibrary = nullptr;
        screen.directDraw = nullptr;
    }
}

int32_t OpenScreen(int32_t width, int32_t height, int32_t depth, const char* title) {
    width = Low16(width);
    height = Low16(height);
    depth = Low16(depth);

    // Opening over an open screen would leak its surfaces, fail on the
    // second primary surface and hide the cursor twice: close it first.
    if (screen.primary || screen.backBuffer) CloseScreen();

    const int32_t oldWidth = screen.width, oldHeight = screen.height, oldDepth = screen.depth;
    auto fail = [&] { return FailOpen(oldWidth, oldHeight, oldDepth); };
    if (!PlaceMainWindow(0, 0, width, height, title)) return fail();
    screen.width = width;
    screen.height = height;
    screen.depth = depth;
    ShowCursor(FALSE);

    if (!screen.directDraw) return fail();
    if (screen.directDraw->SetCooperativeLevel(screen.window, DDSCL_FULLSCREEN | DDSCL_EXCLUSIVE) != DD_OK)
        return fail();
    if (screen.directDraw->SetDisplayMode(static_cast<DWORD>(width), static_cast<DWORD>(height),
                                          static_cast<DWORD>(depth), 0, 0) != DD_OK)
        return fail();
    if (!CreateFlipChain()) return fail();

    ShowWindow(screen.window, SW_SHOWMAXIMIZED);
    EnableWindow(screen.window, FALSE);
    BlankSurfaces();
    DetectPixelFormat();
    // Activation messages sent while the window was shown may have cleared
    // the flag; a screen that has just opened is active.
    screen.active = 1;
    return 1;
}

int32_t CreateFlipChain() {
    DDSURFACEDESC2 description;
    std::memset(&description, 0, sizeof description);
    description.dwSize = sizeof(DDSURFACEDESC2);
    description.dwFlags = DDSD_CAPS | DDSD_BACKBUFFERCOUNT;
    description.ddsCaps.dwCaps = DDSCAPS_PRIMARYSURFACE | DDSCAPS_FLIP | DDSCAPS_COMPLEX | DDSCAPS_3DDEVICE;
    description.dwBackBufferCount = 1;
    if (screen.directDraw->CreateSurface(&description, &screen.primary, nullptr) != DD_OK) {
        screen.primary = nullptr;
        return 0;
    }

    DDSCAPS2 caps;
    std::memset(&caps, 0, sizeof caps);
    caps.dwCaps = DDSCAPS_BACKBUFFER | DDSCAPS_3DDEVICE;
    if (screen.primary->GetAttachedSurface(&caps, &screen.backBuffer) != DD_OK) {
        screen.backBuffer = nullptr;
        return 0;
    }
    return 1;
}

void BlankSurfaces() {
    IDirectDrawSurface7* surfaces[2] = {screen.backBuffer, screen.primary};
    for (IDirectDrawSurface7* surface : surfaces) {
        if (!surface) continue;
        HDC dc = nullptr;
        if (surface->GetDC(&dc) != DD_OK) continue;
        SelectObject(dc, GetStockObject(BLACK_BRUSH));
        Rectangle(dc, 0, 0, screen.width, screen.height);
        surface->ReleaseDC(dc);
    }
}

void DetectPixelFormat() {
    if (!screen.primary) return;
    if (screen.primary->Lock(nullptr, &screen.lockedDescription, DDLOCK_WAIT, nullptr) != DD_OK) return;
    screen.primary->Unlock(nullptr);
    const DDPIXELFORMAT& format = screen.lockedDescription.ddpfPixelFormat;
    switch (screen.depth) {
        case 32: screen.pixelFormat = format.dwRBitMask == 0xFF ? kPixel32RedLow : kPixel32BlueLow; break;
        case 24: screen.pixelFormat = format.dwRBitMask == 0xFF ? kPixel24RedLow : kPixel24BlueLow; break;
        case 16: screen.pixelFormat = format.dwGBitMask == 0x07E0 ? kPixel565 : kPixel555; break;
        default: screen.pixelFormat = kPixelOther; break;
    }
}

int32_t CloseScreen() {
    for (int32_t number = 0; number < sprites.spriteCapacity; ++number) FreeSprite(number);

    // A device context still lent out on the back buffer would outlive it.
    ReleaseBackBufferDC();

    if (screen.directDraw) screen.directDraw->SetCooperativeLevel(nullptr, DDSCL_NORMAL);
    if (screen.backBuffer) {
        screen.backBuffer->Release();
        screen.backBuffer = nullptr;
    }
    if (screen.primary) {
        screen.primary->Release();
        screen.primary = nullptr;
    }
    if (screen.window) ShowCursor(TRUE);
    screen.window = screen.savedWindow;
    ShowWindow(screen.window, SW_HIDE);
    return 1;
}

void ShutdownScreenSystem() {
    if (!screen.systemStarted) return;
    CloseScreen();
    ReleaseDirectDraw();
}
