// The stand-in where the runtime's failure paths lean on it behaving as
// Windows does: lost surfaces and the focus, a lent device context blocking
// the surface, the message queue, painting, and a window that is closed.
#include "fixture.h"
#include "platform/host/host.h"
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

// Closing the window destroys it, as Windows does; the demo goes on without
// showing frames, and Escape (which a host close request also becomes) still
// ends it.
TEST_F(StandinTest, AClosedWindowIsDestroyedAndTheKeyboardStillSeesEscape) {
    ASSERT_EQ(OpenKeyboard(), 1);
    ASSERT_EQ(PollKeyboard(), 1);
    PostMessageA(screen.window, WM_CLOSE, 0, 0);
    faults::StartRecording();
    FlipBuffers();
    EXPECT_FALSE(IsWindow(screen.window));
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
