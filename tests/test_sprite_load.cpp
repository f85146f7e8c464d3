// Sprite loading against the stand-in DirectDraw on an open 640 x 480 x 16
// screen: where each mode puts the picture, what a failed load leaves in the
// slot, and that untrusted files never make the loader read past them.
#include <string>
#include <vector>

#include "bitmap_files.h"
#include "fixture.h"
#include "platform/surface.h"
#include "sprites/sprite_load.h"

namespace {

using testbmp::Make;
using testbmp::Solid;

class SpriteLoading : public OpenScreenTest {
protected:
    void TearDown() override {
        CloseScreen();
        RuntimeTest::TearDown();
    }

    static SpriteRecord& Slot(int number) { return sprites.spriteTable[number]; }
    static standin::Surface* Pixels(int number) { return standin::SurfaceOf(SpriteSurface(Slot(number))); }
    static void* Build(int number, const std::vector<uint8_t>& file, int mode, const char* name = "memory") {
        return BuildSprite(number, file.empty() ? nullptr : file.data(), file.size(), mode, name);
    }
};

// Then every load that cannot read a file whole leaves the sprite as it was.
TEST_F(SpriteLoading, LoadsAFileUprightWithTheColourKeyAndFailedReadsLeaveItAlone) {
    // Stored bottom row first: red, green, then blue at the top; the left
    // column black, which the key leaves out.
    const uint32_t colour[] = {0xFF0000, 0x00FF00, 0x0000FF}, packed[] = {0xF800, 0x07E0, 0x001F};
    testbmp::TempFile temp("upright.bmp", Make(3, 3, 24, [&](int row, int x) { return x ? colour[row] : 0u; }));
    const char* path = temp.path.c_str();
    void* result = LoadSpriteFromFile(7, path, kModeOffscreen);
    const SpriteRecord& slot = Slot(7);
    ASSERT_TRUE(result && result == slot.surface);
    EXPECT_EQ((std::vector<int>{slot.width, slot.height, slot.bitDepth, slot.mode}),
              (std::vector<int>{3, 3, 24, kModeOffscreen}));
    EXPECT_STREQ(slot.fileName, path);
    EXPECT_NE(static_cast<const void*>(slot.fileName), path) << "a copy of the name";
    standin::Surface* pixels = Pixels(7);
    ASSERT_TRUE(pixels && pixels->width == 3 && pixels->height == 3);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 3; ++x) EXPECT_EQ(pixels->ReadRaw(x, y), x ? packed[2 - y] : 0u) << x << ", " << y;
    EXPECT_TRUE(pixels->hasColorKey && pixels->colorKeyLow == 0 && pixels->colorKeyHigh == 0);

    // Missing, no name, a failed read, no buffer, a folder (opens on some
    // systems but never reads), a table that cannot grow, no slot at all.
    const SpriteRecord before = slot;
    struct { const char* fault; const char* name; int number; } cases[] = {{nullptr, "/nonexistent/glimrotan.bmp", 7},
        {nullptr, nullptr, 7}, {"ReadFile", path, 7}, {"GlobalAlloc", path, 7}, {nullptr, "/", 7},
        {"HeapReAlloc", path, 5000}, {nullptr, path, -1}};
    for (const auto& c : cases) {
        if (c.fault) faults::Fail(c.fault, 1);
        EXPECT_EQ(LoadSpriteFromFile(c.number, c.name, kModeOffscreen), nullptr) << (c.fault ? c.fault : "") << c.number;
    }
    EXPECT_TRUE(Slot(7).surface == before.surface && Slot(7).fileName == before.fileName && Pixels(7) == pixels);
}

// Slot 60 lies past the 50-slot table, so it grows.
TEST_F(SpriteLoading, ModeChoosesWhereThePictureLives) {
    auto file = Solid(4, 2, 16, 0x7FFF);
    const DWORD plain = DDSCAPS_OFFSCREENPLAIN, system = DDSCAPS_SYSTEMMEMORY, texture = DDSCAPS_TEXTURE;
    struct { int mode; DWORD wanted, unwanted; } cases[] = {{kModeOffscreen, plain, system | texture},
        {kModeSystemMemory, plain | system, texture}, {kModeTexture, texture, plain},
        {3, plain, system | texture}, {9, plain, system | texture}};
    for (const auto& c : cases) {
        SCOPED_TRACE("mode " + std::to_string(c.mode));
        ASSERT_NE(Build(60, file, c.mode), nullptr);
        ASSERT_NE(Pixels(60), nullptr);
        EXPECT_EQ(Pixels(60)->caps & (c.wanted | c.unwanted), c.wanted);
        EXPECT_EQ(Pixels(60)->ReadRaw(3, 1), 0xFFDFu);
        EXPECT_EQ(Slot(60).mode, c.mode);
    }
}

TEST_F(SpriteLoading, EightBitPicturesLoadOnlyAsRawBlocksOnASixteenBitScreen) {
    auto indices = Make(5, 2, 8, [](int row, int x) { return static_cast<uint32_t>(10 * row + x); }, 0, 1024);
    // Refused, the slot left empty: 8 bits as a surface, 24 bits as a raw
    // block, and top-down files (negative height), which nothing takes.
    for (auto [file, mode] : {std::pair{indices, kModeOffscreen}, {indices, kModeSystemMemory}, {indices, kModeTexture},
                              {Solid(5, 2, 24, 0x808080), kModeRawBlock}, {Solid(2, -2, 8, 1), kModeRawBlock},
                              {Solid(2, -2, 24, 1), kModeOffscreen}}) {
        EXPECT_EQ(Build(4, file, mode), nullptr) << +file[28] << " bits, mode " << mode;
        EXPECT_EQ(Slot(4).surface, nullptr);
    }
    auto* block = static_cast<uint8_t*>(Build(4, indices, kModeRawBlock, "indices.bmp"));
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(Slot(4).bitDepth, kRawBlockDepth);
    EXPECT_STREQ(Slot(4).fileName, "indices.bmp");
    EXPECT_EQ(std::vector<uint8_t>(block, block + 10), (std::vector<uint8_t>{10, 11, 12, 13, 14, 0, 1, 2, 3, 4}));
}

TEST_F(SpriteLoading, LoadingANumberAgainFreesTheFirstSpriteEvenWhenTheSecondFails) {
    auto file = Solid(2, 2, 24, 0xFFFFFF);
    ASSERT_NE(Build(3, file, kModeOffscreen), nullptr);
    faults::StartRecording();
    ASSERT_NE(Build(3, file, kModeOffscreen), nullptr);
    auto calls = faults::RecordedMatching({"IDirectDrawSurface7::Release", "IDirectDraw7::CreateSurface"});
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].rfind("IDirectDrawSurface7::Release", 0), 0u) << "the old surface goes first";
    // Bad files fail the same way in TruncatedCompressedOrLyingFilesAreRefused.
    faults::Fail("IDirectDraw7::CreateSurface", 1);
    EXPECT_EQ(Build(3, file, kModeOffscreen), nullptr);
    EXPECT_EQ(Slot(3).surface, nullptr);
    EXPECT_EQ(Slot(3).fileName, nullptr);
    // A failed lock keeps the new surface, without its key.
    faults::Fail("IDirectDrawSurface7::Lock offscreen", 1);
    EXPECT_EQ(Build(3, file, kModeOffscreen, "locked.bmp"), nullptr);
    ASSERT_NE(Pixels(3), nullptr);
    EXPECT_STREQ(Slot(3).fileName, "locked.bmp");
    EXPECT_FALSE(Pixels(3)->hasColorKey);
}

// Each bad file replaces a good sprite, which is freed all the same. Every
// buffer is exactly as long as the bytes given, so the address-sanitizing
// build catches any read past the data.
TEST_F(SpriteLoading, TruncatedCompressedOrLyingFilesAreRefused) {
    // Empty, a header cut short, the last byte missing, rows the data lacks, RLE8.
    auto good = Solid(5, 4, 24, 0x404040), taller = good;
    testbmp::Put(taller, 22, 4000);
    std::vector<std::vector<uint8_t>> bad = {{}, {good.begin(), good.begin() + 53}, {good.begin(), good.end() - 1}, taller,
                                             Make(2, 2, 8, [](int, int) { return 1u; }, 1)};
    for (size_t i = 0; i < bad.size(); ++i)
        for (int mode : {kModeOffscreen, kModeRawBlock}) {
            ASSERT_NE(Build(2, good, kModeOffscreen), nullptr);
            EXPECT_EQ(Build(2, bad[i], mode, "bad"), nullptr) << "case " << i << " mode " << mode;
            EXPECT_TRUE(Slot(2).surface == nullptr && Slot(2).fileName == nullptr) << "case " << i << " mode " << mode;
        }
    // A bit count of 0 reads 3-byte pixels on this screen, which 4 rows of
    // 4 bytes do not hold; as 1-byte indices of a raw block they fit.
    auto noBits = Make(4, 4, 8, [](int, int) { return 1u; });
    testbmp::Put(noBits, 28, 0, 2);
    EXPECT_EQ(Build(2, noBits, kModeOffscreen), nullptr);
    EXPECT_EQ(Slot(2).surface, nullptr);
    EXPECT_NE(Build(2, noBits, kModeRawBlock), nullptr);
}

}  // namespace
