// 3D sprites through the stand-in Direct3D device on an open 640 x 480 x 16
// screen: the vertex records, the calls a draw makes, scenes and device
// failures, the table, stale textures, and what the demo's draw really
// shows in a captured frame.
#include <png.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "demo_frames.h"
#include "fixture.h"
#include "platform/standin.h"
#include "platform/surface.h"
#include "screen/color.h"
#include "screen/present.h"
#include "sprites/sprite_load.h"

namespace {

const char* const kGlimrotan = kParticleBitmap;

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

    // A texture sprite of the given size in sprite slot `number`, every
    // pixel `raw`, with the sprites' black colour key.
    IDirectDrawSurface7* PutTextureSprite(int number, int width, int height, DWORD raw, int16_t mode = kModeTexture) {
        DDSURFACEDESC2 d;
        std::memset(&d, 0, sizeof d);
        d.dwSize = sizeof d;
        d.dwFlags = DDSD_CAPS | DDSD_WIDTH | DDSD_HEIGHT;
        d.ddsCaps.dwCaps = mode == kModeTexture ? DDSCAPS_TEXTURE : DDSCAPS_OFFSCREENPLAIN;
        d.dwWidth = width;
        d.dwHeight = height;
        IDirectDrawSurface7* s = nullptr;
        if (screen.directDraw->CreateSurface(&d, &s, nullptr) != DD_OK) return nullptr;
        standin::Surface* mem = standin::SurfaceOf(s);
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) mem->WriteRaw(x, y, raw);
        mem->Touch();
        DDCOLORKEY key{0, 0};
        s->SetColorKey(DDCKEY_SRCBLT, &key);
        SpriteRecord& r = sprites.spriteTable[number];
        r.surface = s;
        r.width = static_cast<int16_t>(width);
        r.height = static_cast<int16_t>(height);
        r.bitDepth = 16;
        r.mode = mode;
        r.fileName = nullptr;
        return s;
    }

    standin::Surface& BackBuffer() { return *standin::SurfaceOf(screen.backBuffer); }
};

int Count(const std::vector<std::string>& calls, const std::string& name) {
    int n = 0;
    for (const std::string& c : calls) n += c == name;
    return n;
}

}  // namespace

TEST_F(Sprite3DTest, MakeSprite3DGivesARectangleOneLargerThanTheBitmap) {
    IDirectDrawSurface7* texture = PutTextureSprite(3, 16, 16, 0xFFFF);
    ASSERT_NE(texture, nullptr);
    ASSERT_EQ(MakeSprite3D(2, 3), 1);
    const Sprite3DRecord& r = sprites3D.sprite3DTable[2];
    EXPECT_EQ(r.texture, texture);
    const float xs[4] = {0, 17, 0, 17}, ys[4] = {0, 0, 17, 17}, us[4] = {0, 1, 0, 1}, vs[4] = {0, 0, 1, 1};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(r.vertices[i].sx, xs[i]) << i;
        EXPECT_EQ(r.vertices[i].sy, ys[i]) << i;
        EXPECT_EQ(r.vertices[i].sz, 0.0f);
        EXPECT_EQ(r.vertices[i].rhw, 1.0f);
        EXPECT_EQ(r.vertices[i].color, 0xFFFFFFFFu);
        EXPECT_EQ(r.vertices[i].specular, 0u);
        EXPECT_EQ(r.vertices[i].tu, us[i]);
        EXPECT_EQ(r.vertices[i].tv, vs[i]);
    }
}

TEST_F(Sprite3DTest, DrawPutsTheResizedCornersAtThePositionWithTheAlphaInTheColour) {
    PutTextureSprite(1, 16, 16, 0xFFFF);
    ASSERT_EQ(MakeSprite3D(1, 1), 1);
    ASSERT_EQ(Begin3D(), 1);
    ResizeSprite3D(1, 22, 22);
    EXPECT_EQ(DrawSprite3D(1, 100, 50, 255), D3D_OK);
    const std::vector<D3DTLVERTEX>& v = standin::LastDrawnVertices();
    ASSERT_EQ(v.size(), 4u);
    const float xs[4] = {100, 122, 100, 122}, ys[4] = {50, 50, 72, 72};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(v[i].sx, xs[i]) << i;
        EXPECT_EQ(v[i].sy, ys[i]) << i;
        EXPECT_EQ(v[i].color, 0xFFFFFFFFu) << i;
    }
    // The record is not moved by a draw.
    EXPECT_EQ(sprites3D.sprite3DTable[1].vertices[3].sx, 22.0f);
    DrawSprite3D(1, 0, 0, 128);
    for (const D3DTLVERTEX& c : standin::LastDrawnVertices()) EXPECT_EQ(c.color, 0x80FFFFFFu);
    DrawSprite3D(1, 0, 0, 256);
    for (const D3DTLVERTEX& c : standin::LastDrawnVertices()) EXPECT_EQ(c.color, 0x00FFFFFFu);
    End3D();
    // White texture, 22 x 22, drawn with Begin3D's classic blending: alpha
    // 255 covers exactly the rectangle, alpha 256 (0) leaves no trace.
    standin::Surface& back = BackBuffer();
    EXPECT_EQ(back.ReadRaw(100, 50), 0xFFFFu);
    EXPECT_EQ(back.ReadRaw(121, 71), 0xFFFFu);
    EXPECT_EQ(back.ReadRaw(122, 71), 0u);
    EXPECT_EQ(back.ReadRaw(121, 72), 0u);
    EXPECT_EQ(back.ReadRaw(99, 50), 0u);
}

TEST_F(Sprite3DTest, OnlyTextureSpritesMakeA3DSprite) {
    PutTextureSprite(4, 8, 8, 0xFFFF, kModeOffscreen);
    PutTextureSprite(5, 8, 8, 0xFFFF);
    ASSERT_EQ(MakeSprite3D(1, 5), 1);
    EXPECT_EQ(MakeSprite3D(1, 4), 0);  // mode 0: refused, and the old contents are gone
    EXPECT_EQ(sprites3D.sprite3DTable[1].texture, nullptr);
    EXPECT_EQ(MakeSprite3D(1, 6), 0);  // empty slot
    EXPECT_EQ(MakeSprite3D(1, -1), 0);
    EXPECT_EQ(MakeSprite3D(1, 100000), 0);
    EXPECT_EQ(MakeSprite3D(-1, 5), 0);
    // An empty 3D sprite draws nothing.
    ASSERT_EQ(Begin3D(), 1);
    EXPECT_NE(DrawSprite3D(1, 10, 10, 255), D3D_OK);
    EXPECT_NE(DrawSprite3D(7000, 10, 10, 255), D3D_OK);
    End3D();
    standin::Surface& back = BackBuffer();
    EXPECT_EQ(back.ReadRaw(10, 10), 0u);
}

TEST_F(Sprite3DTest, TableGrowsToTheNumberPlusFifty) {
    PutTextureSprite(1, 8, 8, 0xFFFF);
    ASSERT_EQ(MakeSprite3D(49, 1), 1);
    EXPECT_EQ(sprites3D.sprite3DCapacity, 50);
    ASSERT_EQ(MakeSprite3D(50, 1), 1);
    EXPECT_EQ(sprites3D.sprite3DCapacity, 100);
    EXPECT_EQ(HeapSize(runtime.heap, 0, sprites3D.sprite3DTable), 101 * sizeof(Sprite3DRecord));
    EXPECT_NE(sprites3D.sprite3DTable[49].texture, nullptr);  // kept through the move
    EXPECT_EQ(sprites3D.sprite3DTable[100].texture, nullptr);
}

TEST_F(Sprite3DTest, BlendFactorsNeedADeviceAndBegin3DResetsThem) {
    // Blue texture at alpha 128 over a red background: classic blending mixes,
    // ONE / DESTALPHA adds.
    PutTextureSprite(1, 4, 4, 0x001F);
    ASSERT_EQ(MakeSprite3D(1, 1), 1);
    faults::StartRecording();
    SetSprite3DBlend(2, 7);  // no device yet: nothing happens
    EXPECT_TRUE(faults::Recorded().empty() || faults::RecordedMatching({"IDirect3DDevice7"}).empty());
    EXPECT_EQ(sprites3D.device, nullptr);
    ClearScreen(255, 0, 0);
    ASSERT_EQ(Begin3D(), 1);
    SetSprite3DBlend(2, 7);
    DrawSprite3D(1, 0, 0, 128);
    End3D();
    EXPECT_EQ(BackBuffer().ReadRaw(0, 0), 0xF81Fu);  // red + blue
    ASSERT_EQ(Begin3D(), 1);  // back to SRCALPHA / INVSRCALPHA
    DrawSprite3D(1, 10, 0, 128);
    End3D();
    DWORD mixed = BackBuffer().ReadRaw(10, 0);
    EXPECT_EQ(mixed >> 11, 0x7Fu >> 3);  // 255 * 127 / 255 = 127
    EXPECT_EQ(mixed & 31, 0x80u >> 3);   // 255 * 128 / 255 = 128
}

TEST_F(Sprite3DTest, ScenesOpenAndCloseInPairs) {
    faults::StartRecording();
    End3D();  // no scene: no device call
    EXPECT_EQ(Count(faults::Recorded(), "IDirect3DDevice7::EndScene"), 0);
    ASSERT_EQ(Begin3D(), 1);
    EXPECT_EQ(sprites3D.sceneOpen, 1);
    EXPECT_EQ(Begin3D(), 0);  // already in a scene
    EXPECT_EQ(sprites3D.sceneOpen, 1);
    End3D();
    EXPECT_EQ(sprites3D.sceneOpen, 0);
    End3D();
    EXPECT_EQ(Count(faults::Recorded(), "IDirect3DDevice7::EndScene"), 1);
    ASSERT_EQ(Begin3D(), 1);  // the scene left open above was really closed
    End3D();
    // A lost display refuses scenes; the draws still go to the device and fail.
    faults::LoseDisplay();
    EXPECT_EQ(Begin3D(), 0);
    EXPECT_EQ(sprites3D.sceneOpen, 0);
    PutTextureSprite(1, 4, 4, 0xFFFF);
    MakeSprite3D(1, 1);
    EXPECT_NE(DrawSprite3D(1, 0, 0, 255), D3D_OK);
}

TEST_F(Sprite3DTest, FailedCreateDeviceIsTriedAgainOnTheNextBegin3D) {
    faults::Fail("IDirect3D7::CreateDevice", 1);
    EXPECT_EQ(Begin3D(), 0);
    EXPECT_EQ(sprites3D.device, nullptr);
    EXPECT_EQ(sprites3D.deviceNeeded, 1);
    ASSERT_EQ(Begin3D(), 1);
    EXPECT_NE(sprites3D.device, nullptr);
    EXPECT_EQ(sprites3D.deviceNeeded, 0);
    EXPECT_EQ(sprites3D.viewport.dwWidth, 640u);
    EXPECT_EQ(sprites3D.viewport.dwHeight, 480u);
    End3D();
}

TEST_F(Sprite3DTest, DeviceWhoseViewportFailedIsReleasedBeforeTheNextTry) {
    faults::Fail("IDirect3DDevice7::GetViewport", 1);
    faults::StartRecording();
    ASSERT_EQ(Begin3D(), 1);  // the scene still begins on the new device
    EXPECT_EQ(sprites3D.deviceNeeded, 1);
    IDirect3DDevice7* first = sprites3D.device;
    End3D();
    ASSERT_EQ(Begin3D(), 1);
    EXPECT_EQ(sprites3D.deviceNeeded, 0);
    EXPECT_NE(sprites3D.device, nullptr);
    End3D();
    std::vector<std::string> calls =
        faults::RecordedMatching({"IDirect3D7::CreateDevice", "IDirect3DDevice7::GetViewport", "IDirect3DDevice7::Release"});
    const std::vector<std::string> expected = {"IDirect3D7::CreateDevice", "IDirect3DDevice7::GetViewport",
                                               "IDirect3DDevice7::Release", "IDirect3D7::CreateDevice",
                                               "IDirect3DDevice7::GetViewport"};
    EXPECT_EQ(calls, expected);
    (void)first;
    // Without a DirectDraw object there is no Direct3D and so no device.
    sprites3D = Sprite3DState{};
    IDirectDraw7* saved = screen.directDraw;
    screen.directDraw = nullptr;
    EXPECT_EQ(InitSprite3DSystem(), 0);
    EXPECT_EQ(Begin3D(), 0);
    EXPECT_NE(DrawSprite3D(1, 0, 0, 255), D3D_OK);
    screen.directDraw = saved;
}

TEST_F(Sprite3DTest, FreedOrReloadedSpriteIsNeverDrawnThroughA3DSprite) {
    ASSERT_NE(LoadSpriteFromFile(1, kGlimrotan, kModeTexture), nullptr);
    ASSERT_EQ(MakeSprite3D(1, 1), 1);
    ASSERT_EQ(MakeSprite3D(2, 1), 1);
    FreeSprite(1);
    EXPECT_EQ(sprites3D.sprite3DTable[1].texture, nullptr);
    EXPECT_EQ(sprites3D.sprite3DTable[2].texture, nullptr);
    ASSERT_EQ(Begin3D(), 1);
    EXPECT_NE(DrawSprite3D(1, 0, 0, 255), D3D_OK);
    End3D();
    ASSERT_NE(LoadSpriteFromFile(1, kGlimrotan, kModeTexture), nullptr);
    ASSERT_EQ(MakeSprite3D(1, 1), 1);
    ASSERT_NE(LoadSpriteFromFile(1, kGlimrotan, kModeTexture), nullptr);  // reload replaces the surface
    EXPECT_EQ(sprites3D.sprite3DTable[1].texture, nullptr);
    for (int y = 0; y < 480; ++y)
        for (int x = 0; x < 640; ++x) ASSERT_EQ(BackBuffer().ReadRaw(x, y), 0u);
}

// The demo's own draw, captured as the player sees it: glows with their
// top-left corners exactly at the positions, overlaps brighter, colour-keyed
// texels leaving the background as it was, sprites at the edges clipped.
TEST_F(Sprite3DTest, MustShowTheDemoGlowsInACapturedFrame) {
    char pattern[] = "/tmp/sprite3d-capture-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    std::string dir = pattern;
    setenv("RINGSCROLLER_CAPTURE", dir.c_str(), 1);
    ASSERT_NE(LoadSpriteFromFile(1, kGlimrotan, kModeTexture), nullptr);
    ASSERT_EQ(MakeSprite3D(1, 1), 1);
    const standin::Surface& texture = *standin::SurfaceOf(SpriteSurface(sprites.spriteTable[1]));
    ASSERT_EQ(texture.width, 32);

    struct Pos {
        int x, y;
    };
    const Pos lone = {300, 200}, overlapA = {100, 100}, overlapB = {110, 106};
    const Pos edges[] = {{-11, 240}, {630, 470}, {620, -5}};
    ClearScreen(0, 0, 96);  // a background the key must leave alone
    const DWORD background = BackBuffer().ReadRaw(0, 0);
    ASSERT_EQ(Begin3D(), 1);
    ResizeSprite3D(1, 22, 22);
    SetSprite3DBlend(2, 7);
    for (Pos p : {lone, overlapA, overlapB, edges[0], edges[1], edges[2]}) DrawSprite3D(1, p.x, p.y, 255);
    End3D();
    screen.active = 1;
    FlipBuffers();
    unsetenv("RINGSCROLLER_CAPTURE");

    std::vector<std::filesystem::path> frames;
    for (const auto& e : std::filesystem::directory_iterator(dir)) frames.push_back(e.path());
    ASSERT_EQ(frames.size(), 1u);
    demo_frames::Frame frame;
    ASSERT_TRUE(demo_frames::ReadPng(frames[0].string(), frame));
    ASSERT_EQ(frame.width, 640);
    ASSERT_EQ(frame.height, 480);
    std::filesystem::copy_file(frames[0], RINGSCROLLER_BINARY_DIR "/sprite3d-demo-glows.png",
                               std::filesystem::copy_options::overwrite_existing);
    std::filesystem::remove_all(dir);

    const standin::PixelLayout& layout = BackBuffer().layout;
    auto shown = [&](int x, int y) {
        const unsigned char* p = &frame.rgb[(static_cast<size_t>(y) * 640 + x) * 3];
        return static_cast<DWORD>(p[0] << 16 | p[1] << 8 | p[2]);
    };
    auto rgbOf = [&](DWORD raw) {
        BYTE c[3];
        standin::PixelToRgb8(layout, raw, c);
        return static_cast<DWORD>(c[0] << 16 | c[1] << 8 | c[2]);
    };
    // The glow at (x, y) as the texture stretched to 22 x 22 says it must be:
    // keyed (black) texels show the background, the others add to it.
    auto expected = [&](Pos p, int i, int j) {
        DWORD texel = texture.ReadRaw(i * 32 / 22, j * 32 / 22);
        if (texel == 0) return rgbOf(background);
        BYTE t[3], b[3];
        standin::PixelToRgb8(layout, texel, t);
        standin::PixelToRgb8(layout, background, b);
        COLORREF sum = std::min(255, t[0] + b[0]) | std::min(255, t[1] + b[1]) << 8 | std::min(255, t[2] + b[2]) << 16;
        return rgbOf(standin::ColorToPixel(layout, sum));
    };
    int keyed = 0, lit = 0;
    for (int j = -2; j < 24; ++j)
        for (int i = -2; i < 24; ++i) {
            bool inside = i >= 0 && i < 22 && j >= 0 && j < 22;
            DWORD want = inside ? expected(lone, i, j) : rgbOf(background);
            ASSERT_EQ(shown(lone.x + i, lone.y + j), want) << i << "," << j;
            if (inside) (want == rgbOf(background) ? keyed : lit)++;
        }
    EXPECT_GT(keyed, 0);  // the glow's black surround is keyed out...
    EXPECT_GT(lit, 100);  // ...and its body drawn
    // Clipped at the edges: what is on screen is exactly the matching part
    // of the glow.
    for (Pos p : edges)
        for (int j = 0; j < 22; ++j)
            for (int i = 0; i < 22; ++i) {
                int x = p.x + i, y = p.y + j;
                if (x < 0 || y < 0 || x >= 640 || y >= 480) continue;
                ASSERT_EQ(shown(x, y), expected(p, i, j)) << "edge sprite at " << p.x << "," << p.y;
            }
    // Where both overlapping glows are lit the picture is brighter than either.
    int brighter = 0;
    for (int j = 0; j < 16; ++j)
        for (int i = 0; i < 12; ++i) {
            int x = overlapB.x + i, y = overlapB.y + j;
            DWORD a = expected(overlapA, x - overlapA.x, y - overlapA.y);
            DWORD b = expected(overlapB, i, j);
            DWORD s = shown(x, y);
            for (int shift : {0, 8, 16}) {
                ASSERT_GE((s >> shift) & 255, (a >> shift) & 255);
                ASSERT_GE((s >> shift) & 255, (b >> shift) & 255);
            }
            brighter += s != a && s != b;
        }
    EXPECT_GT(brighter, 20);
}
