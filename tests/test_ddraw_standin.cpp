// The stand-in DirectDraw, GDI objects and user32 behave as the runtime's
// failure paths and drawing assume: lost surfaces, flips, locks, fills,
// Rectangle, and the window's message traffic.
#include <cstring>
#include <string>
#include <vector>

#include "fixture.h"
#include "platform/gdi_internal.h"
#include "platform/standin.h"
#include "platform/surface.h"

namespace {

struct Sent {
    UINT message;
    WPARAM wParam;
};
std::vector<Sent> sent;

LRESULT CALLBACK RecordingProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    sent.push_back(Sent{message, wParam});
    return DefWindowProcA(window, message, wParam, lParam);
}

HWND MakeWindow() {
    WNDCLASSEXA wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = RecordingProc;
    wc.lpszClassName = "StandinTest";
    RegisterClassExA(&wc);
    HWND w = CreateWindowExA(0, "StandinTest", "", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
    sent.clear();
    return w;
}

std::vector<UINT> Messages() {
    std::vector<UINT> out;
    for (const Sent& s : sent) out.push_back(s.message);
    return out;
}

DDSURFACEDESC2 Desc() {
    DDSURFACEDESC2 d;
    std::memset(&d, 0, sizeof d);
    d.dwSize = sizeof d;
    return d;
}

class DDrawStandin : public ::testing::Test {
protected:
    void SetUp() override {
        faults::Reset();
        sent.clear();
        window = MakeWindow();
        ASSERT_EQ(DirectDrawCreateEx(nullptr, reinterpret_cast<LPVOID*>(&dd), IID_IDirectDraw7, nullptr), DD_OK);
    }
    void TearDown() override { faults::Reset(); }

    void OpenChain(int width, int height, int bpp) {
        ASSERT_EQ(dd->SetCooperativeLevel(window, DDSCL_FULLSCREEN | DDSCL_EXCLUSIVE), DD_OK);
        ASSERT_EQ(dd->SetDisplayMode(width, height, bpp, 0, 0), DD_OK);
        DDSURFACEDESC2 d = Desc();
        d.dwFlags = DDSD_CAPS | DDSD_BACKBUFFERCOUNT;
        d.ddsCaps.dwCaps = 0x2218;
        d.dwBackBufferCount = 1;
        ASSERT_EQ(dd->CreateSurface(&d, &primary, nullptr), DD_OK);
        DDSCAPS2 caps{};
        caps.dwCaps = 0x2004;
        ASSERT_EQ(primary->GetAttachedSurface(&caps, &back), DD_OK);
    }
    HRESULT Fill(IDirectDrawSurface7* s, DWORD value, RECT* rect = nullptr) {
        DDBLTFX fx{};
        fx.dwSize = sizeof fx;
        fx.dwFillColor = value;
        return s->Blt(rect, nullptr, nullptr, DDBLT_COLORFILL, &fx);
    }
    HRESULT MakeSurface(DWORD caps, DWORD width, DWORD height, IDirectDrawSurface7** out) {
        DDSURFACEDESC2 d = Desc();
        d.dwFlags = DDSD_CAPS | DDSD_WIDTH | DDSD_HEIGHT;
        d.ddsCaps.dwCaps = caps;
        d.dwWidth = width;
        d.dwHeight = height;
        return dd->CreateSurface(&d, out, nullptr);
    }
    standin::Surface& S(IDirectDrawSurface7* s) { return *standin::SurfaceOf(s); }

    HWND window = nullptr;
    IDirectDraw7* dd = nullptr;
    IDirectDrawSurface7* primary = nullptr;
    IDirectDrawSurface7* back = nullptr;
};

TEST_F(DDrawStandin, CreationWantsTheDirectDraw7Interface) {
    IDirectDraw7* other = reinterpret_cast<IDirectDraw7*>(0x1);
    EXPECT_NE(DirectDrawCreateEx(nullptr, reinterpret_cast<LPVOID*>(&other), IID_IDirectDrawSurface7, nullptr), DD_OK);
    EXPECT_EQ(other, nullptr);
    faults::Fail("DirectDrawCreateEx", 1);
    other = reinterpret_cast<IDirectDraw7*>(0x1);
    EXPECT_NE(DirectDrawCreateEx(nullptr, reinterpret_cast<LPVOID*>(&other), IID_IDirectDraw7, nullptr), DD_OK);
    EXPECT_EQ(other, nullptr);
}

TEST_F(DDrawStandin, DisplayModesNeedExclusiveModeAndAKnownDepth) {
    EXPECT_EQ(dd->SetDisplayMode(640, 480, 16, 0, 0), DDERR_NOEXCLUSIVEMODE);
    EXPECT_EQ(dd->SetCooperativeLevel(nullptr, DDSCL_FULLSCREEN | DDSCL_EXCLUSIVE), DDERR_INVALIDPARAMS)
        << "exclusive mode needs a window";
    EXPECT_EQ(dd->SetCooperativeLevel(window, DDSCL_EXCLUSIVE), DDERR_INVALIDPARAMS);
    ASSERT_EQ(dd->SetCooperativeLevel(window, DDSCL_FULLSCREEN | DDSCL_EXCLUSIVE), DD_OK);
    EXPECT_TRUE(standin::ExclusiveDisplaySet());
    for (DWORD bpp : {8u, 15u, 16u, 24u, 32u}) EXPECT_EQ(dd->SetDisplayMode(640, 480, bpp, 0, 0), DD_OK) << bpp;
    for (DWORD bpp : {0u, 4u, 12u, 64u}) EXPECT_EQ(dd->SetDisplayMode(640, 480, bpp, 0, 0), DDERR_INVALIDMODE) << bpp;
    EXPECT_EQ(dd->SetDisplayMode(static_cast<DWORD>(-25536), 480, 16, 0, 0), DDERR_INVALIDMODE);
    EXPECT_EQ(dd->SetDisplayMode(0, 480, 16, 0, 0), DDERR_INVALIDMODE);
    EXPECT_EQ(dd->SetCooperativeLevel(nullptr, DDSCL_NORMAL), DD_OK);
    EXPECT_FALSE(standin::ExclusiveDisplaySet());
}

TEST_F(DDrawStandin, LockDescribesEachDepthWithItsRealMasksAndPitch) {
    struct Case {
        int bpp;
        DWORD bitCount, flags, r, g, b;
    } cases[] = {
        {8, 8, DDPF_RGB | DDPF_PALETTEINDEXED8, 0, 0, 0},
        {15, 16, DDPF_RGB, 0x7C00, 0x03E0, 0x001F},
        {16, 16, DDPF_RGB, 0xF800, 0x07E0, 0x001F},
        {24, 24, DDPF_RGB, 0xFF0000, 0x00FF00, 0x0000FF},
        {32, 32, DDPF_RGB, 0xFF0000, 0x00FF00, 0x0000FF},
    };
    for (const Case& c : cases) {
        SetUp();
        OpenChain(30, 20, c.bpp);
        DDSURFACEDESC2 d = Desc();
        ASSERT_EQ(back->Lock(nullptr, &d, DDLOCK_WAIT, nullptr), DD_OK) << c.bpp;
        EXPECT_EQ(d.dwSize, sizeof d);
        EXPECT_EQ(d.dwWidth, 30u);
        EXPECT_EQ(d.dwHeight, 20u);
        EXPECT_EQ(d.ddpfPixelFormat.dwSize, sizeof(DDPIXELFORMAT));
        EXPECT_EQ(d.ddpfPixelFormat.dwRGBBitCount, c.bitCount) << c.bpp;
        EXPECT_EQ(d.ddpfPixelFormat.dwFlags, c.flags) << c.bpp;
        EXPECT_EQ(d.ddpfPixelFormat.dwRBitMask, c.r) << c.bpp;
        EXPECT_EQ(d.ddpfPixelFormat.dwGBitMask, c.g) << c.bpp;
        EXPECT_EQ(d.ddpfPixelFormat.dwBBitMask, c.b) << c.bpp;
        EXPECT_GE(d.lPitch, static_cast<LONG>(30 * c.bitCount / 8));
        EXPECT_EQ(d.lPitch % 4, 0) << "rows are aligned, so callers must use the pitch";
        EXPECT_EQ(d.lpSurface, S(back).pixels.data());
        EXPECT_TRUE(d.ddsCaps.dwCaps & DDSCAPS_BACKBUFFER);
        DDSURFACEDESC2 again = Desc();
        EXPECT_EQ(back->Lock(nullptr, &again, DDLOCK_WAIT, nullptr), DDERR_SURFACEBUSY);
        EXPECT_EQ(back->Unlock(nullptr), DD_OK);
        EXPECT_EQ(back->Unlock(nullptr), DDERR_NOTLOCKED);
        TearDown();
    }
}

TEST_F(DDrawStandin, LockRefusesADescriptionOfTheWrongSize) {
    OpenChain(16, 16, 16);
    DDSURFACEDESC2 d = Desc();
    d.dwSize = 100;
    EXPECT_EQ(back->Lock(nullptr, &d, DDLOCK_WAIT, nullptr), DDERR_INVALIDPARAMS);
    EXPECT_EQ(back->Lock(nullptr, nullptr, DDLOCK_WAIT, nullptr), DDERR_INVALIDPARAMS);
}

TEST_F(DDrawStandin, FlipSwapsContentsButKeepsEachInterfacesSurface) {
    OpenChain(32, 16, 16);
    unsigned frontId = S(primary).id, backId = S(back).id;
    ASSERT_EQ(Fill(back, 0xF800), DD_OK);
    ASSERT_EQ(Fill(primary, 0x001F), DD_OK);
    unsigned backVersion = S(back).version;
    ASSERT_EQ(primary->Flip(nullptr, DDFLIP_WAIT), DD_OK);
    EXPECT_EQ(S(primary).ReadRaw(31, 15), 0xF800u);
    EXPECT_EQ(S(back).ReadRaw(0, 0), 0x001Fu);
    EXPECT_EQ(S(primary).id, frontId);
    EXPECT_EQ(S(back).id, backId);
    EXPECT_GT(S(back).version, backVersion) << "the back buffer's contents changed";
    EXPECT_EQ(back->Flip(nullptr, DDFLIP_WAIT), DDERR_NOTFLIPPABLE);
    HDC dc;
    ASSERT_EQ(back->GetDC(&dc), DD_OK);
    EXPECT_EQ(primary->Flip(nullptr, DDFLIP_WAIT), DDERR_SURFACEBUSY) << "not while GDI holds the back buffer";
    back->ReleaseDC(dc);
}

TEST_F(DDrawStandin, LostSurfacesRefuseWorkUntilRestored) {
    OpenChain(16, 16, 16);
    IDirectDrawSurface7* sprite = nullptr;
    ASSERT_EQ(MakeSurface(DDSCAPS_OFFSCREENPLAIN, 8, 8, &sprite), DD_OK);
    ASSERT_EQ(Fill(back, 0x1234), DD_OK);
    faults::LoseDisplay();
    DDSURFACEDESC2 d = Desc();
    HDC dc = nullptr;
    EXPECT_EQ(primary->Flip(nullptr, DDFLIP_WAIT), DDERR_SURFACELOST);
    EXPECT_EQ(Fill(back, 0), DDERR_SURFACELOST);
    EXPECT_EQ(back->Lock(nullptr, &d, DDLOCK_WAIT, nullptr), DDERR_SURFACELOST);
    EXPECT_EQ(back->GetDC(&dc), DDERR_SURFACELOST);
    EXPECT_EQ(sprite->IsLost(), DDERR_SURFACELOST);
    unsigned backId = S(back).id;
    EXPECT_EQ(dd->RestoreAllSurfaces(), DD_OK);
    EXPECT_EQ(back->IsLost(), DD_OK);
    EXPECT_EQ(sprite->IsLost(), DD_OK);
    EXPECT_EQ(S(back).id, backId) << "the same surfaces come back";
    EXPECT_EQ(S(back).ReadRaw(3, 3), 0u) << "but not their contents";
    EXPECT_EQ(primary->Flip(nullptr, DDFLIP_WAIT), DD_OK);
    sprite->Release();
}

TEST_F(DDrawStandin, LosingFocusInFullScreenLosesTheSurfacesUntilFocusReturns) {
    OpenChain(16, 16, 16);
    faults::SetForeground(false);
    EXPECT_EQ(back->IsLost(), DDERR_SURFACELOST);
    EXPECT_NE(dd->RestoreAllSurfaces(), DD_OK) << "another program has the display";
    EXPECT_EQ(back->IsLost(), DDERR_SURFACELOST);
    faults::SetForeground(true);
    EXPECT_EQ(dd->RestoreAllSurfaces(), DD_OK);
    EXPECT_EQ(back->IsLost(), DD_OK);
}

TEST_F(DDrawStandin, OneDeviceContextAtATime) {
    OpenChain(16, 16, 16);
    HDC dc = nullptr, second = nullptr;
    ASSERT_EQ(back->GetDC(&dc), DD_OK);
    ASSERT_NE(standin::DcOf(dc), nullptr);
    EXPECT_EQ(standin::DcOf(dc)->surface, &S(back));
    EXPECT_EQ(back->GetDC(&second), DDERR_DCALREADYCREATED);
    DDSURFACEDESC2 d = Desc();
    EXPECT_EQ(back->Lock(nullptr, &d, DDLOCK_WAIT, nullptr), DDERR_SURFACEBUSY);
    EXPECT_NE(back->ReleaseDC(reinterpret_cast<HDC>(0x42)), DD_OK);
    EXPECT_EQ(back->ReleaseDC(dc), DD_OK);
    EXPECT_EQ(standin::DcOf(dc), nullptr);
    EXPECT_EQ(back->GetDC(&second), DD_OK);
    back->ReleaseDC(second);
}

TEST_F(DDrawStandin, ColourFillCoversTheWholeSurfaceOrJustTheRectangle) {
    OpenChain(20, 10, 32);
    ASSERT_EQ(Fill(back, 0xFF00FF00), DD_OK);
    EXPECT_EQ(S(back).ReadRaw(0, 0), 0xFF00FF00u);
    EXPECT_EQ(S(back).ReadRaw(19, 9), 0xFF00FF00u);
    RECT r{2, 3, 5, 4};
    ASSERT_EQ(Fill(back, 0x0000FF, &r), DD_OK);
    EXPECT_EQ(S(back).ReadRaw(2, 3), 0xFFu);
    EXPECT_EQ(S(back).ReadRaw(4, 3), 0xFFu);
    EXPECT_EQ(S(back).ReadRaw(5, 3), 0xFF00FF00u) << "right edge is exclusive";
    EXPECT_EQ(S(back).ReadRaw(2, 4), 0xFF00FF00u) << "bottom edge is exclusive";
    RECT outside{15, 5, 21, 6};
    EXPECT_EQ(Fill(back, 0, &outside), DDERR_INVALIDPARAMS);
    DDBLTFX fx{};
    fx.dwSize = 64;
    EXPECT_EQ(back->Blt(nullptr, nullptr, nullptr, DDBLT_COLORFILL, &fx), DDERR_INVALIDPARAMS);
}

TEST_F(DDrawStandin, SixteenBitFillKeepsToTheLowSixteenBits) {
    OpenChain(4, 2, 16);
    IDirectDrawSurface7* sprite = nullptr;
    ASSERT_EQ(MakeSurface(DDSCAPS_OFFSCREENPLAIN, 3, 1, &sprite), DD_OK);
    ASSERT_EQ(Fill(sprite, 0xABCD1234), DD_OK);
    EXPECT_EQ(S(sprite).ReadRaw(2, 0), 0x1234u);
    EXPECT_EQ(S(sprite).Row(0)[6], 0) << "the row padding after the last pixel is untouched";
    sprite->Release();
}

TEST_F(DDrawStandin, SpriteSurfacesTakeTheDisplayFormatAndRefuseBadSizes) {
    OpenChain(64, 64, 16);
    IDirectDrawSurface7* s = nullptr;
    ASSERT_EQ(MakeSurface(DDSCAPS_SYSTEMMEMORY | DDSCAPS_OFFSCREENPLAIN, 22, 22, &s), DD_OK);
    EXPECT_EQ(S(s).layout.greenMask, 0x07E0u);
    EXPECT_TRUE(S(s).caps & DDSCAPS_SYSTEMMEMORY);
    EXPECT_FALSE(S(s).caps & DDSCAPS_VIDEOMEMORY);
    s->Release();
    ASSERT_EQ(MakeSurface(DDSCAPS_TEXTURE, 32, 32, &s), DD_OK);
    EXPECT_TRUE(S(s).caps & DDSCAPS_TEXTURE);
    s->Release();

    for (DWORD size : {0u, static_cast<DWORD>(-5), 100000u}) {
        s = reinterpret_cast<IDirectDrawSurface7*>(0x1);
        EXPECT_EQ(MakeSurface(DDSCAPS_OFFSCREENPLAIN, size, 8, &s), DDERR_INVALIDPARAMS) << size;
        EXPECT_EQ(s, nullptr);
        EXPECT_EQ(MakeSurface(DDSCAPS_OFFSCREENPLAIN, 8, size, &s), DDERR_INVALIDPARAMS) << size;
    }
    EXPECT_EQ(MakeSurface(DDSCAPS_OFFSCREENPLAIN, 8000, 8000, &s), DDERR_INVALIDPARAMS) << "absurd area";
    DDSURFACEDESC2 d = Desc();
    d.dwFlags = DDSD_CAPS;
    d.ddsCaps.dwCaps = DDSCAPS_OFFSCREENPLAIN;
    EXPECT_EQ(dd->CreateSurface(&d, &s, nullptr), DDERR_INVALIDPARAMS) << "no size given";
    d = Desc();
    d.dwFlags = DDSD_CAPS | DDSD_BACKBUFFERCOUNT;
    d.ddsCaps.dwCaps = 0x2218;
    d.dwBackBufferCount = 1;
    EXPECT_EQ(dd->CreateSurface(&d, &s, nullptr), DDERR_PRIMARYSURFACEALREADYEXISTS);
}

TEST_F(DDrawStandin, TheFlipChainNeedsExclusiveMode) {
    DDSURFACEDESC2 d = Desc();
    d.dwFlags = DDSD_CAPS | DDSD_BACKBUFFERCOUNT;
    d.ddsCaps.dwCaps = 0x2218;
    d.dwBackBufferCount = 1;
    ASSERT_EQ(dd->SetCooperativeLevel(window, DDSCL_NORMAL), DD_OK);
    EXPECT_EQ(dd->CreateSurface(&d, &primary, nullptr), DDERR_NOEXCLUSIVEMODE);
    EXPECT_EQ(primary, nullptr);
}

TEST_F(DDrawStandin, ColourKeysAndReleasesNameTheSurfaceKind) {
    OpenChain(16, 16, 16);
    IDirectDrawSurface7* sprite = nullptr;
    ASSERT_EQ(MakeSurface(DDSCAPS_OFFSCREENPLAIN, 4, 4, &sprite), DD_OK);
    DDCOLORKEY key{0, 0};
    EXPECT_EQ(sprite->SetColorKey(DDCKEY_SRCBLT, &key), DD_OK);
    EXPECT_TRUE(S(sprite).hasColorKey);
    DDSURFACEDESC2 d = Desc();
    ASSERT_EQ(sprite->GetSurfaceDesc(&d), DD_OK);
    EXPECT_TRUE(d.dwFlags & DDSD_CKSRCBLT);
    faults::StartRecording();
    sprite->Release();
    back->Release();
    primary->Release();
    dd->Release();
    EXPECT_EQ(faults::Recorded(),
              (std::vector<std::string>{"IDirectDrawSurface7::Release offscreen", "IDirectDrawSurface7::Release backbuffer",
                                        "IDirectDrawSurface7::Release primary", "IDirectDraw7::Release"}));
}

TEST_F(DDrawStandin, QueryInterfaceGivesItselfAndRefusesUnknownInterfaces) {
    void* out = nullptr;
    ASSERT_EQ(dd->QueryInterface(IID_IDirectDraw7, &out), S_OK);
    EXPECT_EQ(out, dd);
    EXPECT_EQ(static_cast<IDirectDraw7*>(out)->Release(), 1u);
    EXPECT_EQ(dd->QueryInterface(IID_IDirectInput7A, &out), E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);
    faults::Fail("IDirectDraw7::QueryInterface IDirect3D7", 1);
    EXPECT_NE(dd->QueryInterface(IID_IDirect3D7, &out), S_OK);
    EXPECT_EQ(out, nullptr);
}

// ---- GDI objects ----

class GdiStandin : public DDrawStandin {
protected:
    void Draw(int bpp) {
        OpenChain(12, 8, bpp);
        ASSERT_EQ(back->GetDC(&dc), DD_OK);
    }
    void TearDown() override {
        if (dc) back->ReleaseDC(dc);
        DDrawStandin::TearDown();
    }
    DWORD Px(int x, int y) { return S(back).ReadRaw(x, y); }
    HDC dc = nullptr;
};

TEST_F(GdiStandin, RectangleOutlinesWithThePenAndFillsWithTheBrushIn16Bits) {
    Draw(16);
    HPEN red = CreatePen(PS_SOLID, 1, RGB(255, 0, 0));
    HBRUSH blue = CreateSolidBrush(RGB(0, 0, 255));
    SelectObject(dc, red);
    SelectObject(dc, blue);
    ASSERT_TRUE(Rectangle(dc, 2, 2, 6, 5));
    for (int x = 2; x <= 5; ++x) {
        EXPECT_EQ(Px(x, 2), 0xF800u) << x;
        EXPECT_EQ(Px(x, 4), 0xF800u) << x;
    }
    EXPECT_EQ(Px(2, 3), 0xF800u);
    EXPECT_EQ(Px(5, 3), 0xF800u);
    EXPECT_EQ(Px(3, 3), 0x001Fu);
    EXPECT_EQ(Px(4, 3), 0x001Fu);
    EXPECT_EQ(Px(6, 3), 0u) << "right is exclusive";
    EXPECT_EQ(Px(3, 5), 0u) << "bottom is exclusive";
    EXPECT_EQ(Px(1, 1), 0u);
}

TEST_F(GdiStandin, RectangleIn32BitsUsesTheSurfacesOwnLayout) {
    faults::SetDisplayMasks(32, 0xFF, 0xFF00, 0xFF0000);
    Draw(32);
    SelectObject(dc, CreatePen(PS_SOLID, 1, RGB(255, 0, 0)));
    SelectObject(dc, CreateSolidBrush(RGB(0, 128, 255)));
    Rectangle(dc, 0, 0, 4, 4);
    EXPECT_EQ(Px(0, 0), 0x0000FFu) << "red in the low byte on this display";
    EXPECT_EQ(Px(1, 1), 0xFF8000u);
}

TEST_F(GdiStandin, NullPenFillsOnePixelLessAndHollowBrushFillsNothing) {
    Draw(16);
    SelectObject(dc, GetStockObject(NULL_PEN));
    SelectObject(dc, GetStockObject(WHITE_BRUSH));
    Rectangle(dc, 1, 1, 5, 4);
    EXPECT_EQ(Px(1, 1), 0xFFFFu);
    EXPECT_EQ(Px(3, 2), 0xFFFFu);
    EXPECT_EQ(Px(4, 2), 0u);
    EXPECT_EQ(Px(3, 3), 0u);

    SelectObject(dc, GetStockObject(WHITE_PEN));
    SelectObject(dc, GetStockObject(NULL_BRUSH));
    Rectangle(dc, 6, 0, 11, 5);
    EXPECT_EQ(Px(6, 0), 0xFFFFu);
    EXPECT_EQ(Px(10, 4), 0xFFFFu);
    EXPECT_EQ(Px(8, 2), 0u) << "a hollow brush leaves the inside";
}

TEST_F(GdiStandin, BlankingTheScreenThroughTheDefaultPenAndBlackBrushClearsEverything) {
    Draw(16);
    ASSERT_EQ(back->ReleaseDC(dc), DD_OK);
    dc = nullptr;
    ASSERT_EQ(Fill(back, 0xFFFF), DD_OK);
    ASSERT_EQ(back->GetDC(&dc), DD_OK);
    SelectObject(dc, GetStockObject(BLACK_BRUSH));
    Rectangle(dc, 0, 0, 12, 8);
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 12; ++x) ASSERT_EQ(Px(x, y), 0u) << x << "," << y;
}

TEST_F(GdiStandin, Rop2NotInvertsWhatIsThere) {
    Draw(16);
    ASSERT_EQ(SetROP2(dc, R2_NOT), R2_COPYPEN);
    SelectObject(dc, GetStockObject(NULL_PEN));
    Rectangle(dc, 0, 0, 3, 2);  // fills (0,0) and (1,0)
    EXPECT_EQ(Px(0, 0), 0xFFFFu);
    EXPECT_EQ(Px(1, 0), 0xFFFFu);
    Rectangle(dc, 0, 0, 2, 2);  // fills (0,0) only: back to black
    EXPECT_EQ(Px(0, 0), 0u);
    EXPECT_EQ(SetROP2(dc, 99), 0) << "unknown modes are refused";
    EXPECT_EQ(SetROP2(dc, R2_COPYPEN), R2_NOT);
}

TEST_F(GdiStandin, SelectObjectReturnsThePreviousAndIgnoresBadObjects) {
    Draw(16);
    HGDIOBJ white = GetStockObject(WHITE_BRUSH);
    HGDIOBJ black = GetStockObject(BLACK_BRUSH);
    EXPECT_EQ(SelectObject(dc, black), white) << "a new context starts with the white brush";
    EXPECT_EQ(SelectObject(dc, nullptr), nullptr);
    EXPECT_EQ(SelectObject(dc, reinterpret_cast<HGDIOBJ>(0x1234)), nullptr);
    EXPECT_EQ(standin::DcOf(dc)->brush, black) << "a failed selection changes nothing";
    EXPECT_EQ(SelectObject(dc, GetStockObject(NULL_PEN)), GetStockObject(BLACK_PEN));
    EXPECT_EQ(SelectObject(reinterpret_cast<HDC>(0x99), black), nullptr);
}

TEST_F(GdiStandin, StockObjectsSurviveDeletionAndSelectedObjectsAreNotFreed) {
    Draw(16);
    HGDIOBJ stock = GetStockObject(BLACK_BRUSH);
    EXPECT_TRUE(DeleteObject(stock));
    EXPECT_EQ(standin::ObjectOf(stock), stock);
    EXPECT_EQ(GetStockObject(BLACK_BRUSH), stock);
    HBRUSH mine = CreateSolidBrush(RGB(1, 2, 3));
    SelectObject(dc, mine);
    EXPECT_FALSE(DeleteObject(mine)) << "still selected";
    SelectObject(dc, stock);
    EXPECT_TRUE(DeleteObject(mine));
    EXPECT_EQ(standin::ObjectOf(mine), nullptr);
    EXPECT_EQ(SelectObject(dc, mine), nullptr) << "a deleted object cannot be selected";
    EXPECT_FALSE(DeleteObject(mine));
    for (int i : {WHITE_BRUSH, LTGRAY_BRUSH, GRAY_BRUSH, DKGRAY_BRUSH, BLACK_BRUSH, NULL_BRUSH, WHITE_PEN, BLACK_PEN,
                  NULL_PEN})
        EXPECT_NE(GetStockObject(i), nullptr) << i;
    EXPECT_EQ(GetStockObject(-1), nullptr);
}

TEST_F(GdiStandin, AttributeSettersReturnThePreviousValue) {
    Draw(16);
    EXPECT_EQ(SetBkMode(dc, TRANSPARENT), OPAQUE);
    EXPECT_EQ(SetBkMode(dc, OPAQUE), TRANSPARENT);
    EXPECT_EQ(SetBkColor(dc, RGB(1, 2, 3)), 0x00FFFFFFu);
    EXPECT_EQ(SetBkColor(dc, 0), RGB(1, 2, 3));
    EXPECT_EQ(SetTextColor(dc, RGB(9, 9, 9)), 0u);
    EXPECT_EQ(SetTextColor(dc, 0), RGB(9, 9, 9));
    EXPECT_EQ(SetTextAlign(dc, TA_UPDATECP), static_cast<UINT>(TA_NOUPDATECP));
    EXPECT_EQ(SetTextAlign(dc, TA_NOUPDATECP), static_cast<UINT>(TA_UPDATECP));
    EXPECT_EQ(SetTextColor(reinterpret_cast<HDC>(0x77), 0), CLR_INVALID);
}

// ---- windows and messages ----

class UserStandin : public ::testing::Test {
protected:
    void SetUp() override {
        faults::Reset();
        window = MakeWindow();
    }
    void TearDown() override { faults::Reset(); }
    HWND window = nullptr;
};

TEST_F(UserStandin, PostedMessagesComeOutInOrderAndOnlyWhenAsked) {
    PostMessageA(window, 0x0401, 1, 0);
    PostMessageA(window, WM_KEYDOWN, 2, 0);
    PostMessageA(window, 0x0401, 3, 0);
    EXPECT_TRUE(sent.empty()) << "posting does not call the procedure";
    MSG msg;
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE));
    EXPECT_EQ(msg.wParam, 1u);
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, WM_KEYDOWN, WM_KEYDOWN, PM_REMOVE));
    EXPECT_EQ(msg.wParam, 2u) << "a filter takes the first match";
    std::vector<WPARAM> order;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        order.push_back(msg.wParam);
        DispatchMessageA(&msg);
    }
    EXPECT_EQ(order, (std::vector<WPARAM>{1, 3}));
    EXPECT_EQ(sent.size(), 2u);
    EXPECT_FALSE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
}

TEST_F(UserStandin, WindowCallsSendTheirMessagesBeforeReturning) {
    ShowWindow(window, SW_SHOWMAXIMIZED);
    EXPECT_EQ(Messages(), (std::vector<UINT>{WM_SHOWWINDOW, WM_SIZE, WM_ACTIVATE}));
    EXPECT_EQ(sent.back().wParam, static_cast<WPARAM>(WA_ACTIVE));
    sent.clear();
    ShowWindow(window, SW_SHOWMAXIMIZED);
    EXPECT_TRUE(sent.empty()) << "already shown, maximised and active";

    MoveWindow(window, 0, 0, 640, 480, TRUE);
    SetWindowTextA(window, "t");
    EnableWindow(window, FALSE);
    EnableWindow(window, FALSE);
    EXPECT_EQ(Messages(), (std::vector<UINT>{WM_MOVE, WM_SIZE, WM_SETTEXT, WM_ENABLE})) << "the second disable changes nothing";
    sent.clear();
    ShowWindow(window, SW_HIDE);
    EXPECT_EQ(Messages(), (std::vector<UINT>{WM_SHOWWINDOW, WM_ACTIVATE}));
    EXPECT_EQ(sent.back().wParam, static_cast<WPARAM>(WA_INACTIVE));
    MSG msg;
    EXPECT_FALSE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) << "nothing was queued";
}

TEST_F(UserStandin, FocusChangesArePostedToTheShownWindow) {
    faults::SetForeground(false);
    MSG msg;
    EXPECT_FALSE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) << "a hidden window is not told";
    ShowWindow(window, SW_SHOW);
    EXPECT_TRUE(sent.empty() || Messages() == std::vector<UINT>{WM_SHOWWINDOW}) << "no activation in the background";
    faults::SetForeground(true);
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(msg.message, static_cast<UINT>(WM_ACTIVATE));
    EXPECT_EQ(LOWORD(msg.wParam), WA_ACTIVE);
    EXPECT_EQ(msg.hwnd, window);
    faults::SetForeground(false);
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(LOWORD(msg.wParam), WA_INACTIVE);
    EXPECT_FALSE(standin::WindowInForeground(window));
}

TEST_F(UserStandin, CursorIsACounter) {
    EXPECT_EQ(ShowCursor(FALSE), -1);
    EXPECT_EQ(ShowCursor(FALSE), -2);
    EXPECT_EQ(ShowCursor(TRUE), -1);
    EXPECT_EQ(ShowCursor(TRUE), 0);
}

TEST_F(UserStandin, ClassesRegisterOnceAndWindowsNeedOne) {
    WNDCLASSEXA wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = RecordingProc;
    wc.lpszClassName = "StandinTest";
    EXPECT_EQ(RegisterClassExA(&wc), 0) << "already registered";
    wc.lpszClassName = "Other";
    wc.cbSize = 48 + 1;
    EXPECT_EQ(RegisterClassExA(&wc), 0) << "cbSize must be the structure's size";
    EXPECT_EQ(CreateWindowExA(0, "Missing", "", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr), nullptr);
}

}  // namespace
