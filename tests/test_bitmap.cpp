// Bitmap decoding on memory alone: which files are taken, how their rows are
// found, and what each pixel becomes on every screen layout.
#include <gtest/gtest.h>

#include <iterator>
#include <string>
#include <vector>

#include "bitmap_files.h"
#include "screen/screen.h"
#include "sprites/bitmap.h"

namespace {

using testbmp::Make;
using testbmp::Put;
using testbmp::Solid;
using Bytes = std::vector<uint8_t>;

// Fills locked surface memory stand-ins, so writes outside the picture show.
constexpr uint8_t C = 0xC3;

// A 16-bit pixel as the first two of four destination bytes.
Bytes W(uint16_t value) { return {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8), C, C}; }

class BitmapDecoding : public ::testing::Test {
protected:
    void TearDown() override { screen = ScreenState{}; }

    static BitmapInfo Read(const Bytes& file) {
        BitmapInfo info{};
        EXPECT_TRUE(ReadBitmapHeader(file.data(), file.size(), &info));
        return info;
    }

    // Copies onto `rows` rows `pitch` bytes apart of a screen of that depth and layout.
    static Bytes CopyOut(const BitmapInfo& info, int depth, int32_t layout, int rows, int pitch, bool ok = true) {
        screen.depth = depth;
        screen.pixelFormat = layout;
        Bytes out(static_cast<size_t>(rows) * pitch, C);
        EXPECT_EQ(CopyBitmapToSurface(info, out.data(), pitch), ok);
        return out;
    }
};

TEST_F(BitmapDecoding, HeaderGivesSizeBitCountAndPixelsAfterTheColourTable) {
    auto file = Make(5, -3, 8, [](int, int) { return 0u; }, 0, 1024);
    BitmapInfo info = Read(file);
    EXPECT_EQ(info.width, 5);
    EXPECT_EQ(info.height, -3);  // top-down: passed on for the caller to judge
    EXPECT_EQ(info.bitCount, 8);
    EXPECT_EQ(info.pixels, file.data() + 54 + 1024);
    EXPECT_EQ(info.available, file.size() - 54 - 1024);
    Put(file, 28, 0, 2);
    EXPECT_EQ(Read(file).bitCount, 0);
}

// Every buffer here is allocated at exactly its length, so a read past it is
// caught by the address-sanitizing build.
TEST_F(BitmapDecoding, RefusesForeignCompressedTruncatedAndLyingFiles) {
    auto good = Solid(5, 4, 16, 0x1234);  // 12-byte rows; 20 at 32 bits
    BitmapInfo info{};
    ASSERT_TRUE(ReadBitmapHeader(good.data(), good.size(), &info));
    EXPECT_FALSE(ReadBitmapHeader(nullptr, 100, &info));
    for (size_t length = 0; length < good.size(); ++length) {
        Bytes cut(good.begin(), good.begin() + length);
        EXPECT_FALSE(ReadBitmapHeader(cut.data(), cut.size(), &info)) << "length " << length;
    }
    // {byte, value, size}: not "BM"; compressed (RLE8, RLE4, bit fields); a
    // pixel offset past the end; more rows or deeper pixels than the data
    // holds; widths and heights whose products overflow, absurd or negative.
    struct Lie { size_t at; uint32_t value; size_t size; } lies[] = {
        {1, 'A', 1}, {30, 1, 4}, {30, 2, 4}, {30, 3, 4}, {10, static_cast<uint32_t>(good.size()) + 1, 4},
        {10, 0xFFFFFFF0u, 4}, {22, 5, 4}, {28, 32, 2}, {18, 0x7FFFFFFFu, 4}, {18, 0x40000001u, 4},
        {18, 0x80000000u, 4}, {18, 0xFFFFFFFFu, 4}, {18, 40000u, 4}, {22, 0x7FFFFFFFu, 4}, {22, 0x80000000u, 4},
        {22, 0x40000001u, 4}};
    for (const Lie& lie : lies) {
        auto bad = good;
        Put(bad, lie.at, lie.value, lie.size);
        EXPECT_FALSE(ReadBitmapHeader(bad.data(), bad.size(), &info)) << "byte " << lie.at << " = " << lie.value;
    }
}

// Each file goes onto a screen of its own depth, where the bytes pass
// unchanged, so only the row layout is under test: stored row 0 must land on
// the bottom row, and nothing past each row's pixels is written.
TEST_F(BitmapDecoding, RowsArePaddedToFourBytesAndTheFirstStoredRowIsTheBottom) {
    auto value = [](int row, int x) { return 0x01020304u * (row + 1) + 0x11111111u * x; };
    for (int bitCount : {8, 16, 24, 32}) {
        for (int width = 1; width <= 6; ++width) {
            SCOPED_TRACE("bit count " + std::to_string(bitCount) + ", width " + std::to_string(width));
            const int bytes = bitCount / 8, pitch = width * bytes + 8;
            auto out = CopyOut(Read(Make(width, 3, bitCount, value)), bitCount, bitCount == 16 ? kPixel555 : kPixel565,
                               3, pitch);
            for (int row = 0; row < 3; ++row)
                for (int i = 0; i < pitch; ++i) {
                    uint8_t want = i < width * bytes ? static_cast<uint8_t>(value(row, i / bytes) >> (8 * (i % bytes))) : C;
                    EXPECT_EQ(out[(2 - row) * pitch + i], want) << "stored row " << row << ", byte " << i;
                }
        }
    }
}

TEST_F(BitmapDecoding, EachFilePixelBecomesTheScreenPixel) {
    auto white24 = Solid(1, 1, 24, 0xFFFFFF), mixed24 = Solid(1, 1, 24, 0x123456);  // R 0x12, G 0x34, B 0x56
    auto mixed32 = Solid(1, 1, 32, 0xAB123456), white16 = Solid(1, 1, 16, 0x7FFF), top16 = Solid(1, 1, 16, 0xFFFF);
    auto fields16 = Solid(1, 1, 16, (3u << 10) | (17u << 5) | 29u);
    const uint16_t mixed565 = (0x12 >> 3) << 11 | (0x34 >> 2) << 5 | 0x56 >> 3;
    struct Case { const Bytes* file; int depth; int32_t layout; Bytes expected; } cases[] = {
        {&white24, 16, kPixel565, W(0xFFFF)}, {&white24, 16, kPixel555, W(0x7FFF)},
        {&white24, 16, kPixelOther, W(0xFFFF)},  // any other code packs as 5-6-5
        {&mixed24, 16, kPixel565, W(mixed565)}, {&mixed32, 16, kPixel565, W(mixed565)},
        {&mixed24, 16, kPixel555, W((0x12 >> 3) << 10 | (0x34 >> 3) << 5 | 0x56 >> 3)},
        // 16-bit files: green gains a low bit of 0; bit 15 is dropped, except on 5-5-5.
        {&white16, 16, kPixel565, W(0xFFDF)}, {&top16, 16, kPixel565, W(0xFFDF)}, {&top16, 16, kPixel555, W(0xFFFF)},
        {&fields16, 16, kPixel565, W((3u << 11) | (34u << 5) | 29u)},
        {&white16, 24, kPixel24BlueLow, {0xF8, 0xF8, 0xF8, C}}, {&white16, 32, kPixel32BlueLow, {0xF8, 0xF8, 0xF8, 0}},
        {&fields16, 32, kPixel32BlueLow, {29 << 3, 17 << 3, 3 << 3, 0}},
        // True colour takes the file's bytes in order (red-low is not told
        // apart); on 32 bits black stays the key value 0.
        {&mixed24, 24, kPixel24RedLow, {0x56, 0x34, 0x12, C}}, {&mixed24, 24, kPixel24BlueLow, {0x56, 0x34, 0x12, C}},
        {&mixed32, 24, kPixel24RedLow, {0x56, 0x34, 0x12, C}}, {&mixed24, 32, kPixel32RedLow, {0x56, 0x34, 0x12, 0}},
        {&mixed32, 32, kPixel32RedLow, {0x56, 0x34, 0x12, 0xAB}},
    };
    for (size_t i = 0; i < std::size(cases); ++i)
        EXPECT_EQ(CopyOut(Read(*cases[i].file), cases[i].depth, cases[i].layout, 1, 4), cases[i].expected) << "case " << i;
    for (int depth : {0, 4, 15, 64})  // a depth it does not know: nothing written
        EXPECT_EQ(CopyOut(Read(white24), depth, kPixelOther, 1, 4, false), Bytes(4, C)) << "depth " << depth;
}

TEST_F(BitmapDecoding, BitCountZeroReadsIndicesOnEightBitAndTriplesDeeper) {
    // Two 4-byte stored rows: enough for 3 one-byte indices, not for 3-byte pixels.
    auto file = Make(3, 2, 8, [](int row, int x) { return static_cast<uint32_t>(10 * row + x + 1); });
    Put(file, 28, 0, 2);
    EXPECT_EQ(CopyOut(Read(file), 8, kPixelOther, 2, 3), (Bytes{11, 12, 13, 1, 2, 3}));
    EXPECT_EQ(CopyOut(Read(file), 16, kPixel565, 2, 6, false), Bytes(12, C));
    auto wide = Make(2, 1, 24, [](int, int x) { return x ? 0xFFFFFFu : 0x0000F8u; });
    Put(wide, 28, 0, 2);
    EXPECT_EQ(CopyOut(Read(wide), 16, kPixel565, 1, 4), (Bytes{0x1F, 0x00, 0xFF, 0xFF}));
}

TEST_F(BitmapDecoding, RawBlockRowsFollowEachOtherTopRowFirst) {
    auto file = Make(5, 3, 8, [](int row, int x) { return static_cast<uint32_t>(16 * row + x); });  // 8-byte rows
    Bytes block(5 * 3 + 4, C);
    CopyBitmapToBlock(Read(file), block.data());
    EXPECT_EQ(block, (Bytes{32, 33, 34, 35, 36, 16, 17, 18, 19, 20, 0, 1, 2, 3, 4, C, C, C, C}));
}

// A header that passed, paired with fewer bytes than the rows need (as a
// caller could hand over): nothing is read past them or written.
TEST_F(BitmapDecoding, CopiesRefuseRowsThatAreNotThere) {
    auto file = Solid(4, 4, 8, 7);
    BitmapInfo info = Read(file);
    info.available -= 1;
    Bytes block(16, C);
    CopyBitmapToBlock(info, block.data());
    EXPECT_EQ(block, Bytes(16, C));
    EXPECT_EQ(CopyOut(info, 8, kPixelOther, 4, 4, false), Bytes(16, C));
    EXPECT_FALSE(BitmapRowsPresent(info, 1));
    info.available += 1;
    EXPECT_TRUE(BitmapRowsPresent(info, 1));
}

}  // namespace
