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

std::vector<std::pair<UINT, WPARAM>> sent;

LRESULT CALLBACK RecordingProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    sent.emplace_back(message, wParam);
    return DefWindowProcA(window, message, wParam, lParam);
}

std::vector<UINT> Messages() {
    std::vector<UINT> out;
    for (const auto& s : sent) out.push_back(s.first);
    sent.clear();
    return out;
}

DDSURFACEDESC2 Desc(DWORD flags = 0, DWORD caps = 0) {
    DDSURFACEDESC2 d;
    std::memset(&d, 0, sizeof d);
    d.dwSize = sizeof d;
    d.dwFlags = flags;
    d.ddsCaps.dwCaps = caps;
    d.dwBackBufferCount = 1;
    return d;
}
DDSURFACEDESC2 ChainDesc() { return Desc(DDSD_CAPS | DDSD_BACKBUFFERCOUNT, 0x2218); }

class DDrawStandin : public ::testing::Test {
protected:
    void SetUp() override {
        faults::Reset();
        WNDCLASSEXA wc{};
        wc.cbSize = sizeof wc;
        wc.lpfnWndProc = RecordingProc;
        wc.lpszClassName = "StandinTest";
        RegisterClassExA(&wc);
        window = CreateWindowExA(0, "StandinTest", "", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
        sent.clear();
        ASSERT_EQ(DirectDrawCreateEx(nullptr, reinterpret_cast<LPVOID*>(&dd), IID_IDirectDraw7, nullptr), DD_OK);
    }
    void TearDown() override { faults::Reset(); }

    void OpenChain(int width, int height, int bpp) {
        ASSERT_EQ(dd->SetCooperativeLevel(window, DDSCL_FULLSCREEN | DDSCL_EXCLUSIVE), DD_OK);
        ASSERT_EQ(dd->SetDisplayMode(width, height, bpp, 0, 0), DD_OK);
        DDSURFACEDESC2 d = ChainDesc();
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
        DDSURFACEDESC2 d = Desc(DDSD_CAPS | DDSD_WIDTH | DDSD_HEIGHT, caps);
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

TEST_F(DDrawStandin, CreationDisplayModesAndTheFlipChainRefuseWhatTheyCannotGive) {
    IDirectDraw7* other = reinterpret_cast<IDirectDraw7*>(0x1);
    EXPECT_NE(DirectDrawCreateEx(nullptr, reinterpret_cast<LPVOID*>(&other), IID_IDirectDrawSurface7, nullptr), DD_OK);
    EXPECT_EQ(other, nullptr) << "only the DirectDraw7 interface is made";
    DDSURFACEDESC2 chain = ChainDesc();
    ASSERT_EQ(dd->SetCooperativeLevel(window, DDSCL_NORMAL), DD_OK);
    EXPECT_EQ(dd->CreateSurface(&chain, &primary, nullptr), DDERR_NOEXCLUSIVEMODE);
    EXPECT_EQ(primary, nullptr);
    EXPECT_EQ(dd->SetDisplayMode(640, 480, 16, 0, 0), DDERR_NOEXCLUSIVEMODE);
    EXPECT_EQ(dd->SetCooperativeLevel(nullptr, DDSCL_FULLSCREEN | DDSCL_EXCLUSIVE), DDERR_INVALIDPARAMS);
    EXPECT_EQ(dd->SetCooperativeLevel(window, DDSCL_EXCLUSIVE), DDERR_INVALIDPARAMS);
    ASSERT_EQ(dd->SetCooperativeLevel(window, DDSCL_FULLSCREEN | DDSCL_EXCLUSIVE), DD_OK);
    EXPECT_TRUE(standin::ExclusiveDisplaySet());
    for (DWORD bpp : {8u, 15u, 16u, 24u, 32u}) EXPECT_EQ(dd->SetDisplayMode(640, 480, bpp, 0, 0), DD_OK) << bpp;
    for (DWORD bpp : {0u, 4u, 12u, 64u}) EXPECT_EQ(dd->SetDisplayMode(640, 480, bpp, 0, 0), DDERR_INVALIDMODE) << bpp;
    EXPECT_EQ(dd->SetDisplayMode(static_cast<DWORD>(-25536), 480, 16, 0, 0), DDERR_INVALIDMODE);
}

TEST_F(DDrawStandin, LockDescribesEachDepthWithItsRealMasksAndPitch) {
    struct Case {
        int bpp;
        DWORD bitCount, flags, r, g, b;
    } cases[] = {
        {8, 8, DDPF_RGB | DDPF_PALETTEINDEXED8, 0, 0, 0},    {15, 16, DDPF_RGB, 0x7C00, 0x03E0, 0x001F},
        {16, 16, DDPF_RGB, 0xF800, 0x07E0, 0x001F},           {24, 24, DDPF_RGB, 0xFF0000, 0x00FF00, 0x0000FF},
        {32, 32, DDPF_RGB, 0xFF0000, 0x00FF00, 0x0000FF},
    };
    for (const Case& c : cases) {
        SetUp();
        OpenChain(30, 20, c.bpp);
        DDSURFACEDESC2 d = Desc();
        ASSERT_EQ(back->Lock(nullptr, &d, DDLOCK_WAIT, nullptr), DD_OK) << c.bpp;
        const DDPIXELFORMAT& pf = d.ddpfPixelFormat;
        EXPECT_EQ(std::vector<DWORD>({pf.dwSize, pf.dwRGBBitCount, pf.dwFlags, pf.dwRBitMask, pf.dwGBitMask, pf.dwBBitMask}),
                  std::vector<DWORD>({sizeof(DDPIXELFORMAT), c.bitCount, c.flags, c.r, c.g, c.b}))
            << c.bpp;
        EXPECT_GE(d.lPitch, static_cast<LONG>(30 * c.bitCount / 8));
        EXPECT_EQ(d.lPitch % 4, 0) << "rows are aligned, so callers must use the pitch";
        EXPECT_EQ(d.lpSurface, S(back).pixels.data());
        DDSURFACEDESC2 again = Desc();
        EXPECT_EQ(back->Lock(nullptr, &again, DDLOCK_WAIT, nullptr), DDERR_SURFACEBUSY);
        EXPECT_EQ(back->Unlock(nullptr), DD_OK);
        EXPECT_EQ(back->Unlock(nullptr), DDERR_NOTLOCKED);
        TearDown();
    }
}

TEST_F(DDrawStandin, FlipSwapsContentsAndADeviceContextBlocksFlipsLocksAndASecondContext) {
    OpenChain(32, 16, 16);
    ASSERT_EQ(Fill(back, 0xF800), DD_OK);
    ASSERT_EQ(Fill(primary, 0x001F), DD_OK);
    ASSERT_EQ(primary->Flip(nullptr, DDFLIP_WAIT), DD_OK);
    EXPECT_EQ(S(primary).ReadRaw(31, 15), 0xF800u);
    EXPECT_EQ(S(back).ReadRaw(0, 0), 0x001Fu);
    EXPECT_EQ(back->Flip(nullptr, DDFLIP_WAIT), DDERR_NOTFLIPPABLE);

    HDC dc = nullptr, second = nullptr;
    ASSERT_EQ(back->GetDC(&dc), DD_OK);
    EXPECT_EQ(primary->Flip(nullptr, DDFLIP_WAIT), DDERR_SURFACEBUSY) << "not while GDI holds the back buffer";
    EXPECT_EQ(back->GetDC(&second), DDERR_DCALREADYCREATED);
    DDSURFACEDESC2 d = Desc();
    EXPECT_EQ(back->Lock(nullptr, &d, DDLOCK_WAIT, nullptr), DDERR_SURFACEBUSY);
    EXPECT_EQ(back->ReleaseDC(dc), DD_OK);
    EXPECT_EQ(standin::DcOf(dc), nullptr);
}

TEST_F(DDrawStandin, LostSurfacesRefuseWorkUntilRestoredAndFocusIsBack) {
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
    EXPECT_EQ(dd->RestoreAllSurfaces(), DD_OK);
    EXPECT_EQ(sprite->IsLost(), DD_OK);
    EXPECT_EQ(S(back).ReadRaw(3, 3), 0u) << "the surfaces come back without their contents";
    EXPECT_EQ(primary->Flip(nullptr, DDFLIP_WAIT), DD_OK);
    sprite->Release();

    faults::SetForeground(false);
    EXPECT_EQ(back->IsLost(), DDERR_SURFACELOST) << "full screen loses its surfaces with the focus";
    EXPECT_NE(dd->RestoreAllSurfaces(), DD_OK) << "another program has the display";
    EXPECT_EQ(back->IsLost(), DDERR_SURFACELOST);
    faults::SetForeground(true);
    EXPECT_EQ(dd->RestoreAllSurfaces(), DD_OK);
    EXPECT_EQ(back->IsLost(), DD_OK);
}

TEST_F(DDrawStandin, ColourFillCoversTheSurfaceOrJustTheRectangle) {
    OpenChain(20, 10, 32);
    ASSERT_EQ(Fill(back, 0xFF00FF00), DD_OK);
    EXPECT_EQ(S(back).ReadRaw(19, 9), 0xFF00FF00u);
    RECT r{2, 3, 5, 4};
    ASSERT_EQ(Fill(back, 0x0000FF, &r), DD_OK);
    EXPECT_EQ(S(back).ReadRaw(2, 3), 0xFFu);
    EXPECT_EQ(S(back).ReadRaw(4, 3), 0xFFu);
    EXPECT_EQ(S(back).ReadRaw(5, 3), 0xFF00FF00u) << "right edge is exclusive";
    EXPECT_EQ(S(back).ReadRaw(2, 4), 0xFF00FF00u) << "bottom edge is exclusive";
    RECT outside{15, 5, 21, 6};
    EXPECT_EQ(Fill(back, 0, &outside), DDERR_INVALIDPARAMS);
}

TEST_F(DDrawStandin, SpriteSurfacesTakeTheDisplayFormatFillToThePixelSizeAndRefuseBadSizes) {
    OpenChain(64, 64, 16);
    IDirectDrawSurface7* s = nullptr;
    ASSERT_EQ(MakeSurface(DDSCAPS_SYSTEMMEMORY | DDSCAPS_OFFSCREENPLAIN, 3, 1, &s), DD_OK);
    EXPECT_EQ(S(s).layout.greenMask, 0x07E0u);
    ASSERT_EQ(Fill(s, 0xABCD1234), DD_OK);
    EXPECT_EQ(S(s).ReadRaw(2, 0), 0x1234u) << "a 16-bit fill keeps the low half";
    EXPECT_EQ(S(s).Row(0)[6], 0) << "the row padding after the last pixel is untouched";
    s->Release();
    for (DWORD size : {0u, static_cast<DWORD>(-5), 100000u}) {
        s = reinterpret_cast<IDirectDrawSurface7*>(0x1);
        EXPECT_EQ(MakeSurface(DDSCAPS_OFFSCREENPLAIN, 8, size, &s), DDERR_INVALIDPARAMS) << size;
        EXPECT_EQ(s, nullptr);
    }
    EXPECT_EQ(MakeSurface(DDSCAPS_OFFSCREENPLAIN, 8000, 8000, &s), DDERR_INVALIDPARAMS) << "absurd area";
    DDSURFACEDESC2 d = ChainDesc();
    EXPECT_EQ(dd->CreateSurface(&d, &s, nullptr), DDERR_PRIMARYSURFACEALREADYEXISTS);
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

TEST_F(GdiStandin, RectangleOutlinesWithThePenAndFillsWithTheBrush) {
    Draw(16);
    SelectObject(dc, CreatePen(PS_SOLID, 1, RGB(255, 0, 0)));
    SelectObject(dc, CreateSolidBrush(RGB(0, 0, 255)));
    ASSERT_TRUE(Rectangle(dc, 2, 2, 6, 5));
    const char* rows[] = {"......", ".RRRR.", ".RBBR.", ".RRRR.", "......"};  // x 1..6, y 1..5
    for (int y = 1; y <= 5; ++y)
        for (int x = 1; x <= 6; ++x) {
            char want = rows[y - 1][x - 1];
            EXPECT_EQ(Px(x, y), want == 'R' ? 0xF800u : want == 'B' ? 0x001Fu : 0u) << x << "," << y;
        }

    // On a display with red in the low byte the pen and brush follow its layout.
    SetUp();
    faults::SetDisplayMasks(32, 0xFF, 0xFF00, 0xFF0000);
    Draw(32);
    SelectObject(dc, CreatePen(PS_SOLID, 1, RGB(255, 0, 0)));
    SelectObject(dc, CreateSolidBrush(RGB(0, 128, 255)));
    Rectangle(dc, 0, 0, 4, 4);
    EXPECT_EQ(Px(0, 0), 0x0000FFu);
    EXPECT_EQ(Px(1, 1), 0xFF8000u);
}

TEST_F(GdiStandin, NullPenFillsOnePixelLessAndHollowBrushFillsNothing) {
    Draw(16);
    SelectObject(dc, GetStockObject(NULL_PEN));
    SelectObject(dc, GetStockObject(WHITE_BRUSH));
    Rectangle(dc, 1, 1, 5, 4);
    EXPECT_EQ(Px(3, 2), 0xFFFFu);
    EXPECT_EQ(Px(4, 2), 0u) << "a null pen fills one pixel less";
    EXPECT_EQ(Px(3, 3), 0u);
    SelectObject(dc, GetStockObject(WHITE_PEN));
    SelectObject(dc, GetStockObject(NULL_BRUSH));
    Rectangle(dc, 6, 0, 11, 5);
    EXPECT_EQ(Px(10, 4), 0xFFFFu);
    EXPECT_EQ(Px(8, 2), 0u) << "a hollow brush leaves the inside";
}

TEST_F(GdiStandin, SelectionAndDeletionGuardTheirObjects) {
    Draw(16);
    HGDIOBJ white = GetStockObject(WHITE_BRUSH), black = GetStockObject(BLACK_BRUSH);
    EXPECT_EQ(SelectObject(dc, black), white) << "a new context starts with the white brush";
    EXPECT_EQ(SelectObject(dc, reinterpret_cast<HGDIOBJ>(0x1234)), nullptr);
    EXPECT_EQ(standin::DcOf(dc)->brush, black) << "a failed selection changes nothing";
    EXPECT_EQ(SelectObject(reinterpret_cast<HDC>(0x99), black), nullptr);
    EXPECT_TRUE(DeleteObject(black));
    EXPECT_EQ(standin::ObjectOf(black), black) << "stock objects survive deletion";
    HBRUSH mine = CreateSolidBrush(RGB(1, 2, 3));
    SelectObject(dc, mine);
    EXPECT_FALSE(DeleteObject(mine)) << "still selected";
    SelectObject(dc, black);
    EXPECT_TRUE(DeleteObject(mine));
    EXPECT_EQ(SelectObject(dc, mine), nullptr) << "a deleted object cannot be selected";
}

// ---- windows and messages ----

class UserStandin : public DDrawStandin {};

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
}

TEST_F(UserStandin, WindowCallsSendTheirMessagesBeforeReturning) {
    ShowWindow(window, SW_SHOWMAXIMIZED);
    EXPECT_EQ(sent.back().second, static_cast<WPARAM>(WA_ACTIVE));
    EXPECT_EQ(Messages(), (std::vector<UINT>{WM_SHOWWINDOW, WM_SIZE, WM_ACTIVATE}));
    ShowWindow(window, SW_SHOWMAXIMIZED);
    MoveWindow(window, 0, 0, 640, 480, TRUE);
    EnableWindow(window, FALSE);
    EnableWindow(window, FALSE);
    EXPECT_EQ(Messages(), (std::vector<UINT>{WM_MOVE, WM_SIZE, WM_ENABLE})) << "a repeated show or disable: nothing";
    ShowWindow(window, SW_HIDE);
    EXPECT_EQ(sent.back().second, static_cast<WPARAM>(WA_INACTIVE));
    EXPECT_EQ(Messages(), (std::vector<UINT>{WM_SHOWWINDOW, WM_ACTIVATE}));
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
}

TEST_F(UserStandin, ClassesRegisterOnceAndWindowsNeedOne) {
    WNDCLASSEXA wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = RecordingProc;
    wc.lpszClassName = "StandinTest";
    EXPECT_EQ(RegisterClassExA(&wc), 0) << "already registered";
    EXPECT_EQ(CreateWindowExA(0, "Missing", "", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr), nullptr);
}

}  // namespace
