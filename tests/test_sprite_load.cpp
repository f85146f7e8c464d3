// Sprite loading against the stand-in DirectDraw on an open 640 x 480 x 16
// screen: where each mode puts the picture, what a failed load leaves in the
// slot, and that untrusted files never make the loader read past them.
#include <cstring>
#include <string>
#include <vector>

#include "bitmap_files.h"
#include "fixture.h"
#include "platform/surface.h"
#include "sprites/sprite_load.h"

namespace {

using testbmp::Make;
using testbmp::Solid;
using testbmp::TempFile;

class SpriteLoading : public OpenScreenTest {
protected:
    void SetUp() override {
        OpenScreenTest::SetUp();
        ASSERT_EQ(screen.pixelFormat, kPixel565);
    }
    void TearDown() override {
        CloseScreen();
        RuntimeTest::TearDown();
    }

    static SpriteRecord& Slot(int number) { return sprites.spriteTable[number]; }
    static standin::Surface* Pixels(int number) { return standin::SurfaceOf(SpriteSurface(Slot(number))); }

    void* Build(int number, const std::vector<uint8_t>& file, int mode, const char* name = "memory") {
        return BuildSprite(number, file.data(), file.size(), mode, name);
    }
};

TEST_F(SpriteLoading, LoadsAFileUprightInTheScreenFormatWithTheColourKey) {
    // Stored bottom row first: red, then green, then blue at the top; the
    // left column black, which the key leaves out.
    auto file = Make(3, 3, 24, [](int row, int x) -> uint32_t {
        if (x == 0) return 0;
        return row == 0 ? 0xFF0000u : row == 1 ? 0x00FF00u : 0x0000FFu;
    });
    TempFile temp("upright.bmp", file);

    void* result = LoadSpriteFromFile(7, temp.path(), kModeOffscreen);
    ASSERT_NE(result, nullptr);
    const SpriteRecord& slot = Slot(7);
    EXPECT_EQ(result, slot.surface);
    EXPECT_EQ(slot.width, 3);
    EXPECT_EQ(slot.height, 3);
    EXPECT_EQ(slot.bitDepth, 24);
    EXPECT_EQ(slot.mode, kModeOffscreen);
    ASSERT_NE(slot.fileName, nullptr);
    EXPECT_STREQ(slot.fileName, temp.path());
    EXPECT_NE(static_cast<const void*>(slot.fileName), static_cast<const void*>(temp.path()));

    standin::Surface* pixels = Pixels(7);
    ASSERT_NE(pixels, nullptr);
    ASSERT_EQ(pixels->width, 3);
    ASSERT_EQ(pixels->height, 3);
    for (int x = 1; x < 3; ++x) {
        EXPECT_EQ(pixels->ReadRaw(x, 0), 0x001Fu);  // blue on top
        EXPECT_EQ(pixels->ReadRaw(x, 1), 0x07E0u);
        EXPECT_EQ(pixels->ReadRaw(x, 2), 0xF800u);  // red at the bottom
    }
    for (int y = 0; y < 3; ++y) EXPECT_EQ(pixels->ReadRaw(0, y), 0u);
    EXPECT_TRUE(pixels->hasColorKey);
    EXPECT_EQ(pixels->colorKeyLow, 0u);
    EXPECT_EQ(pixels->colorKeyHigh, 0u);
}

TEST_F(SpriteLoading, TheDemoParticleLoadsAsATexture) {
    void* result = LoadSpriteFromFile(1, kParticleBitmap, kModeTexture);
    ASSERT_NE(result, nullptr);
    standin::Surface* pixels = Pixels(1);
    ASSERT_NE(pixels, nullptr);
    EXPECT_EQ(pixels->width, 32);
    EXPECT_EQ(pixels->height, 32);
    EXPECT_NE(pixels->caps & DDSCAPS_TEXTURE, 0u);
    // Black only outside the glow: the corners are keyed, the middle is lit
    // and its rim still packs to a non-zero 5-6-5 value.
    EXPECT_EQ(pixels->ReadRaw(0, 0), 0u);
    EXPECT_EQ(pixels->ReadRaw(31, 31), 0u);
    EXPECT_NE(pixels->ReadRaw(16, 16), 0u);
    EXPECT_NE(pixels->ReadRaw(16, 1), 0u);
    EXPECT_NE(pixels->ReadRaw(1, 16), 0u);
}

TEST_F(SpriteLoading, ModeChoosesWhereThePictureLives) {
    auto file = Solid(4, 2, 16, 0x7FFF);
    struct Case {
        int mode;
        DWORD wanted;
        DWORD unwanted;
    } cases[] = {
        {kModeOffscreen, DDSCAPS_OFFSCREENPLAIN, DDSCAPS_SYSTEMMEMORY | DDSCAPS_TEXTURE},
        {kModeSystemMemory, DDSCAPS_OFFSCREENPLAIN | DDSCAPS_SYSTEMMEMORY, DDSCAPS_TEXTURE},
        {kModeTexture, DDSCAPS_TEXTURE, DDSCAPS_OFFSCREENPLAIN},
        {3, DDSCAPS_OFFSCREENPLAIN, DDSCAPS_SYSTEMMEMORY | DDSCAPS_TEXTURE},
        {9, DDSCAPS_OFFSCREENPLAIN, DDSCAPS_SYSTEMMEMORY | DDSCAPS_TEXTURE},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("mode " + std::to_string(c.mode));
        ASSERT_NE(Build(10, file, c.mode), nullptr);
        standin::Surface* pixels = Pixels(10);
        ASSERT_NE(pixels, nullptr);
        EXPECT_EQ(pixels->caps & c.wanted, c.wanted);
        EXPECT_EQ(pixels->caps & c.unwanted, 0u);
        EXPECT_EQ(pixels->ReadRaw(3, 1), 0xFFDFu);
        EXPECT_EQ(Slot(10).mode, c.mode);
    }
}

TEST_F(SpriteLoading, EightBitPicturesLoadOnlyAsRawBlocksOnASixteenBitScreen) {
    auto indices = Make(5, 2, 8, [](int row, int x) { return static_cast<uint32_t>(10 * row + x); },
                        testbmp::Options{0, 1024});
    for (int mode : {kModeOffscreen, kModeSystemMemory, kModeTexture}) {
        EXPECT_EQ(Build(4, indices, mode), nullptr) << "mode " << mode;
        EXPECT_EQ(Slot(4).surface, nullptr) << "mode " << mode;
    }

    void* block = Build(4, indices, kModeRawBlock, "indices.bmp");
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(Slot(4).bitDepth, kRawBlockDepth);
    EXPECT_STREQ(Slot(4).fileName, "indices.bmp");
    EXPECT_EQ(std::vector<uint8_t>(static_cast<uint8_t*>(block), static_cast<uint8_t*>(block) + 10),
              (std::vector<uint8_t>{10, 11, 12, 13, 14, 0, 1, 2, 3, 4}));

    auto trueColour = Solid(5, 2, 24, 0x808080);
    EXPECT_EQ(Build(4, trueColour, kModeRawBlock), nullptr);
    EXPECT_EQ(Slot(4).surface, nullptr);

    // Top-down files have a negative height, which no surface or block takes.
    auto topDown = Solid(2, -2, 8, 1);
    EXPECT_EQ(Build(4, topDown, kModeRawBlock), nullptr);
    auto topDown24 = Solid(2, -2, 24, 1);
    EXPECT_EQ(Build(4, topDown24, kModeOffscreen), nullptr);
    EXPECT_EQ(Slot(4).surface, nullptr);
}

TEST_F(SpriteLoading, ANumberPastTheTableGrowsIt) {
    auto file = Solid(2, 2, 24, 0xFFFFFF);
    ASSERT_NE(Build(60, file, kModeOffscreen), nullptr);
    EXPECT_EQ(sprites.spriteCapacity, 110);
    EXPECT_NE(Slot(60).surface, nullptr);
    for (int n = 50; n < 60; ++n) EXPECT_EQ(Slot(n).surface, nullptr) << n;

    EXPECT_EQ(Build(-1, file, kModeOffscreen), nullptr);  // no slot to fill
}

TEST_F(SpriteLoading, LoadingANumberAgainFreesTheFirstSpriteEvenWhenTheSecondFails) {
    auto file = Solid(2, 2, 24, 0xFFFFFF);
    ASSERT_NE(Build(3, file, kModeOffscreen), nullptr);

    faults::StartRecording();
    ASSERT_NE(Build(3, file, kModeOffscreen), nullptr);
    auto calls = faults::RecordedMatching({"IDirectDrawSurface7::Release", "IDirectDraw7::CreateSurface"});
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].rfind("IDirectDrawSurface7::Release", 0), 0u) << "the old surface goes first";

    testbmp::Options compressed;
    compressed.compression = 1;
    auto refused = Make(2, 2, 8, [](int, int) { return 1u; }, compressed);
    EXPECT_EQ(Build(3, refused, kModeOffscreen), nullptr);
    EXPECT_EQ(Slot(3).surface, nullptr);

    ASSERT_NE(Build(3, file, kModeOffscreen), nullptr);
    faults::Fail("IDirectDraw7::CreateSurface", 1);
    EXPECT_EQ(Build(3, file, kModeOffscreen), nullptr);
    EXPECT_EQ(Slot(3).surface, nullptr);
    EXPECT_EQ(Slot(3).fileName, nullptr);
}

TEST_F(SpriteLoading, AFileThatCannotBeReadWholeLeavesTheSlotAlone) {
    auto file = Solid(2, 2, 24, 0xFFFFFF);
    TempFile temp("kept.bmp", file);
    ASSERT_NE(LoadSpriteFromFile(5, temp.path(), kModeOffscreen), nullptr);
    void* surface = Slot(5).surface;
    char* name = Slot(5).fileName;

    EXPECT_EQ(LoadSpriteFromFile(5, "/nonexistent/glimrotan.bmp", kModeOffscreen), nullptr);
    EXPECT_EQ(LoadSpriteFromFile(5, nullptr, kModeOffscreen), nullptr);
    faults::Fail("ReadFile", 1);
    EXPECT_EQ(LoadSpriteFromFile(5, temp.path(), kModeOffscreen), nullptr);
    faults::Fail("GlobalAlloc", 1);
    EXPECT_EQ(LoadSpriteFromFile(5, temp.path(), kModeOffscreen), nullptr);
    // A folder opens on some systems but never reads.
    EXPECT_EQ(LoadSpriteFromFile(5, "/", kModeOffscreen), nullptr);
    // The table cannot be grown for this number.
    faults::Fail("HeapReAlloc", 1);
    EXPECT_EQ(LoadSpriteFromFile(5000, temp.path(), kModeOffscreen), nullptr);

    EXPECT_EQ(Slot(5).surface, surface);
    EXPECT_EQ(Slot(5).fileName, name);
    EXPECT_NE(standin::SurfaceOf(SpriteSurface(Slot(5))), nullptr);
}

// Every buffer is exactly as long as the bytes given, so the address-
// sanitizing build catches any read past the data.
TEST_F(SpriteLoading, TruncatedOrLyingFilesAreRefused) {
    auto good = Solid(5, 4, 24, 0x404040);
    std::vector<std::vector<uint8_t>> bad;
    for (size_t length : {size_t{0}, size_t{2}, size_t{53}, size_t{54}, good.size() - 1}) {
        bad.emplace_back(good.begin(), good.begin() + length);
    }
    auto pastTheEnd = good;
    testbmp::Put32(pastTheEnd, 10, 0xFFFFFF00u);
    bad.push_back(pastTheEnd);
    auto taller = good;
    testbmp::Put32(taller, 22, 4000);
    bad.push_back(taller);
    auto huge = good;
    testbmp::Put32(huge, 18, 0x10000);
    testbmp::Put32(huge, 22, 0x10000);
    bad.push_back(huge);
    auto overflow = good;
    testbmp::Put32(overflow, 18, 0x40000000);
    testbmp::Put16(overflow, 28, 32);
    bad.push_back(overflow);

    for (size_t i = 0; i < bad.size(); ++i) {
        for (int mode : {kModeOffscreen, kModeRawBlock}) {
            ASSERT_NE(Build(2, good, kModeOffscreen), nullptr);
            std::vector<uint8_t> exact(bad[i]);  // no spare capacity behind it
            EXPECT_EQ(BuildSprite(2, exact.empty() ? nullptr : exact.data(), exact.size(), mode, "bad"), nullptr)
                << "case " << i << " mode " << mode;
            EXPECT_EQ(Slot(2).surface, nullptr) << "case " << i << " mode " << mode;
        }
    }

    // A bit count of 0 reads 3-byte pixels on this screen, which 4 rows of
    // 4 bytes do not hold; as 1-byte indices of a raw block they fit.
    auto noBits = Make(4, 4, 8, [](int, int) { return 1u; });
    testbmp::Put16(noBits, 28, 0);
    EXPECT_EQ(Build(2, noBits, kModeOffscreen), nullptr);
    EXPECT_EQ(Slot(2).surface, nullptr);
    EXPECT_NE(Build(2, noBits, kModeRawBlock), nullptr);
}

TEST_F(SpriteLoading, AFailedLockKeepsTheNewSurfaceWithoutItsKey) {
    auto file = Solid(2, 2, 24, 0xFFFFFF);
    faults::Fail("IDirectDrawSurface7::Lock offscreen", 1);
    EXPECT_EQ(Build(8, file, kModeOffscreen, "locked.bmp"), nullptr);
    ASSERT_NE(Slot(8).surface, nullptr);
    EXPECT_STREQ(Slot(8).fileName, "locked.bmp");
    EXPECT_FALSE(Pixels(8)->hasColorKey);
}

}  // namespace
