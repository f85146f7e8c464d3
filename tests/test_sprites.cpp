// Sprites: bitmap decoding on memory alone, the sprite table, loading files
// into it on an open 640 x 480 x 16 screen, and 3D sprites.
#include <sys/stat.h>

#include "bitmap_files.h"
#include "fixture.h"
#include "sprites/bitmap.h"

namespace {

using namespace testbmp;
using Bytes = std::vector<uint8_t>;

// Fills locked surface memory stand-ins, so writes outside the picture show.
constexpr uint8_t C = 0xC3;

BitmapInfo Read(const Bytes& file) {
    BitmapInfo info{};
    EXPECT_TRUE(ReadBitmapHeader(file.data(), file.size(), &info));
    return info;
}
// An 8-bit file of index 0 after a 1024-byte colour table.
Bytes Indexed(int width, int height) { return Make(width, height, 8, [](int, int) { return 0u; }, 0, 1024); }

// Copies as a raw block into `size` bytes.
Bytes Block(const BitmapInfo& info, size_t size) {
    Bytes out(size, C);
    CopyBitmapToBlock(info, out.data());
    return out;
}
// Copies onto `rows` rows `pitch` bytes apart of a screen of that depth and layout.
Bytes CopyOut(const BitmapInfo& info, int depth, int32_t layout, int rows, int pitch, bool ok = true) {
    screen.depth = depth;
    screen.pixelFormat = layout;
    Bytes out(static_cast<size_t>(rows) * pitch, C);
    EXPECT_EQ(CopyBitmapToSurface(info, out.data(), pitch), ok);
    return out;
}

// Every buffer here is exactly as long as its bytes, so the address-sanitizing build sees a read past it.
TEST(BitmapDecoding, RefusesForeignCompressedTruncatedAndLyingFiles) {
    auto good = Solid(5, 4, 16, 0x1234);  // 12-byte rows; 20 at 32 bits
    BitmapInfo info = Read(Indexed(5, -3));
    EXPECT_TRUE(info.height == -3 && info.available == 8u * 3) << "top-down passed on for the loader to refuse";
    // Sides up to 32767 pixels either way; one more is refused.
    EXPECT_TRUE(Read(Solid(32767, 1, 8, 0)).width == 32767 && Read(Solid(1, 32767, 8, 0)).height == 32767);
    EXPECT_EQ(Read(Indexed(1, -32767)).height, -32767);
    for (const Bytes& big : {Solid(32768, 1, 8, 0), Solid(1, 32768, 8, 0), Indexed(1, -32768)})
        EXPECT_FALSE(ReadBitmapHeader(big.data(), big.size(), &info));
    for (size_t length = 0; length < good.size(); ++length)
        EXPECT_FALSE(ReadBitmapHeader(good.data(), length, &info)) << "length " << length;
    // Not "BM"; run-length and bit-field files; a pixel offset past the end;
    // more rows or deeper pixels than the data holds; sizes that overflow.
    struct Lie { size_t at; uint32_t value, size; } lies[] = {
        {1, 'A', 1}, {30, 1, 4}, {30, 3, 4}, {10, static_cast<uint32_t>(good.size()) + 1, 4}, {10, 0xFFFFFFF0u, 4},
        {22, 5, 4}, {28, 32, 2}, {18, 0x40000001u, 4}, {18, 0x80000000u, 4}, {18, 40000u, 4}, {22, 0x80000000u, 4}};
    for (const Lie& lie : lies) {
        auto bad = good;
        Put(bad, lie.at, lie.value, lie.size);
        EXPECT_FALSE(ReadBitmapHeader(bad.data(), bad.size(), &info)) << "byte " << lie.at << " = " << lie.value;
    }
    // A header that passed with fewer bytes than its rows need: nothing read or written.
    info = Read(Solid(4, 4, 8, 7));
    info.available -= 1;
    EXPECT_EQ(Block(info, 16), Bytes(16, C));
    EXPECT_EQ(CopyOut(info, 8, kPixelOther, 4, 4, false), Bytes(16, C));
}

// Each file onto a screen of its own depth, where the bytes pass unchanged: stored row 0 lands on
// the bottom row, and nothing past each row's pixels is written.
TEST(BitmapDecoding, RowsArePaddedToFourBytesAndTheFirstStoredRowIsTheBottom) {
    auto value = [](int row, int x) { return 0x01020304u * (row + 1) + 0x11111111u * x; };
    for (int bitCount : {8, 16, 24, 32})
        for (int width = 1; width <= 6; ++width) {
            const int bytes = bitCount / 8, pitch = width * bytes + 8;
            auto out = CopyOut(Read(Make(width, 3, bitCount, value)), bitCount, bitCount == 16 ? kPixel555 : kPixel565,
                               3, pitch);
            for (int row = 0; row < 3; ++row)
                for (int i = 0; i < pitch; ++i) {
                    uint8_t want = i < width * bytes ? static_cast<uint8_t>(value(row, i / bytes) >> (8 * (i % bytes))) : C;
                    ASSERT_EQ(out[(2 - row) * pitch + i], want) << bitCount << " bits, width " << width << ", row " << row;
                }
        }
    auto indices = Make(5, 3, 8, [](int row, int x) { return static_cast<uint32_t>(16 * row + x); });
    EXPECT_EQ(Block(Read(indices), 5 * 3 + 1), (Bytes{32, 33, 34, 35, 36, 16, 17, 18, 19, 20, 0, 1, 2, 3, 4, C}))
        << "raw blocks are unpadded";
    EXPECT_EQ(Block(Read(Make(3, 1, 8, [](int, int x) { return 7u + x; })), 3 + 1), (Bytes{7, 8, 9, C})) << "one row";
}

Bytes W(uint16_t value) { return {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8), C, C}; }

TEST(BitmapDecoding, EachFilePixelBecomesTheScreenPixel) {
    auto white24 = Solid(1, 1, 24, 0xFFFFFF), mixed24 = Solid(1, 1, 24, 0x123456);  // R 0x12, G 0x34, B 0x56
    auto mixed32 = Solid(1, 1, 32, 0xAB123456), white16 = Solid(1, 1, 16, 0x7FFF), top16 = Solid(1, 1, 16, 0xFFFF);
    auto fields16 = Solid(1, 1, 16, (3u << 10) | (17u << 5) | 29u);
    const uint16_t mixed565 = (0x12 >> 3) << 11 | (0x34 >> 2) << 5 | 0x56 >> 3;
    struct Case { const Bytes* file; int depth; int32_t layout; Bytes expected; } cases[] = {
        {&white24, 16, kPixel565, W(0xFFFF)}, {&white24, 16, kPixel555, W(0x7FFF)}, {&white24, 16, kPixelOther, W(0xFFFF)},
        {&mixed24, 16, kPixel565, W(mixed565)}, {&mixed32, 16, kPixel565, W(mixed565)},
        {&mixed24, 16, kPixel555, W((0x12 >> 3) << 10 | (0x34 >> 3) << 5 | 0x56 >> 3)},
        // 16-bit files: green gains a low bit of 0; bit 15 is dropped, except on 5-5-5.
        {&white16, 16, kPixel565, W(0xFFDF)}, {&top16, 16, kPixel555, W(0xFFFF)},
        {&fields16, 16, kPixel565, W((3u << 11) | (34u << 5) | 29u)},
        {&fields16, 32, kPixel32BlueLow, {29 << 3, 17 << 3, 3 << 3, 0}}, {&white16, 24, kPixel24BlueLow, {0xF8, 0xF8, 0xF8, C}},
        // True colour takes the file's bytes in order; on 32 bits black stays the key value 0.
        {&mixed24, 24, kPixel24RedLow, {0x56, 0x34, 0x12, C}}, {&mixed32, 24, kPixel24RedLow, {0x56, 0x34, 0x12, C}},
        {&mixed24, 32, kPixel32RedLow, {0x56, 0x34, 0x12, 0}}, {&mixed32, 32, kPixel32BlueLow, {0x56, 0x34, 0x12, 0xAB}}};
    for (const auto& c : cases) EXPECT_EQ(CopyOut(Read(*c.file), c.depth, c.layout, 1, 4), c.expected) << &c - cases;
    for (int depth : {0, 15, 64}) EXPECT_EQ(CopyOut(Read(white24), depth, kPixelOther, 1, 4, false), Bytes(4, C)) << depth;
    // Bit count 0 reads 1-byte indices on 8 bits and 3-byte pixels deeper.
    auto zero = Make(2, 1, 24, [](int, int x) { return x ? 0xFFFFFFu : 0x0000F8u; });
    Put(zero, 28, 0, 2);
    EXPECT_EQ(CopyOut(Read(zero), 16, kPixel565, 1, 4), (Bytes{0x1F, 0x00, 0xFF, 0xFF}));
    EXPECT_EQ(CopyOut(Read(zero), 8, kPixelOther, 1, 4), (Bytes{0xF8, 0, C, C}));
    screen = ScreenState{};
}

class SpriteTest : public OpenScreenTest {
protected:
    static SpriteRecord& Slot(int number) { return sprites.spriteTable[number]; }
    static void* Build(int number, const Bytes& file, int mode, const char* name = "memory") {
        return BuildSprite(number, file.empty() ? nullptr : file.data(), file.size(), mode, name);
    }
};

TEST_F(SpriteTest, TheTableGrowsToTheNumberPlusFiftyAndStaysUsableWhenItCannot) {
    PutRawBlockSprite(10);
    for (auto [number, capacity] : {std::pair{49, 50}, {50, 100}, {60, 100}, {100, 150}}) {
        EXPECT_TRUE(GrowSpriteTable(number) == 1 && sprites.spriteCapacity == capacity) << number;
        // Grown, the table holds one record past its capacity.
        EXPECT_EQ(HeapSize(runtime.heap, 0, sprites.spriteTable), (capacity + (capacity > 50)) * sizeof(SpriteRecord));
    }
    EXPECT_STREQ(Slot(10).fileName, "raw.bmp") << "kept through the moves";
    for (int i = 50; i <= 150; ++i) ASSERT_EQ(Slot(i).surface, nullptr) << i;
    faults::StartRecording();
    for (int32_t n : {-1, INT32_MIN, INT32_MAX, INT32_MAX - 50}) EXPECT_EQ(GrowSpriteTable(n), 0) << n;
    EXPECT_EQ(CountRecorded("HeapReAlloc"), 0) << "refused before asking the heap";
    faults::Fail("HeapReAlloc", 1);
    SpriteRecord* table = sprites.spriteTable;
    EXPECT_EQ(GrowSpriteTable(175), 0);
    EXPECT_TRUE(sprites.spriteTable == table && sprites.spriteCapacity == 150 && Slot(10).surface);
}

// A file loads upright with the colour key; every load that cannot read the file whole leaves the sprite alone.
TEST_F(SpriteTest, LoadsAFileUprightAndFailedReadsLeaveTheSlotAlone) {
    const uint32_t colour[] = {0xFF0000, 0x00FF00, 0x0000FF}, packed[] = {0xF800, 0x07E0, 0x001F};
    testbmp::TempFile temp("upright.bmp", Make(3, 3, 24, [&](int row, int x) { return x ? colour[row] : 0u; }));
    const char* path = temp.path.c_str();
    void* result = LoadSpriteFromFile(7, path, kModeOffscreen);
    ASSERT_TRUE(result && result == Slot(7).surface);
    EXPECT_EQ((std::vector<int>{Slot(7).width, Slot(7).height, Slot(7).bitDepth, Slot(7).mode}),
              (std::vector<int>{3, 3, 24, kModeOffscreen}));
    EXPECT_TRUE(Slot(7).fileName != path && std::string(Slot(7).fileName) == path) << "a copy of the name";
    standin::Surface* pixels = SpritePixels(7);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 3; ++x) EXPECT_EQ(pixels->ReadRaw(x, y), x ? packed[2 - y] : 0u) << x << ", " << y;
    EXPECT_TRUE(pixels->hasColorKey && pixels->colorKeyLow == 0 && pixels->colorKeyHigh == 0);

    // A FIFO would block the open until some writer came: like a folder or a device, refused at once.
    const std::string fifo = temp.path + ".fifo";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const SpriteRecord before = Slot(7);
    struct { const char* fault; const char* name; int number; } cases[] = {{"", "/nonexistent/a.bmp", 7},
        {"", nullptr, 7}, {"ReadFile", path, 7}, {"ReadFileShort", path, 7}, {"GlobalAlloc", path, 7}, {"", "/", 7},
        {"", fifo.c_str(), 7}, {"", "/dev/zero", 7}, {"HeapReAlloc", path, 5000}, {"", path, -1}};
    for (const auto& c : cases) {
        if (*c.fault) faults::Fail(c.fault, 1);
        EXPECT_EQ(LoadSpriteFromFile(c.number, c.name, kModeOffscreen), nullptr) << c.fault << &c - cases;
    }
    EXPECT_TRUE(Slot(7).surface == before.surface && Slot(7).fileName == before.fileName && SpritePixels(7) == pixels);
    std::remove(fifo.c_str());
}

TEST_F(SpriteTest, ModeChoosesWhereThePictureLivesAndTheDepthRuleWhatLoads) {
    auto file = Solid(4, 2, 16, 0x7FFF);
    const DWORD plain = DDSCAPS_OFFSCREENPLAIN, system = DDSCAPS_SYSTEMMEMORY, texture = DDSCAPS_TEXTURE;
    struct { int mode; DWORD wanted, unwanted; } cases[] = {{kModeOffscreen, plain, system | texture},
        {kModeSystemMemory, plain | system, texture}, {kModeTexture, texture, plain}, {3, plain, system | texture}};
    for (const auto& c : cases) {
        ASSERT_NE(Build(60, file, c.mode), nullptr) << c.mode;
        EXPECT_EQ(SpritePixels(60)->caps & (c.wanted | c.unwanted), c.wanted) << c.mode;
        EXPECT_EQ(SpritePixels(60)->ReadRaw(3, 1), 0xFFDFu) << c.mode;
    }
    // On 16 bits: 1-, 4- and 8-bit pictures are no surfaces, 24 bits no raw
    // block, and top-down files (negative height) nothing at all.
    auto indices = Make(5, 2, 8, [](int row, int x) { return static_cast<uint32_t>(10 * row + x); }, 0, 1024);
    auto mono = Solid(16, 2, 24, 0), nibbles = mono;  // rows long enough to be read as 3-byte pixels
    Put(mono, 28, 1, 2);
    Put(nibbles, 28, 4, 2);
    for (auto [bytes, mode] : {std::pair{indices, kModeOffscreen}, {indices, kModeTexture}, {mono, kModeOffscreen},
                               {nibbles, kModeSystemMemory}, {Solid(5, 2, 24, 0x808080), kModeRawBlock},
                               {Solid(2, -2, 8, 1), kModeRawBlock}, {Solid(2, -2, 24, 1), kModeOffscreen}})
        EXPECT_TRUE(!Build(4, bytes, mode) && !Slot(4).surface) << +bytes[28] << " bits, mode " << mode;
    auto* block = static_cast<uint8_t*>(Build(4, indices, kModeRawBlock));
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(Slot(4).bitDepth, kRawBlockDepth);
    EXPECT_EQ(Bytes(block, block + 10), (Bytes{10, 11, 12, 13, 14, 0, 1, 2, 3, 4}));
}

// Loading a number again frees the first sprite first, even when the second load fails.
TEST_F(SpriteTest, LoadingANumberAgainFreesTheFirstSpriteEvenWhenTheSecondFails) {
    auto good = Solid(5, 4, 24, 0x404040), taller = good, noBits = Make(4, 4, 8, [](int, int) { return 1u; });
    Put(taller, 22, 4000);
    Put(noBits, 28, 0, 2);  // 3-byte pixels on this screen, which 4 rows of 4 bytes do not hold
    EXPECT_EQ(CallsOf([&] { for (int i = 0; i < 2; ++i) Build(2, good, kModeOffscreen); },
                      {"IDirectDrawSurface7::Release", "IDirectDraw7::CreateSurface"}),
              (Calls{"IDirectDraw7::CreateSurface offscreen", "IDirectDrawSurface7::Release offscreen",
                     "IDirectDraw7::CreateSurface offscreen"}));
    const std::vector<Bytes> bad = {{}, {good.begin(), good.begin() + 53}, {good.begin(), good.end() - 1}, taller,
                                    Make(2, 2, 8, [](int, int) { return 1u; }, 1), noBits};
    for (size_t i = 0; i < bad.size(); ++i) {
        ASSERT_NE(Build(2, good, kModeOffscreen), nullptr);
        EXPECT_EQ(Build(2, bad[i], kModeOffscreen, "bad"), nullptr) << "case " << i;
        EXPECT_TRUE(Slot(2).surface == nullptr && Slot(2).fileName == nullptr) << "case " << i;
    }
    faults::Fail("IDirectDraw7::CreateSurface", 1);
    EXPECT_TRUE(!Build(2, good, kModeOffscreen) && !Slot(2).surface);
    // A failed lock keeps the new surface and its name, without its key.
    faults::Fail("IDirectDrawSurface7::Lock offscreen", 1);
    EXPECT_EQ(Build(2, good, kModeOffscreen, "locked.bmp"), nullptr);
    EXPECT_TRUE(SpritePixels(2) && !SpritePixels(2)->hasColorKey && std::string(Slot(2).fileName) == "locked.bmp");
}

class Sprite3DTest : public SpriteTest {
protected:
    void SetUp() override {
        SpriteTest::SetUp();
        ASSERT_EQ(InitSprite3DSystem(), 1);
    }
    // A size x size texture sprite in slot `number`, every pixel `raw`.
    static IDirectDrawSurface7* PutSprite(int number, int size, DWORD raw, int16_t mode = kModeTexture) {
        if (!CreateSpriteSurface(&Slot(number), size, size, 16, mode)) return nullptr;
        for (int i = 0; i < size * size; ++i) SpritePixels(number)->WriteRaw(i % size, i / size, raw);
        SpritePixels(number)->Touch();
        return SpriteSurface(Slot(number));
    }
};

// Corners top-left, top-right, bottom-left, bottom-right of a size x size square at (x, y), the
// whole texture mapped once, in `color`.
void ExpectCorners(const D3DTLVERTEX* v, float x, float y, float size, D3DCOLOR color) {
    for (int i = 0; i < 4; ++i)
        EXPECT_TRUE(v[i].sx == x + (i & 1) * size && v[i].sy == y + (i >> 1) * size && v[i].tu == (i & 1) &&
                    v[i].tv == (i >> 1) && v[i].sz == 0 && v[i].rhw == 1 && v[i].specular == 0 && v[i].color == color)
            << "corner " << i << " of the square at " << x << ", " << y;
}

TEST_F(Sprite3DTest, MakeResizeAndDrawPlaceTheCornersWithTheAlphaInTheColour) {
    ASSERT_NE(PutSprite(3, 16, 0xFFFF), nullptr);
    ASSERT_EQ(MakeSprite3D(1, 3), 1);
    ExpectCorners(sprites3D.sprite3DTable[1].vertices, 0, 0, 17, 0xFFFFFFFF);  // one larger than the bitmap
    ASSERT_EQ(Begin3D(), 1);
    ResizeSprite3D(1, 22, 22);
    for (auto [x, y, alpha, color] :
         {std::tuple{100, 50, 255, 0xFFFFFFFFu}, {0, 0, 128, 0x80FFFFFFu}, {200, 200, 256, 0x00FFFFFFu}}) {
        EXPECT_EQ(DrawSprite3D(1, x, y, alpha), D3D_OK);
        ExpectCorners(standin::LastDrawnVertices().data(), x, y, 22, color);
    }
    End3D();
    ExpectCorners(sprites3D.sprite3DTable[1].vertices, 0, 0, 22, 0xFFFFFFFF);  // draws do not move the record
    // Begin3D's classic blending: alpha 255 covers exactly (100, 50)..(121, 71); alpha 0 leaves no trace.
    const int points[][3] = {{100, 50, 0xFFFF}, {121, 71, 0xFFFF}, {122, 71, 0}, {121, 72, 0}, {99, 50, 0}, {200, 200, 0}};
    for (const auto& p : points) EXPECT_EQ(Back().ReadRaw(p[0], p[1]), static_cast<DWORD>(p[2])) << p[0] << "," << p[1];
    // A black texel is the colour key: even classic blending at full alpha leaves the screen under it.
    SpritePixels(3)->WriteRaw(0, 0, 0);
    SpritePixels(3)->Touch();
    ASSERT_EQ(SpriteSurface(Slot(3))->SetColorKey(DDCKEY_SRCBLT, &SpriteColorKey), DD_OK);
    Back().WriteRaw(300, 300, 0x001F);
    Back().Touch();
    ASSERT_EQ(Begin3D(), 1);
    DrawSprite3D(1, 300, 300, 255);
    End3D();
    EXPECT_TRUE(Back().ReadRaw(300, 300) == 0x001F && Back().ReadRaw(302, 302) == 0xFFFF);
}

// An emptied 3D sprite still draws, untextured, in its vertex colour; numbers
// outside the table draw nothing.
TEST_F(Sprite3DTest, OnlyTextureSpritesMakeA3DSpriteAndOutOfRangeOnesDrawNothing) {
    PutSprite(4, 8, 0xFFFF, kModeOffscreen);
    PutSprite(5, 8, 0xFFFF);
    ASSERT_EQ(MakeSprite3D(2, 5), 1);
    ASSERT_EQ(MakeSprite3D(1, 5), 1);
    ExpectCorners(sprites3D.sprite3DTable[2].vertices, 0, 0, 9, 0xFFFFFFFF);  // making 1 leaves 2 alone
    EXPECT_TRUE(!MakeSprite3D(1, 4) && !sprites3D.sprite3DTable[1].texture) << "mode 0: refused, the old contents gone";
    const int refused[][2] = {{1, 6}, {1, -1}, {1, 100000}, {-1, 5}, {INT32_MIN, 5}, {INT32_MAX, 5}, {INT32_MAX - 50, 5}};
    for (const auto& r : refused) EXPECT_EQ(MakeSprite3D(r[0], r[1]), 0) << r[0] << " from " << r[1];
    ASSERT_EQ(MakeSprite3D(50, 5), 1);
    EXPECT_TRUE(HeapSize(runtime.heap, 0, sprites3D.sprite3DTable) == 101 * sizeof(Sprite3DRecord) &&
                sprites3D.sprite3DCapacity == 100);
    ASSERT_EQ(Begin3D(), 1);
    for (int n : {-1, 7000, INT32_MIN, INT32_MAX}) {
        EXPECT_NE(DrawSprite3D(n, 10, 10, 255), D3D_OK) << n;
        ResizeSprite3D(n, 5, 5);
    }
    EXPECT_EQ(DrawSprite3D(1, 30, 30, 255), D3D_OK);
    End3D();
    EXPECT_TRUE(Back().ReadRaw(10, 10) == 0 && Back().ReadRaw(30, 30) == 0xFFFF && Back().ReadRaw(38, 38) == 0xFFFF &&
                Back().ReadRaw(39, 39) == 0) << "only the 9 x 9 quad the empty sprite kept, white";
}

TEST_F(Sprite3DTest, EverySceneStartsWithClassicBlendingAndTheColourKeyOn) {
    EXPECT_TRUE(CallsOf([] { SetSprite3DBlend(2, 7); End3D(); }, {"IDirect3DDevice7"}).empty()) << "no device, no scene";
    ASSERT_EQ(Begin3D(), 1);
    EXPECT_EQ(Begin3D(), 0) << "already in a scene";
    SetSprite3DBlend(2, 7);
    End3D();
    End3D();
    EXPECT_EQ(faults::RecordedMatching({"IDirect3DDevice7::SetRenderState", "IDirect3DDevice7::EndScene"}),
              (Calls{"IDirect3DDevice7::SetRenderState 27 1", "IDirect3DDevice7::SetRenderState 19 5",
                     "IDirect3DDevice7::SetRenderState 20 6", "IDirect3DDevice7::SetRenderState 41 1",
                     "IDirect3DDevice7::SetRenderState 19 2", "IDirect3DDevice7::SetRenderState 20 7",
                     "IDirect3DDevice7::EndScene"}));
    // A lost display refuses scenes; the draws still go to the device and fail.
    faults::LoseDisplay();
    EXPECT_TRUE(Begin3D() == 0 && sprites3D.sceneOpen == 0);
    PutSprite(1, 4, 0xFFFF);
    MakeSprite3D(1, 1);
    EXPECT_NE(DrawSprite3D(1, 0, 0, 255), D3D_OK);
}

// The device records draws and rasterises them later: whatever reaches the pixels first (a lock, a
// device context, a fill, the end of the scene) finds them drawn; the program's own writes keep their order.
TEST_F(Sprite3DTest, RecordedDrawsAreDoneBeforeAnythingElseReachesThePixels) {
    IDirectDrawSurface7 *texture = PutSprite(1, 4, 0x07E0), *back = screen.backBuffer;  // green, drawn over 8..12
    ASSERT_EQ(MakeSprite3D(1, 1), 1);
    auto scene = [] {
        ClearScreen(0, 0, 0);
        EXPECT_EQ(Begin3D(), 1);
        SetSprite3DBlend(2, 7);
        DrawSprite3D(1, 8, 8, 255);
    };
    const std::pair<const char*, std::function<DWORD()>> ways[] = {
        {"Lock", [&] { DWORD v = *LockedPixel(back, 10, 10); back->Unlock(nullptr); return v; }},
        {"GetDC", [&] {
             HDC dc = nullptr;
             back->GetDC(&dc);
             const COLORREF c = GetPixel(dc, 10, 10);
             back->ReleaseDC(dc);
             return c == standin::PixelToColor(Back().layout, 0x07E0) ? 0x07E0u : c;
         }},
        {"Blt elsewhere", [&] { RECT r{100, 100, 110, 110}; ColorFill(back, 0, &r); return Back().ReadRaw(10, 10); }},
        {"EndScene", [] { End3D(); return Back().ReadRaw(10, 10); }}};
    for (const auto& [name, read] : ways) {
        scene();
        EXPECT_EQ(read(), 0x07E0u) << name;
        End3D();
    }
    // A texture turned blue between two draws: each shows what it was drawn with.
    scene();
    LONG pitch = 0;
    uint16_t* texel = LockedPixel(texture, 0, 0, &pitch);
    ASSERT_NE(texel, nullptr);
    for (int i = 0; i < 16; ++i) texel[i / 4 * pitch + i % 4] = 0x001F;
    texture->Unlock(nullptr);
    DrawSprite3D(1, 30, 8, 255);
    // While the program holds the target locked a draw is done at once, between its own writes.
    uint16_t* p = LockedPixel(back, 50, 10);
    ASSERT_NE(p, nullptr);
    *p = 0xF800;
    DrawSprite3D(1, 48, 8, 255);
    EXPECT_EQ(*p, 0xF81Fu);  // red and the blue texture
    back->Unlock(nullptr);
    End3D();
    EXPECT_TRUE(Back().ReadRaw(10, 10) == 0x07E0u && Back().ReadRaw(32, 10) == 0x001Fu);
}

TEST_F(Sprite3DTest, FailedOrImpossibleDeviceSetUpIsTriedAgainOnTheNextBegin3D) {
    const std::string create = "IDirect3D7::CreateDevice", viewport = "IDirect3DDevice7::GetViewport",
                      release = "IDirect3DDevice7::Release";
    faults::Fail(create, 1);
    faults::Fail(viewport, 1);
    EXPECT_TRUE(Begin3D() == 0 && sprites3D.device == nullptr && sprites3D.deviceNeeded == 1);
    // GetViewport fails once: the scene still begins on the new device,
    // which is released before the next Begin3D makes another.
    faults::StartRecording();
    ASSERT_TRUE(Begin3D() == 1 && sprites3D.deviceNeeded == 1);
    End3D();
    ASSERT_EQ(Begin3D(), 1);
    EXPECT_TRUE(sprites3D.deviceNeeded == 0 && sprites3D.viewport.dwWidth == 640 && sprites3D.viewport.dwHeight == 480);
    End3D();
    EXPECT_EQ(faults::RecordedMatching({create, viewport, release}), (Calls{create, viewport, release, create, viewport}));
    // Without a back buffer (a screen that did not open) no device is made; with one again, it is.
    CloseScreen();
    sprites3D = Sprite3DState{};
    ASSERT_EQ(InitSprite3DSystem(), 1);
    EXPECT_TRUE(CallsOf([] { EXPECT_EQ(Begin3D(), 0); }, {"IDirect3D7::CreateDevice"}).empty());
    ASSERT_EQ(OpenScreen(640, 480, 16, " "), 1);
    EXPECT_EQ(Begin3D(), 1);
    End3D();
    // Without a DirectDraw object there is no Direct3D and so no device.
    sprites3D = Sprite3DState{};
    IDirectDraw7* saved = std::exchange(screen.directDraw, nullptr);
    EXPECT_TRUE(InitSprite3DSystem() == 0 && Begin3D() == 0 && DrawSprite3D(1, 0, 0, 255) != D3D_OK);
    screen.directDraw = saved;
}

// Freeing a raw block gives it back; freeing or loading again a texture empties the 3D sprites that borrowed it.
TEST_F(Sprite3DTest, FreeingOrReloadingASpriteEmptiesThe3DSpritesThatBorrowedIt) {
    PutRawBlockSprite(5);
    void* block = Slot(5).surface;
    ASSERT_NE(PutSurfaceSprite(1, DDSCAPS_TEXTURE, kModeTexture), nullptr);
    ASSERT_TRUE(MakeSprite3D(0, 1) && MakeSprite3D(2, 1));
    faults::StartRecording();
    for (int number : {6, -1, 50, 1000000, 5}) FreeSprite(number);
    EXPECT_TRUE(!Slot(5).surface && !Slot(5).fileName && HeapSize(runtime.heap, 0, block) == static_cast<SIZE_T>(-1));
    EXPECT_TRUE(faults::RecordedMatching({"IDirectDrawSurface7::"}).empty()) << "empty slots and blocks are no surfaces";
    FreeSprite(1);
    EXPECT_TRUE(CountRecorded("IDirectDrawSurface7::Release texture") == 1 && !sprites3D.sprite3DTable[0].texture &&
                !sprites3D.sprite3DTable[2].texture);
    ASSERT_NE(LoadSpriteFromFile(1, kParticleBitmap, kModeTexture), nullptr);
    ASSERT_TRUE(MakeSprite3D(1, 1) && MakeSprite3D(2, 1));
    ASSERT_NE(LoadSpriteFromFile(1, kParticleBitmap, kModeTexture), nullptr);  // a new surface
    EXPECT_TRUE(!sprites3D.sprite3DTable[1].texture && !sprites3D.sprite3DTable[2].texture);
}

}  // namespace
