// Bitmap decoding on memory alone: which files are taken, how their rows are
// found, and what each pixel becomes on every screen layout.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "bitmap_files.h"
#include "screen/screen.h"
#include "sprites/bitmap.h"

namespace {

using testbmp::Make;
using testbmp::Solid;

// Locked surface memory stand-in: rows `pitch` apart, filled with a canary so
// writes outside the picture show.
struct Destination {
    static constexpr uint8_t kCanary = 0xC3;
    int pitch;
    std::vector<uint8_t> bytes;
    Destination(int rows, int pitchBytes) : pitch(pitchBytes), bytes(static_cast<size_t>(rows) * pitchBytes, kCanary) {}
    uint8_t* base() { return bytes.data(); }
    uint8_t* row(int y) { return bytes.data() + static_cast<size_t>(y) * pitch; }
    uint32_t Read16(int x, int y) { return row(y)[2 * x] | (row(y)[2 * x + 1] << 8); }
};

class BitmapDecoding : public ::testing::Test {
protected:
    void SetUp() override { screen = ScreenState{}; }
    void TearDown() override { screen = ScreenState{}; }

    void UseScreen(int depth, int32_t pixelFormat) {
        screen.depth = depth;
        screen.pixelFormat = pixelFormat;
    }

    BitmapInfo Read(const std::vector<uint8_t>& file) {
        BitmapInfo info{};
        EXPECT_TRUE(ReadBitmapHeader(file.data(), file.size(), &info));
        return info;
    }
};

TEST_F(BitmapDecoding, HeaderGivesSizeBitCountAndPixelsAfterTheColourTable) {
    testbmp::Options options;
    options.colorTableBytes = 1024;
    auto file = Make(5, 3, 8, [](int, int) { return 0u; }, options);
    BitmapInfo info = Read(file);
    EXPECT_EQ(info.width, 5);
    EXPECT_EQ(info.height, 3);
    EXPECT_EQ(info.bitCount, 8);
    EXPECT_EQ(info.pixels, file.data() + 54 + 1024);
    EXPECT_EQ(info.available, file.size() - 54 - 1024);
}

TEST_F(BitmapDecoding, RefusesWhatIsNotAnUncompressedBitmap) {
    auto good = Solid(2, 2, 24, 0x123456);
    BitmapInfo info{};
    ASSERT_TRUE(ReadBitmapHeader(good.data(), good.size(), &info));

    auto notBm = good;
    notBm[1] = 'A';
    EXPECT_FALSE(ReadBitmapHeader(notBm.data(), notBm.size(), &info));

    for (uint32_t compression : {1u, 2u, 3u}) {
        testbmp::Options options;
        options.compression = compression;
        auto compressed = Make(2, 2, compression == 3 ? 16 : 8, [](int, int) { return 1u; }, options);
        EXPECT_FALSE(ReadBitmapHeader(compressed.data(), compressed.size(), &info)) << "compression " << compression;
    }
    EXPECT_FALSE(ReadBitmapHeader(nullptr, 100, &info));
}

// Every buffer here is allocated at exactly its length, so a read past it is
// caught by the address-sanitizing build.
TEST_F(BitmapDecoding, HeaderThatDoesNotFitTheDataIsRefused) {
    auto good = Solid(5, 4, 24, 0xABCDEF);  // 16-byte rows; 20 at 32 bits
    BitmapInfo info{};

    for (size_t length = 0; length < good.size(); ++length) {
        std::vector<uint8_t> cut(good.begin(), good.begin() + length);
        EXPECT_FALSE(ReadBitmapHeader(cut.data(), cut.size(), &info)) << "length " << length;
    }

    auto lyingOffset = good;
    testbmp::Put32(lyingOffset, 10, static_cast<uint32_t>(good.size() + 1));
    EXPECT_FALSE(ReadBitmapHeader(lyingOffset.data(), lyingOffset.size(), &info));
    testbmp::Put32(lyingOffset, 10, 0xFFFFFFF0u);
    EXPECT_FALSE(ReadBitmapHeader(lyingOffset.data(), lyingOffset.size(), &info));

    auto tallerThanData = good;
    testbmp::Put32(tallerThanData, 22, 5);
    EXPECT_FALSE(ReadBitmapHeader(tallerThanData.data(), tallerThanData.size(), &info));

    auto deeperThanData = good;
    testbmp::Put16(deeperThanData, 28, 32);
    EXPECT_FALSE(ReadBitmapHeader(deeperThanData.data(), deeperThanData.size(), &info));

    // Sizes whose products overflow 32 bits, and absurd or negative widths.
    for (uint32_t width : {0x7FFFFFFFu, 0x40000001u, 0x80000000u, 0xFFFFFFFFu, 40000u}) {
        auto absurd = good;
        testbmp::Put32(absurd, 18, width);
        EXPECT_FALSE(ReadBitmapHeader(absurd.data(), absurd.size(), &info)) << "width " << width;
    }
    for (uint32_t height : {0x7FFFFFFFu, 0x80000000u, 0x40000001u}) {
        auto absurd = good;
        testbmp::Put32(absurd, 22, height);
        EXPECT_FALSE(ReadBitmapHeader(absurd.data(), absurd.size(), &info)) << "height " << height;
    }
}

TEST_F(BitmapDecoding, NegativeHeightAndBitCountZeroArePassedOn) {
    auto topDown = Solid(2, -3, 24, 0);
    BitmapInfo info = Read(topDown);
    EXPECT_EQ(info.height, -3);

    auto noBits = Solid(2, 2, 24, 0);
    testbmp::Put16(noBits, 28, 0);
    EXPECT_EQ(Read(noBits).bitCount, 0);
}

// Each file is copied onto a screen of its own depth, where the bytes pass
// unchanged, so only the row layout is under test.
TEST_F(BitmapDecoding, RowsArePaddedToFourBytesForEveryBitCountAndWidth) {
    for (int bitCount : {8, 16, 24, 32}) {
        for (int width = 1; width <= 6; ++width) {
            SCOPED_TRACE("bit count " + std::to_string(bitCount) + ", width " + std::to_string(width));
            const int height = 3;
            auto value = [](int row, int x) { return 0x01020304u * (row + 1) + 0x11111111u * x; };
            auto file = Make(width, height, bitCount, value);
            size_t bytes = bitCount / 8;
            ASSERT_EQ(file.size(), 54 + testbmp::Stride(width, bitCount) * height);
            UseScreen(bitCount, bitCount == 16 ? kPixel555 : kPixel565);
            BitmapInfo info = Read(file);

            Destination out(height, width * static_cast<int>(bytes) + 8);
            ASSERT_TRUE(CopyBitmapToSurface(info, out.base(), out.pitch));
            for (int row = 0; row < height; ++row) {
                uint8_t* line = out.row(height - 1 - row);
                for (int x = 0; x < width; ++x) {
                    uint32_t got = 0;
                    for (size_t b = 0; b < bytes; ++b) got |= static_cast<uint32_t>(line[x * bytes + b]) << (8 * b);
                    uint32_t mask = bytes == 4 ? 0xFFFFFFFFu : (1u << (8 * bytes)) - 1;
                    EXPECT_EQ(got, value(row, x) & mask) << "row " << row << " x " << x;
                }
                for (int i = width * static_cast<int>(bytes); i < out.pitch; ++i)
                    EXPECT_EQ(line[i], Destination::kCanary) << "written past the row at byte " << i;
            }
        }
    }
}

TEST_F(BitmapDecoding, FirstStoredRowIsTheBottomRow) {
    auto file = Make(3, 4, 24, [](int row, int) { return row == 0 ? 0xFF0000u : 0u; });  // red, then black
    UseScreen(16, kPixel565);
    Destination out(4, 3 * 2);
    ASSERT_TRUE(CopyBitmapToSurface(Read(file), out.base(), out.pitch));
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 3; ++x) EXPECT_EQ(out.Read16(x, y), y == 3 ? 0xF800u : 0u) << "x " << x << " y " << y;
}

TEST_F(BitmapDecoding, TrueColourPixelsOnSixteenBitScreens) {
    auto white = Solid(1, 1, 24, 0xFFFFFF);
    auto mixed = Solid(1, 1, 24, 0x123456);        // R 0x12, G 0x34, B 0x56
    auto mixed32 = Solid(1, 1, 32, 0xAB123456);

    struct Case {
        const std::vector<uint8_t>* file;
        int32_t layout;
        uint32_t expected;
    } cases[] = {
        {&white, kPixel565, 0xFFFF},
        {&white, kPixel555, 0x7FFF},
        {&mixed, kPixel565, (0x12u >> 3) << 11 | (0x34u >> 2) << 5 | (0x56u >> 3)},
        {&mixed, kPixel555, (0x12u >> 3) << 10 | (0x34u >> 3) << 5 | (0x56u >> 3)},
        {&mixed32, kPixel565, (0x12u >> 3) << 11 | (0x34u >> 2) << 5 | (0x56u >> 3)},
        // Any other code on a 16-bit screen packs as 5-6-5.
        {&white, kPixelOther, 0xFFFF},
    };
    for (const Case& c : cases) {
        UseScreen(16, c.layout);
        Destination out(1, 2);
        ASSERT_TRUE(CopyBitmapToSurface(Read(*c.file), out.base(), out.pitch));
        EXPECT_EQ(out.Read16(0, 0), c.expected) << "layout " << c.layout;
    }
}

TEST_F(BitmapDecoding, SixteenBitFilePixels) {
    auto white = Solid(1, 1, 16, 0x7FFF);
    auto fields = Solid(1, 1, 16, (3u << 10) | (17u << 5) | 29u);
    auto topBit = Solid(1, 1, 16, 0xFFFF);

    UseScreen(16, kPixel565);
    Destination a(1, 2);
    ASSERT_TRUE(CopyBitmapToSurface(Read(white), a.base(), a.pitch));
    EXPECT_EQ(a.Read16(0, 0), 0xFFDFu);  // green's new low bit stays 0
    Destination b(1, 2);
    ASSERT_TRUE(CopyBitmapToSurface(Read(fields), b.base(), b.pitch));
    EXPECT_EQ(b.Read16(0, 0), (3u << 11) | (34u << 5) | 29u);
    Destination c(1, 2);
    ASSERT_TRUE(CopyBitmapToSurface(Read(topBit), c.base(), c.pitch));
    EXPECT_EQ(c.Read16(0, 0), 0xFFDFu);  // bit 15 is dropped

    UseScreen(16, kPixel555);
    Destination d(1, 2);
    ASSERT_TRUE(CopyBitmapToSurface(Read(topBit), d.base(), d.pitch));
    EXPECT_EQ(d.Read16(0, 0), 0xFFFFu);  // unchanged, bit 15 included

    UseScreen(24, kPixel24BlueLow);
    Destination e(1, 4);
    ASSERT_TRUE(CopyBitmapToSurface(Read(white), e.base(), e.pitch));
    EXPECT_EQ(std::vector<uint8_t>(e.bytes.begin(), e.bytes.end()),
              (std::vector<uint8_t>{0xF8, 0xF8, 0xF8, Destination::kCanary}));

    UseScreen(32, kPixel32BlueLow);
    Destination f(1, 4);
    ASSERT_TRUE(CopyBitmapToSurface(Read(white), f.base(), f.pitch));
    EXPECT_EQ(f.bytes, (std::vector<uint8_t>{0xF8, 0xF8, 0xF8, 0x00}));

    UseScreen(32, kPixel32BlueLow);
    Destination g(1, 4);
    ASSERT_TRUE(CopyBitmapToSurface(Read(fields), g.base(), g.pitch));
    EXPECT_EQ(g.bytes, (std::vector<uint8_t>{29 << 3, 17 << 3, 3 << 3, 0x00}));
}

TEST_F(BitmapDecoding, TrueColourScreensTakeFileBytesInFileOrder) {
    auto rgb = Solid(1, 1, 24, 0x123456);
    auto rgba = Solid(1, 1, 32, 0xAB123456);
    // The red-low layouts are not told apart: blue is still written first.
    for (int32_t layout : {kPixel24RedLow, kPixel24BlueLow}) {
        UseScreen(24, layout);
        Destination a(1, 4);
        ASSERT_TRUE(CopyBitmapToSurface(Read(rgb), a.base(), a.pitch));
        EXPECT_EQ(a.bytes, (std::vector<uint8_t>{0x56, 0x34, 0x12, Destination::kCanary}));
        Destination b(1, 4);
        ASSERT_TRUE(CopyBitmapToSurface(Read(rgba), b.base(), b.pitch));
        EXPECT_EQ(b.bytes, (std::vector<uint8_t>{0x56, 0x34, 0x12, Destination::kCanary}));
    }
    UseScreen(32, kPixel32RedLow);
    Destination c(1, 4);
    ASSERT_TRUE(CopyBitmapToSurface(Read(rgb), c.base(), c.pitch));
    EXPECT_EQ(c.bytes, (std::vector<uint8_t>{0x56, 0x34, 0x12, 0x00}));  // black stays the key value 0
    Destination d(1, 4);
    ASSERT_TRUE(CopyBitmapToSurface(Read(rgba), d.base(), d.pitch));
    EXPECT_EQ(d.bytes, (std::vector<uint8_t>{0x56, 0x34, 0x12, 0xAB}));
}

TEST_F(BitmapDecoding, UnknownScreenDepthWritesNothing) {
    auto file = Solid(2, 2, 24, 0xFFFFFF);
    for (int depth : {0, 4, 15, 64}) {
        UseScreen(depth, kPixelOther);
        Destination out(2, 8);
        EXPECT_FALSE(CopyBitmapToSurface(Read(file), out.base(), out.pitch)) << "depth " << depth;
        for (uint8_t byte : out.bytes) ASSERT_EQ(byte, Destination::kCanary);
    }
}

TEST_F(BitmapDecoding, BitCountZeroReadsIndicesOnEightBitAndTriplesDeeper) {
    // Six bytes per row of data: enough for 1-byte indices (stride 4), not
    // for 3-byte pixels (stride 8).
    auto file = Make(3, 2, 8, [](int row, int x) { return static_cast<uint32_t>(10 * row + x + 1); });
    testbmp::Put16(file, 28, 0);
    BitmapInfo info = Read(file);

    UseScreen(8, kPixelOther);
    Destination indices(2, 3);
    ASSERT_TRUE(CopyBitmapToSurface(info, indices.base(), indices.pitch));
    EXPECT_EQ(indices.bytes, (std::vector<uint8_t>{11, 12, 13, 1, 2, 3}));

    UseScreen(16, kPixel565);
    Destination deeper(2, 6);
    EXPECT_FALSE(CopyBitmapToSurface(info, deeper.base(), deeper.pitch));
    for (uint8_t byte : deeper.bytes) ASSERT_EQ(byte, Destination::kCanary);

    auto wide = Make(2, 1, 24, [](int, int x) { return x ? 0xFFFFFFu : 0x0000F8u; });
    testbmp::Put16(wide, 28, 0);
    Destination triples(1, 4);
    ASSERT_TRUE(CopyBitmapToSurface(Read(wide), triples.base(), triples.pitch));
    EXPECT_EQ(triples.Read16(0, 0), 0x001Fu);
    EXPECT_EQ(triples.Read16(1, 0), 0xFFFFu);
}

TEST_F(BitmapDecoding, RawBlockRowsFollowEachOtherTopRowFirst) {
    auto file = Make(5, 3, 8, [](int row, int x) { return static_cast<uint32_t>(16 * row + x); });
    ASSERT_EQ(testbmp::Stride(5, 8), 8u);
    std::vector<uint8_t> block(5 * 3 + 4, 0xC3);
    CopyBitmapToBlock(Read(file), block.data());
    EXPECT_EQ(block, (std::vector<uint8_t>{32, 33, 34, 35, 36, 16, 17, 18, 19, 20, 0, 1, 2, 3, 4, 0xC3, 0xC3, 0xC3,
                                           0xC3}));
}

TEST_F(BitmapDecoding, CopiesRefuseRowsThatAreNotThere) {
    // A header that passed, paired with fewer bytes than the rows need (as a
    // caller could hand over): nothing is read past them or written.
    auto file = Solid(4, 4, 8, 7);
    BitmapInfo info = Read(file);
    info.available -= 1;
    std::vector<uint8_t> block(16, 0xC3);
    CopyBitmapToBlock(info, block.data());
    for (uint8_t byte : block) EXPECT_EQ(byte, 0xC3);
    UseScreen(8, kPixelOther);
    Destination out(4, 4);
    EXPECT_FALSE(CopyBitmapToSurface(info, out.base(), out.pitch));
    EXPECT_FALSE(BitmapRowsPresent(info, 1));
    info.available += 1;
    EXPECT_TRUE(BitmapRowsPresent(info, 1));
}

}  // namespace
