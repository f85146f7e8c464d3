// The stand-in where the runtime's failure paths lean on it behaving as
// Windows does: lost surfaces and the focus, a lent device context blocking
// the surface, the message queue, painting, and a window that is closed;
// and the host's conversion of what it shows and saves.
#include <array>
#include <random>

#include "fixture.h"
#include "platform/host/pixels.h"

namespace {

using StandinTest = OpenScreenTest;

TEST_F(StandinTest, LostSurfacesRefuseWorkUntilRestoredWithTheDisplayBack) {
    ASSERT_EQ(ColorFill(screen.backBuffer, 0x1234), DD_OK);
    ASSERT_EQ(screen.primary->Flip(nullptr, DDFLIP_WAIT), DD_OK);
    EXPECT_EQ(Front().ReadRaw(5, 5), 0x1234u) << "a flip swaps the contents";
    faults::SetForeground(false);
    DDSURFACEDESC2 d{};
    d.dwSize = sizeof d;
    HDC dc = nullptr;
    // (A lost flip and fill: see the screen's restore and ClearScreen.)
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
    for (int index : {-1, DEFAULT_GUI_FONT + 1, 1 << 20}) EXPECT_EQ(GetStockObject(index), nullptr) << index;
    EXPECT_NE(GetStockObject(BLACK_BRUSH), nullptr);
}

// WM_PAINT comes whenever the queue is empty and the window needs painting, until something
// validates it. (Posted messages in order: see the screen's message pump.)
TEST_F(StandinTest, PaintComesUntilValidated) {
    FlipBuffers();
    MSG msg;
    EXPECT_FALSE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) << "the window was painted by the first pump";
    standin::HostExposed();
    for (int i = 0; i < 2; ++i)
        EXPECT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE) && msg.message == WM_PAINT) << "again while invalid";
    PAINTSTRUCT paint;
    BeginPaint(screen.window, &paint);
    EndPaint(screen.window, &paint);
    EXPECT_FALSE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
}

// Closing the window destroys it, as Windows does, and the runtime knows its window is gone (the
// demo then ends); nothing more is shown, and Escape (which a host close request becomes) still reads.
TEST_F(StandinTest, AClosedWindowIsDestroyedAndTheKeyboardStillSeesEscape) {
    ASSERT_EQ(OpenKeyboard(), 1);
    ASSERT_EQ(PollKeyboard(), 1);
    PostMessageA(screen.window, WM_CLOSE, 0, 0);
    faults::StartRecording();
    EXPECT_EQ(MainWindowDestroyed(), 0);
    FlipBuffers();
    EXPECT_TRUE(!IsWindow(screen.window) && MainWindowDestroyed() == 1 && screen.active == 0);
    FlipBuffers();
    EXPECT_EQ(ClearScreen(0, 0, 0), DD_OK);
    EXPECT_EQ(CountRecorded("IDirectDrawSurface7::Flip"), 0);
    standin::host::RequestEscape();
    PollKeyboard();
    PollKeyboard();
    EXPECT_EQ(KeyDown(kEscapeKey), 128);
    CloseKeyboard();
}

// The software device records draws and rasterises them later, on threads; used in ways the
// runtime never uses, it must still give what drawing each draw at once gives: another device's scene
// rendering into the texture, the program writing a locked texture between draws, a texture that is
// the device's own target. And a device needs a target.
class DeviceUseTest : public StandinTest {
protected:
    void SetUp() override {
        StandinTest::SetUp();
        ASSERT_EQ(screen.directDraw->QueryInterface(IID_IDirect3D7, reinterpret_cast<void**>(&direct3D)), DD_OK);
    }
    // The devices go before the surfaces they draw into; the stand-in's reset takes the rest.
    void TearDown() override {
        for (IDirect3DDevice7* device : devices) device->Release();
        StandinTest::TearDown();
    }
    static IDirectDrawSurface7* Texture() { return MakeSurface(DDSCAPS_TEXTURE | DDSCAPS_3DDEVICE, 32); }
    IDirect3DDevice7* Device(IDirectDrawSurface7* target) {
        IDirect3DDevice7* device = nullptr;
        EXPECT_EQ(direct3D->CreateDevice(IID_IDirect3DHALDevice, target, &device), D3D_OK);
        if (device) devices.push_back(device);
        return device;
    }
    // A quad from (x, y), w x h, showing the whole texture.
    static HRESULT Quad(IDirect3DDevice7* device, float x, float y, float w, float h) {
        D3DTLVERTEX v[4] = {{x, y, 0, 1, 0xFFFFFFFF, 0, 0, 0}, {x + w, y, 0, 1, 0xFFFFFFFF, 0, 1, 0},
                            {x, y + h, 0, 1, 0xFFFFFFFF, 0, 0, 1}, {x + w, y + h, 0, 1, 0xFFFFFFFF, 0, 1, 1}};
        return device->DrawPrimitive(D3DPT_TRIANGLESTRIP, D3DFVF_TLVERTEX, v, 4, 0);
    }
    IDirect3D7* direct3D = nullptr;
    std::vector<IDirect3DDevice7*> devices;
};

TEST_F(DeviceUseTest, DrawsKeepTheirOrderAcrossDevicesLocksAndTheirOwnTarget) {
    IDirectDrawSurface7* texture = Texture();
    ASSERT_NE(texture, nullptr);
    IDirect3DDevice7 *intoTexture = Device(texture), *intoBack = Device(screen.backBuffer);
    ASSERT_TRUE(intoTexture && intoBack);
    // One device's open scene paints the texture white; the other draws it.
    ASSERT_EQ(intoTexture->BeginScene(), D3D_OK);
    ASSERT_EQ(Quad(intoTexture, 0, 0, 32, 32), D3D_OK);
    ASSERT_EQ(intoBack->BeginScene(), D3D_OK);
    ASSERT_EQ(intoBack->SetTexture(0, texture), D3D_OK);
    ASSERT_EQ(Quad(intoBack, 100, 100, 32, 32), D3D_OK);
    ASSERT_TRUE(intoBack->EndScene() == D3D_OK && intoTexture->EndScene() == D3D_OK);
    EXPECT_EQ(Back().ReadRaw(110, 110), 0xFFFFu) << "the texture as the other scene left it";

    // The program writes the locked texture between two draws from it.
    LONG pitch = 0;
    uint16_t* texels = LockedPixel(texture, 0, 0, &pitch);
    ASSERT_NE(texels, nullptr);
    ASSERT_EQ(intoBack->BeginScene(), D3D_OK);
    for (auto [value, x] : {std::pair{0xF800, 200}, {0x07E0, 300}}) {
        for (int i = 0; i < 32 * 32; ++i) texels[i / 32 * pitch + i % 32] = value;
        Quad(intoBack, x, 100, 32, 32);
    }
    ASSERT_EQ(intoBack->EndScene(), D3D_OK);
    texture->Unlock(nullptr);
    EXPECT_EQ(Back().ReadRaw(210, 110), 0xF800u);
    EXPECT_EQ(Back().ReadRaw(310, 110), 0x07E0u) << "not an earlier copy of the texture";

    // A device drawing its own target, shrunk and then over what it drew:
    // the same bytes as with every draw finished before the next (a lock).
    std::vector<BYTE> results[2];
    for (int way = 0; way < 2; ++way) {
        IDirectDrawSurface7* own = Texture();
        ASSERT_NE(own, nullptr);
        standin::Surface& s = *standin::SurfaceOf(own);
        for (int i = 0; i < 32 * 32; ++i) s.WriteRaw(i % 32, i / 32, ((i % 32) * 7 + (i / 32) * 13) * 97 & 0xFFFF);
        s.Touch();
        IDirect3DDevice7* device = Device(own);
        ASSERT_TRUE(device->BeginScene() == D3D_OK && device->SetTexture(0, own) == D3D_OK);
        for (const auto& q : {std::array<float, 4>{0, 0, 16, 16}, {8, 8, 24, 24}, {4, 20, 12, 12}}) {
            ASSERT_EQ(Quad(device, q[0], q[1], q[2], q[3]), D3D_OK);
            if (way == 1) {
                ASSERT_NE(LockedPixel(own), nullptr);
                own->Unlock(nullptr);
            }
        }
        ASSERT_EQ(device->EndScene(), D3D_OK);
        results[way] = s.pixels;
    }
    EXPECT_TRUE(results[0] == results[1]);

    // No target at all is refused, and said so.
    faults::StartRecording();
    IDirect3DDevice7* none = nullptr;
    EXPECT_TRUE(direct3D->CreateDevice(IID_IDirect3DHALDevice, nullptr, &none) != D3D_OK && !none);
    EXPECT_EQ(CountRecorded("IDirect3D7::CreateDevice (no render target)"), 1);
}

}  // namespace

// The window and the captures show the primary through the converter's tables: every pixel of every
// display layout, the row ends included, must come out as the one-pixel unpacking gives it, also
// after a change of layout.
// Font heights are MulDiv(points, dpi, 72): halves round away from zero, and
// what overflows, or divides by zero, is -1 as on Windows.
TEST(Kernel, MulDivRoundsHalvesAwayFromZeroAndFailsAsMinusOne) {
    EXPECT_EQ((std::vector<int>{MulDiv(12, 96, 72), MulDiv(3, 1, 2), MulDiv(3, -1, 2), MulDiv(-3, 1, -2),
                                MulDiv(1, 1, 0), MulDiv(0x40000000, 4, 1)}),
              (std::vector<int>{16, 2, -2, 2, -1, -1}));
}

TEST(HostPixels, EveryLayoutConvertsAsOnePixelAtATime) {
    const standin::PixelLayout layouts[] = {{16, 0xF800, 0x07E0, 0x001F}, {15, 0x7C00, 0x03E0, 0x001F},
        {24, 0xFF0000, 0x00FF00, 0x0000FF}, {32, 0x0000FF, 0x00FF00, 0xFF0000}, {16, 0xF800, 0x07E0, 0x001F}};
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
            for (int k = 0; k < 3; ++k)
                ASSERT_TRUE(rgb[i * 3 + k] == want[k] && rgba[i * 4 + k] == want[k]) << layout.bitsPerPixel << ": " << i;
            ASSERT_EQ(rgba[i * 4 + 3], 255) << "opaque";
        }
    }
    // The unpacking itself spreads each field over the whole 0..255 range.
    for (auto [layout, pixel, r, g, b] :
         {std::tuple{0, 0xFFFFu, 255, 255, 255}, {0, 0x0821u, 8, 4, 8}, {3, 0x563412u, 0x12, 0x34, 0x56}}) {
        BYTE got[3];
        standin::PixelToRgb8(layouts[layout], pixel, got);
        EXPECT_TRUE(got[0] == r && got[1] == g && got[2] == b) << std::hex << pixel;
    }
}
