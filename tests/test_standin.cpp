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

// The software device records draws and rasterises them later, on threads;
// used in ways the runtime never uses, it must still give what drawing each
// draw at once gives: another device's scene rendering into the texture, the
// program writing a locked texture between draws, a texture that is the
// device's own target. And a device needs a target.
class DeviceUseTest : public StandinTest {
protected:
    void SetUp() override {
        StandinTest::SetUp();
        void* object = nullptr;
        ASSERT_EQ(screen.directDraw->QueryInterface(IID_IDirect3D7, &object), DD_OK);
        direct3D = static_cast<IDirect3D7*>(object);
    }
    void TearDown() override {
        for (IUnknown* o : owned) o->Release();
        if (direct3D) direct3D->Release();
        StandinTest::TearDown();
    }
    IDirectDrawSurface7* Texture(int side) {
        DDSURFACEDESC2 d{};
        d.dwSize = sizeof d;
        d.dwFlags = DDSD_CAPS | DDSD_WIDTH | DDSD_HEIGHT;
        d.dwWidth = d.dwHeight = side;
        d.ddsCaps.dwCaps = DDSCAPS_TEXTURE | DDSCAPS_3DDEVICE;
        IDirectDrawSurface7* s = nullptr;
        EXPECT_EQ(screen.directDraw->CreateSurface(&d, &s, nullptr), DD_OK);
        owned.push_back(s);
        return s;
    }
    IDirect3DDevice7* Device(IDirectDrawSurface7* target) {
        IDirect3DDevice7* device = nullptr;
        EXPECT_EQ(direct3D->CreateDevice(IID_IDirect3DHALDevice, target, &device), D3D_OK);
        if (device) owned.insert(owned.begin(), device);  // released before the surfaces
        return device;
    }
    // A quad from (x, y) to (x + w, y + h) showing the whole texture.
    static HRESULT Quad(IDirect3DDevice7* device, float x, float y, float w, float h, D3DCOLOR color = 0xFFFFFFFF) {
        D3DTLVERTEX v[4] = {{x, y, 0, 1, color, 0, 0, 0}, {x + w, y, 0, 1, color, 0, 1, 0},
                            {x, y + h, 0, 1, color, 0, 0, 1}, {x + w, y + h, 0, 1, color, 0, 1, 1}};
        return device->DrawPrimitive(D3DPT_TRIANGLESTRIP, D3DFVF_TLVERTEX, v, 4, 0);
    }
    IDirect3D7* direct3D = nullptr;
    std::vector<IUnknown*> owned;
};

TEST_F(DeviceUseTest, DrawsKeepTheirOrderAcrossDevicesLocksAndTheirOwnTarget) {
    IDirectDrawSurface7* texture = Texture(32);
    IDirect3DDevice7* intoTexture = Device(texture);
    IDirect3DDevice7* intoBack = Device(screen.backBuffer);
    ASSERT_TRUE(intoTexture && intoBack);

    // One device's open scene paints the texture white; the other draws it.
    ASSERT_EQ(intoTexture->BeginScene(), D3D_OK);
    ASSERT_EQ(Quad(intoTexture, 0, 0, 32, 32), D3D_OK);
    ASSERT_EQ(intoBack->BeginScene(), D3D_OK);
    ASSERT_EQ(intoBack->SetTexture(0, texture), D3D_OK);
    ASSERT_EQ(Quad(intoBack, 100, 100, 32, 32), D3D_OK);
    ASSERT_EQ(intoBack->EndScene(), D3D_OK);
    ASSERT_EQ(intoTexture->EndScene(), D3D_OK);
    EXPECT_EQ(Back().ReadRaw(110, 110), 0xFFFFu) << "the texture as the other scene left it";

    // The program writes the locked texture between two draws from it.
    DDSURFACEDESC2 d{};
    d.dwSize = sizeof d;
    ASSERT_EQ(texture->Lock(nullptr, &d, DDLOCK_WAIT, nullptr), DD_OK);
    auto paint = [&](WORD value) {
        for (DWORD y = 0; y < d.dwHeight; ++y)
            for (DWORD x = 0; x < d.dwWidth; ++x)
                reinterpret_cast<WORD*>(static_cast<BYTE*>(d.lpSurface) + y * d.lPitch)[x] = value;
    };
    ASSERT_EQ(intoBack->BeginScene(), D3D_OK);
    paint(0xF800);
    Quad(intoBack, 200, 100, 32, 32);
    paint(0x07E0);
    Quad(intoBack, 300, 100, 32, 32);
    ASSERT_EQ(intoBack->EndScene(), D3D_OK);
    texture->Unlock(nullptr);
    EXPECT_EQ(Back().ReadRaw(210, 110), 0xF800u);
    EXPECT_EQ(Back().ReadRaw(310, 110), 0x07E0u) << "not an earlier copy of the texture";

    // A device drawing its own target, shrunk and then over what it drew:
    // the same bytes as with every draw finished before the next (a lock).
    IDirectDrawSurface7* own[2] = {Texture(32), Texture(32)};
    std::vector<BYTE> results[2];
    for (int way = 0; way < 2; ++way) {
        standin::Surface& s = *standin::SurfaceOf(own[way]);
        for (int y = 0; y < 32; ++y)
            for (int x = 0; x < 32; ++x) s.WriteRaw(x, y, (x * 7 + y * 13) * 97 & 0xFFFF);
        s.Touch();
        IDirect3DDevice7* device = Device(own[way]);
        ASSERT_EQ(device->BeginScene(), D3D_OK);
        ASSERT_EQ(device->SetTexture(0, own[way]), D3D_OK);
        const float quads[][4] = {{0, 0, 16, 16}, {8, 8, 24, 24}, {4, 20, 12, 12}};
        for (const auto& q : quads) {
            ASSERT_EQ(Quad(device, q[0], q[1], q[2], q[3]), D3D_OK);
            if (way == 1) {
                ASSERT_EQ(own[way]->Lock(nullptr, &d, DDLOCK_WAIT, nullptr), DD_OK);
                own[way]->Unlock(nullptr);
            }
        }
        ASSERT_EQ(device->EndScene(), D3D_OK);
        results[way] = s.pixels;
    }
    EXPECT_TRUE(results[0] == results[1]);

    // No target at all is refused, and said so.
    faults::StartRecording();
    IDirect3DDevice7* none = nullptr;
    EXPECT_NE(direct3D->CreateDevice(IID_IDirect3DHALDevice, nullptr, &none), D3D_OK);
    EXPECT_EQ(none, nullptr);
    EXPECT_EQ(CountRecorded("IDirect3D7::CreateDevice (no render target)"), 1);
}

// Begin3D makes no device while there is no back buffer (a screen that did
// not open), and makes it once there is one.
TEST_F(RuntimeTest, Begin3DWithoutABackBufferMakesNoDevice) {
    Start();
    ASSERT_EQ(InitSprite3DSystem(), 1);
    faults::StartRecording();
    EXPECT_EQ(Begin3D(), 0);
    EXPECT_TRUE(faults::RecordedMatching({"IDirect3D7::CreateDevice"}).empty());
    ASSERT_EQ(OpenScreen(640, 480, 16, " "), 1);
    EXPECT_EQ(Begin3D(), 1);
    End3D();
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
