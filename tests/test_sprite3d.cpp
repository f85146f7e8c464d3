// 3D sprites through the stand-in Direct3D device on an open 640 x 480 x 16
// screen: the vertex records, the calls a draw makes, scenes and device
// failures, the table, stale textures, and what the demo's draw really
// shows in a captured frame.
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <utility>
#include <vector>

#include "demo_frames.h"
#include "screen/color.h"
#include "screen/present.h"
#include "screen_helpers.h"
#include "sprites/sprite_load.h"

namespace {

class Sprite3DTest : public OpenScreenTest {
protected:
    void SetUp() override {
        OpenScreenTest::SetUp();
        ASSERT_EQ(InitSprite3DSystem(), 1);
    }
    // Frees the sprites, and with them the file names loads keep.
    void TearDown() override {
        CloseScreen();
        RuntimeTest::TearDown();
    }

    // A size x size sprite in slot `number` as loading makes one, every pixel `raw`.
    IDirectDrawSurface7* PutSprite(int number, int size, DWORD raw, int16_t mode = kModeTexture) {
        if (!CreateSpriteSurface(&sprites.spriteTable[number], size, size, 16, mode)) return nullptr;
        standin::Surface* mem = standin::SurfaceOf(SpriteSurface(sprites.spriteTable[number]));
        for (int i = 0; i < size * size; ++i) mem->WriteRaw(i % size, i / size, raw);
        mem->Touch();
        return SpriteSurface(sprites.spriteTable[number]);
    }
    standin::Surface& Back() { return *standin::SurfaceOf(screen.backBuffer); }
};

// Corners top-left, top-right, bottom-left, bottom-right of a size x size
// square at (x, y), the whole texture mapped once, in `color`.
void ExpectCorners(const D3DTLVERTEX* v, float x, float y, float size, D3DCOLOR color) {
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(v[i].sx, x + (i & 1) * size) << i;
        EXPECT_EQ(v[i].sy, y + (i >> 1) * size) << i;
        EXPECT_EQ(v[i].tu, static_cast<float>(i & 1)) << i;
        EXPECT_EQ(v[i].tv, static_cast<float>(i >> 1)) << i;
        EXPECT_TRUE(v[i].sz == 0 && v[i].rhw == 1 && v[i].specular == 0 && v[i].color == color) << i;
    }
}

}  // namespace

TEST_F(Sprite3DTest, MakeResizeAndDrawPlaceTheCornersWithTheAlphaInTheColour) {
    IDirectDrawSurface7* texture = PutSprite(3, 16, 0xFFFF);
    ASSERT_EQ(MakeSprite3D(1, 3), 1);
    const Sprite3DRecord& r = sprites3D.sprite3DTable[1];
    EXPECT_EQ(r.texture, texture);
    ExpectCorners(r.vertices, 0, 0, 17, 0xFFFFFFFF);  // one larger than the 16 x 16 bitmap
    ASSERT_EQ(Begin3D(), 1);
    ResizeSprite3D(1, 22, 22);
    EXPECT_EQ(DrawSprite3D(1, 100, 50, 255), D3D_OK);
    ASSERT_EQ(standin::LastDrawnVertices().size(), 4u);
    ExpectCorners(standin::LastDrawnVertices().data(), 100, 50, 22, 0xFFFFFFFF);
    ExpectCorners(r.vertices, 0, 0, 22, 0xFFFFFFFF);  // the record is not moved by a draw
    DrawSprite3D(1, 0, 0, 128);
    ExpectCorners(standin::LastDrawnVertices().data(), 0, 0, 22, 0x80FFFFFF);
    DrawSprite3D(1, 200, 200, 256);
    ExpectCorners(standin::LastDrawnVertices().data(), 200, 200, 22, 0x00FFFFFF);
    End3D();
    // White, drawn with Begin3D's classic blending: alpha 255 covers exactly
    // (100, 50)..(121, 71); alpha 256 (0) leaves no trace.
    const int points[][3] = {{100, 50, 0xFFFF}, {121, 71, 0xFFFF}, {122, 71, 0}, {121, 72, 0}, {99, 50, 0}, {200, 200, 0}};
    for (const auto& p : points) EXPECT_EQ(Back().ReadRaw(p[0], p[1]), static_cast<DWORD>(p[2])) << p[0] << "," << p[1];
}

TEST_F(Sprite3DTest, OnlyTextureSpritesMakeA3DSpriteAndEmptyOnesDrawNothing) {
    PutSprite(4, 8, 0xFFFF, kModeOffscreen);
    PutSprite(5, 8, 0xFFFF);
    ASSERT_EQ(MakeSprite3D(1, 5), 1);
    EXPECT_EQ(MakeSprite3D(1, 4), 0);  // mode 0: refused, and the old contents are gone
    EXPECT_EQ(sprites3D.sprite3DTable[1].texture, nullptr);
    // An empty slot, sprite numbers out of range, a negative 3D sprite number.
    const int refused[][2] = {{1, 6}, {1, -1}, {1, 100000}, {-1, 5}};
    for (const auto& r : refused) EXPECT_EQ(MakeSprite3D(r[0], r[1]), 0) << r[0] << " from " << r[1];
    ASSERT_EQ(Begin3D(), 1);
    EXPECT_NE(DrawSprite3D(1, 10, 10, 255), D3D_OK);
    EXPECT_NE(DrawSprite3D(7000, 10, 10, 255), D3D_OK);
    End3D();
    EXPECT_EQ(Back().ReadRaw(10, 10), 0u);
}

TEST_F(Sprite3DTest, TableGrowsToTheNumberPlusFifty) {
    PutSprite(1, 8, 0xFFFF);
    ASSERT_EQ(MakeSprite3D(49, 1), 1);
    EXPECT_EQ(sprites3D.sprite3DCapacity, 50);
    ASSERT_EQ(MakeSprite3D(50, 1), 1);
    EXPECT_EQ(sprites3D.sprite3DCapacity, 100);
    EXPECT_EQ(HeapSize(runtime.heap, 0, sprites3D.sprite3DTable), 101 * sizeof(Sprite3DRecord));
    EXPECT_NE(sprites3D.sprite3DTable[49].texture, nullptr);  // kept through the move
    EXPECT_EQ(sprites3D.sprite3DTable[100].texture, nullptr);
}

TEST_F(Sprite3DTest, BlendFactorsNeedADeviceAndBegin3DResetsThem) {
    // Blue at alpha 128 over red: SRCALPHA / INVSRCALPHA (5, 6) mixes,
    // ONE / DESTALPHA (2, 7) adds.
    PutSprite(1, 4, 0x001F);
    ASSERT_EQ(MakeSprite3D(1, 1), 1);
    faults::StartRecording();
    SetSprite3DBlend(2, 7);  // no device yet: nothing happens
    EXPECT_TRUE(faults::RecordedMatching({"IDirect3DDevice7"}).empty());
    EXPECT_EQ(sprites3D.device, nullptr);
    ClearScreen(255, 0, 0);
    ASSERT_EQ(Begin3D(), 1);
    DrawSprite3D(1, 10, 0, 128);
    SetSprite3DBlend(2, 7);
    DrawSprite3D(1, 0, 0, 128);
    End3D();
    SetSprite3DBlend(2, 7);  // between scenes: Begin3D sets 5 / 6 again
    ASSERT_EQ(Begin3D(), 1);
    DrawSprite3D(1, 20, 0, 128);
    End3D();
    EXPECT_EQ(Back().ReadRaw(0, 0), 0xF81Fu);  // red + blue
    // 255 * 127 / 255 red, 255 * 128 / 255 blue
    for (int x : {10, 20}) EXPECT_EQ(Back().ReadRaw(x, 0), (0x7Fu >> 3) << 11 | 0x80u >> 3) << x;
}

// The device records draws and rasterises them later: whatever reaches the
// pixels first (a lock, a device context, a fill, the end of the scene) must
// find them drawn, and the program's own reads and writes keep their order.
TEST_F(Sprite3DTest, RecordedDrawsAreDoneBeforeAnythingElseReachesThePixels) {
    IDirectDrawSurface7* texture = PutSprite(1, 4, 0x07E0);  // green; the quad covers 8..12
    ASSERT_EQ(MakeSprite3D(1, 1), 1);
    // A pixel of a locked surface; the surface stays locked.
    auto locked = [](IDirectDrawSurface7* s, int x, int y) -> uint16_t* {
        DDSURFACEDESC2 d{};
        d.dwSize = sizeof d;
        if (s->Lock(nullptr, &d, DDLOCK_WAIT, nullptr) != DD_OK) return nullptr;
        return reinterpret_cast<uint16_t*>(static_cast<BYTE*>(d.lpSurface) + y * d.lPitch) + x;
    };
    const std::pair<const char*, std::function<DWORD()>> ways[] = {
        {"Lock", [&] {
             DWORD v = *locked(screen.backBuffer, 10, 10);
             screen.backBuffer->Unlock(nullptr);
             return v;
         }},
        {"GetDC", [&] {
             HDC dc = nullptr;
             screen.backBuffer->GetDC(&dc);
             COLORREF c = GetPixel(dc, 10, 10);
             screen.backBuffer->ReleaseDC(dc);
             return c == standin::PixelToColor(Back().layout, 0x07E0) ? 0x07E0u : c;
         }},
        {"Blt elsewhere", [&] {
             DDBLTFX fx{};
             fx.dwSize = sizeof fx;
             RECT r{100, 100, 110, 110};
             screen.backBuffer->Blt(&r, nullptr, nullptr, DDBLT_COLORFILL | DDBLT_WAIT, &fx);
             return Back().ReadRaw(10, 10);
         }},
        {"EndScene", [&] {
             End3D();
             return Back().ReadRaw(10, 10);
         }},
    };
    for (const auto& way : ways) {
        ClearScreen(0, 0, 0);
        ASSERT_EQ(Begin3D(), 1);
        SetSprite3DBlend(2, 7);
        DrawSprite3D(1, 8, 8, 255);
        EXPECT_EQ(way.second(), 0x07E0u) << way.first;
        End3D();
    }
    // A texture turned blue between two draws: each shows what it was drawn with.
    ClearScreen(0, 0, 0);
    ASSERT_EQ(Begin3D(), 1);
    SetSprite3DBlend(2, 7);
    DrawSprite3D(1, 8, 8, 255);
    uint16_t* texel = locked(texture, 0, 0);
    ASSERT_NE(texel, nullptr);
    const LONG pitch = standin::SurfaceOf(texture)->pitch / 2;
    for (int i = 0; i < 16; ++i) texel[i / 4 * pitch + i % 4] = 0x001F;
    texture->Unlock(nullptr);
    DrawSprite3D(1, 30, 8, 255);
    // While the program holds the target locked a draw is done at once,
    // between its own writes.
    uint16_t* p = locked(screen.backBuffer, 50, 10);
    ASSERT_NE(p, nullptr);
    *p = 0xF800;
    DrawSprite3D(1, 48, 8, 255);
    EXPECT_EQ(*p, 0xF81Fu);  // red and the blue texture
    screen.backBuffer->Unlock(nullptr);
    End3D();
    EXPECT_EQ(Back().ReadRaw(10, 10), 0x07E0u);
    EXPECT_EQ(Back().ReadRaw(32, 10), 0x001Fu);
}

TEST_F(Sprite3DTest, ScenesOpenAndCloseInPairs) {
    faults::StartRecording();
    End3D();  // no scene: no device call
    ASSERT_EQ(Begin3D(), 1);
    EXPECT_EQ(Begin3D(), 0);  // already in a scene
    End3D();
    End3D();
    EXPECT_EQ(CountRecorded("IDirect3DDevice7::EndScene"), 1);
    ASSERT_EQ(Begin3D(), 1);  // the scene was really closed
    End3D();
    // A lost display refuses scenes; the draws still go to the device and fail.
    faults::LoseDisplay();
    EXPECT_EQ(Begin3D(), 0);
    EXPECT_EQ(sprites3D.sceneOpen, 0);
    PutSprite(1, 4, 0xFFFF);
    MakeSprite3D(1, 1);
    EXPECT_NE(DrawSprite3D(1, 0, 0, 255), D3D_OK);
}

TEST_F(Sprite3DTest, FailedDeviceSetUpIsTriedAgainOnTheNextBegin3D) {
    // CreateDevice fails once: no scene, no device.
    const std::string create = "IDirect3D7::CreateDevice", viewport = "IDirect3DDevice7::GetViewport",
                      release = "IDirect3DDevice7::Release";
    faults::Fail(create, 1);
    faults::Fail(viewport, 1);
    EXPECT_EQ(Begin3D(), 0);
    EXPECT_EQ(sprites3D.device, nullptr);
    EXPECT_EQ(sprites3D.deviceNeeded, 1);
    // Then GetViewport fails once: the scene still begins on the new device,
    // which is released before the next Begin3D makes another.
    faults::StartRecording();
    ASSERT_EQ(Begin3D(), 1);
    EXPECT_EQ(sprites3D.deviceNeeded, 1);
    End3D();
    ASSERT_EQ(Begin3D(), 1);
    EXPECT_EQ(sprites3D.deviceNeeded, 0);
    EXPECT_TRUE(sprites3D.viewport.dwWidth == 640 && sprites3D.viewport.dwHeight == 480);
    End3D();
    const std::vector<std::string> calls = faults::RecordedMatching({create, viewport, release});
    EXPECT_EQ(calls, (std::vector<std::string>{create, viewport, release, create, viewport}));
    // Without a DirectDraw object there is no Direct3D and so no device.
    sprites3D = Sprite3DState{};
    IDirectDraw7* saved = std::exchange(screen.directDraw, nullptr);
    EXPECT_EQ(InitSprite3DSystem(), 0);
    EXPECT_EQ(Begin3D(), 0);
    EXPECT_NE(DrawSprite3D(1, 0, 0, 255), D3D_OK);
    screen.directDraw = saved;
}

TEST_F(Sprite3DTest, FreedOrReloadedSpriteIsNeverDrawnThroughA3DSprite) {
    ASSERT_NE(LoadSpriteFromFile(1, kParticleBitmap, kModeTexture), nullptr);
    ASSERT_EQ(MakeSprite3D(1, 1), 1);
    ASSERT_EQ(MakeSprite3D(2, 1), 1);
    FreeSprite(1);
    EXPECT_EQ(sprites3D.sprite3DTable[1].texture, nullptr);
    EXPECT_EQ(sprites3D.sprite3DTable[2].texture, nullptr);
    ASSERT_NE(LoadSpriteFromFile(1, kParticleBitmap, kModeTexture), nullptr);
    ASSERT_EQ(MakeSprite3D(1, 1), 1);
    ASSERT_NE(LoadSpriteFromFile(1, kParticleBitmap, kModeTexture), nullptr);  // reload replaces the surface
    EXPECT_EQ(sprites3D.sprite3DTable[1].texture, nullptr);
    ASSERT_EQ(Begin3D(), 1);
    EXPECT_NE(DrawSprite3D(1, 0, 0, 255), D3D_OK);
    EXPECT_NE(DrawSprite3D(2, 0, 0, 255), D3D_OK);
    End3D();
    const std::vector<BYTE>& pixels = Back().pixels;
    EXPECT_EQ(std::count(pixels.begin(), pixels.end(), 0), static_cast<long>(pixels.size()));
}

// The demo's own draw, captured as the player sees it: glows with their
// top-left corners exactly at the positions, overlaps brighter, colour-keyed
// texels leaving the background as it was, sprites at the edges clipped.
TEST_F(Sprite3DTest, MustShowTheDemoGlowsInACapturedFrame) {
    char dir[] = "/tmp/sprite3d-capture-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    setenv("RINGSCROLLER_CAPTURE", dir, 1);
    ASSERT_NE(LoadSpriteFromFile(1, kParticleBitmap, kModeTexture), nullptr);
    ASSERT_EQ(MakeSprite3D(1, 1), 1);
    const standin::Surface& texture = *standin::SurfaceOf(SpriteSurface(sprites.spriteTable[1]));
    // A lone glow, three clipped by the edges, and two overlapping.
    const int singles[4][2] = {{300, 200}, {-11, 240}, {630, 470}, {620, -5}}, a[2] = {100, 100}, b[2] = {110, 106};
    ClearScreen(0, 0, 96);  // a background the key must leave alone
    const standin::PixelLayout& layout = Back().layout;
    BYTE back[3];
    standin::PixelToRgb8(layout, Back().ReadRaw(0, 0), back);
    ASSERT_EQ(Begin3D(), 1);
    ResizeSprite3D(1, 22, 22);
    SetSprite3DBlend(2, 7);
    for (const int* p : {singles[0], singles[1], singles[2], singles[3], a, b}) DrawSprite3D(1, p[0], p[1], 255);
    End3D();
    screen.active = 1;
    FlipBuffers();
    unsetenv("RINGSCROLLER_CAPTURE");
    const std::vector<std::filesystem::directory_entry> frames(std::filesystem::directory_iterator{dir}, {});
    ASSERT_EQ(frames.size(), 1u);
    demo_frames::Frame frame;
    ASSERT_TRUE(demo_frames::ReadPng(frames[0].path().string(), frame));
    ASSERT_TRUE(frame.width == 640 && frame.height == 480);
    std::filesystem::copy_file(frames[0].path(), RINGSCROLLER_BINARY_DIR "/sprite3d-demo-glows.png",
                               std::filesystem::copy_options::overwrite_existing);
    std::filesystem::remove_all(dir);

    auto shown = [&](int x, int y) {
        const unsigned char* p = &frame.rgb[(static_cast<size_t>(y) * 640 + x) * 3];
        return static_cast<DWORD>(p[0] << 16 | p[1] << 8 | p[2]);
    };
    // What a texel shows: keyed (black) texels the background, the others
    // added to it.
    auto over = [&](DWORD texel) {
        BYTE t[3] = {0, 0, 0}, c[3];
        if (texel != 0) standin::PixelToRgb8(layout, texel, t);
        COLORREF sum = std::min(255, t[0] + back[0]) | std::min(255, t[1] + back[1]) << 8 | std::min(255, t[2] + back[2]) << 16;
        standin::PixelToRgb8(layout, standin::ColorToPixel(layout, sum), c);
        return static_cast<DWORD>(c[0] << 16 | c[1] << 8 | c[2]);
    };
    // Pixel (i, j) of a glow, the texture stretched to 22 x 22.
    auto expected = [&](int i, int j) { return over(texture.ReadRaw(i * texture.width / 22, j * texture.height / 22)); };
    const DWORD background = over(0);
    // Each single glow and a 2-pixel frame round it, as far as it is on screen.
    int keyed = 0, lit = 0;
    for (const auto& p : singles)
        for (int j = -2; j < 24; ++j)
            for (int i = -2; i < 24; ++i) {
                int x = p[0] + i, y = p[1] + j;
                if (x < 0 || y < 0 || x >= 640 || y >= 480) continue;
                bool inside = i >= 0 && i < 22 && j >= 0 && j < 22;
                DWORD want = inside ? expected(i, j) : background;
                ASSERT_EQ(shown(x, y), want) << "glow at " << p[0] << "," << p[1] << ": " << i << "," << j;
                if (inside) (want == background ? keyed : lit)++;
            }
    EXPECT_GT(keyed, 0);  // the glow's black surround is keyed out...
    EXPECT_GT(lit, 100);  // ...and its body drawn
    // Where both overlapping glows are lit the picture is brighter than either.
    int brighter = 0;
    for (int j = 0; j < 16; ++j)
        for (int i = 0; i < 12; ++i) {
            DWORD fromA = expected(b[0] - a[0] + i, b[1] - a[1] + j), fromB = expected(i, j), s = shown(b[0] + i, b[1] + j);
            for (int shift : {0, 8, 16})
                ASSERT_GE((s >> shift) & 255, std::max((fromA >> shift) & 255, (fromB >> shift) & 255)) << i << "," << j;
            brighter += s != fromA && s != fromB;
        }
    EXPECT_GT(brighter, 20);
}
