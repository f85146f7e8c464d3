// The stand-in where the runtime's failure paths lean on it behaving as
// Windows does: lost surfaces and the focus, a lent device context blocking
// the surface, the message queue, painting, and a window that is closed;
// and the host's conversion of what it shows and saves.
#include <array>
#include <random>

#include "fixture.h"
#include "platform/host/host.h"
#include "platform/host/pixels.h"
#include "screen/color.h"
#include "screen/present.h"
#include "screen/window.h"

namespace {

class StandinTest : public OpenScreenTest {
protected:
    HRESULT Fill(IDirectDrawSurface7* s, DWORD value) {
        DDBLTFX fx{};
        fx.dwSize = sizeof fx;
        fx.dwFillColor = value;
        return s->Blt(nullptr, nullptr, nullptr, DDBLT_COLORFILL, &fx);
    }
};

TEST_F(StandinTest, LostSurfacesRefuseWorkUntilRestoredWithTheDisplayBack) {
    ASSERT_EQ(Fill(screen.backBuffer, 0x1234), DD_OK);
    ASSERT_EQ(screen.primary->Flip(nullptr, DDFLIP_WAIT), DD_OK);
    EXPECT_EQ(Front().ReadRaw(5, 5), 0x1234u) << "a flip swaps the contents";
    faults::SetForeground(false);
    DDSURFACEDESC2 d{};
    d.dwSize = sizeof d;
    HDC dc = nullptr;
    EXPECT_EQ(screen.primary->Flip(nullptr, DDFLIP_WAIT), DDERR_SURFACELOST);
    EXPECT_EQ(Fill(screen.backBuffer, 0), DDERR_SURFACELOST);
    EXPECT_EQ(screen.backBuffer->Lock(nullptr, &d, DDLOCK_WAIT, nullptr), DDERR_SURFACELOST);
    EXPECT_EQ(screen.backBuffer->GetDC(&dc), DDERR_SURFACELOST);
    EXPECT_NE(screen.directDraw->RestoreAllSurfaces(), DD_OK) << "another program has the display";
    faults::SetForeground(true);
    EXPECT_EQ(screen.directDraw->RestoreAllSurfaces(), DD_OK);
    EXPECT_EQ(Front().ReadRaw(5, 5), 0u) << "back without the contents";
    ASSERT_EQ(screen.backBuffer->GetDC(&dc), DD_OK);
    EXPECT_EQ(screen.primary->Flip(nullptr, DDFLIP_WAIT), DDERR_SURFACEBUSY) << "not while GDI holds the back buffer";
    EXPECT_EQ(screen.backBuffer->Lock(nullptr, &d, DDLOCK_WAIT, nullptr), DDERR_SURFACEBUSY);
    HDC second = nullptr;
    EXPECT_EQ(screen.backBuffer->GetDC(&second), DDERR_DCALREADYCREATED);
    EXPECT_EQ(screen.backBuffer->ReleaseDC(dc), DD_OK);
    for (int index : {-1, DEFAULT_GUI_FONT + 1, 1 << 20}) EXPECT_EQ(GetStockObject(index), nullptr) << "no stock object " << index;
    EXPECT_NE(GetStockObject(BLACK_BRUSH), nullptr);
}

// Posted messages wait for the pump; WM_PAINT comes whenever the queue is
// empty and the window needs painting, until something validates it.
TEST_F(StandinTest, PostedMessagesComeInOrderAndPaintComesUntilValidated) {
    FlipBuffers();
    MSG msg;
    PostMessageA(screen.window, 0x0401, 1, 0);
    PostMessageA(screen.window, 0x0401, 2, 0);
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(msg.wParam, 1u);
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(msg.wParam, 2u);
    EXPECT_FALSE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) << "the window was painted by the first pump";
    standin::HostExposed();
    for (int i = 0; i < 2; ++i) {
        ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
        EXPECT_EQ(msg.message, static_cast<UINT>(WM_PAINT)) << "again and again while invalid";
    }
    PAINTSTRUCT paint;
    BeginPaint(screen.window, &paint);
    EndPaint(screen.window, &paint);
    EXPECT_FALSE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
}

// Closing the window destroys it, as Windows does, and the runtime knows its
// window is gone (the demo then ends); nothing more is shown, and Escape
// (which a host close request also becomes) still reads.
TEST_F(StandinTest, AClosedWindowIsDestroyedAndTheKeyboardStillSeesEscape) {
    ASSERT_EQ(OpenKeyboard(), 1);
    ASSERT_EQ(PollKeyboard(), 1);
    PostMessageA(screen.window, WM_CLOSE, 0, 0);
    faults::StartRecording();
    EXPECT_EQ(MainWindowDestroyed(), 0);
    FlipBuffers();
    EXPECT_FALSE(IsWindow(screen.window));
    EXPECT_EQ(MainWindowDestroyed(), 1);
    EXPECT_EQ(screen.active, 0);
    FlipBuffers();
    EXPECT_EQ(ClearScreen(0, 0, 0), DD_OK);
    EXPECT_EQ(CountRecorded("IDirectDrawSurface7::Flip"), 0);
    standin::host::RequestEscape();
    PollKeyboard();
    PollKeyboard();
    EXPECT_EQ(KeyDown(kEscapeKey), 128);
    CloseKeyboard();
}

}  // namespace

// The window and the captures show the primary through the converter's
// tables: every pixel of every display layout, the row ends included, must
// come out as the one-pixel unpacking gives it, also after a change of layout.
TEST(HostPixels, EveryLayoutConvertsAsOnePixelAtATime) {
    const standin::PixelLayout layouts[] = {{16, 0xF800, 0x07E0, 0x001F},
                                            {15, 0x7C00, 0x03E0, 0x001F},
                                            {24, 0xFF0000, 0x00FF00, 0x0000FF},
                                            {32, 0x0000FF, 0x00FF00, 0xFF0000},
                                            {16, 0xF800, 0x07E0, 0x001F}};
    std::mt19937 rng(5);
    standin::host::PixelConverter converter;
    for (const standin::PixelLayout& layout : layouts) {
        standin::Surface s;
        standin::InitSurface(s, 37, 3, layout, 0);
        for (BYTE& b : s.pixels) b = static_cast<BYTE>(rng());
        std::vector<BYTE> rgb, rgba;
        converter.ToRgb(s, rgb);
        converter.ToRgba(s, rgba);
        ASSERT_TRUE(rgb.size() == 37u * 3 * 3 && rgba.size() == 37u * 3 * 4);
        for (int i = 0; i < 37 * 3; ++i) {
            BYTE want[3];
            standin::PixelToRgb8(layout, s.ReadRaw(i % 37, i / 37), want);
            for (int k = 0; k < 3; ++k) {
                ASSERT_EQ(rgb[i * 3 + k], want[k]) << layout.bitsPerPixel << " bits, pixel " << i;
                ASSERT_EQ(rgba[i * 4 + k], want[k]) << layout.bitsPerPixel << " bits, pixel " << i;
            }
            ASSERT_EQ(rgba[i * 4 + 3], 255) << "opaque";
        }
    }
    // The unpacking itself spreads each field over the whole 0..255 range.
    const std::pair<DWORD, std::array<BYTE, 3>> known[] = {{0xFFFF, {255, 255, 255}}, {0x0821, {8, 4, 8}}};
    for (const auto& [pixel, want] : known) {
        BYTE got[3];
        standin::PixelToRgb8(layouts[0], pixel, got);
        EXPECT_TRUE(got[0] == want[0] && got[1] == want[1] && got[2] == want[2]) << std::hex << pixel;
    }
    BYTE got[3];
    standin::PixelToRgb8(layouts[3], 0x00563412, got);
    EXPECT_TRUE(got[0] == 0x12 && got[1] == 0x34 && got[2] == 0x56);
}
