#include <algorithm>
#include <set>

#include "core/arrays.h"
#include "core/strings.h"
#include "fixture.h"

namespace {

class ScrollerTest : public RuntimeTest {
protected:
    void SetUp() override {
        RuntimeTest::SetUp();
        AllocParticles();
        AllocGlyphTable();
        LayOutRing();
        StartScroll();
    }
    const Particle& At(int angle, int j) const { return scroller.particles[32 * (260 - angle) + j]; }
    float Brightness(int spoke, int j) const { return scroller.particles[32 * spoke + j].brightness; }
    // Fills glyph row `row` so that cell k is lit exactly when `lit(k)`.
    template <class F>
    void FillRow(int row, F lit) {
        for (int k = 0; k < 1024; ++k) GlyphCell(row, k) = lit(k) ? 255 : 0;
    }
};

TEST_F(ScrollerTest, ArraysHaveTheirSizesAndTypeCodes) {
    ArrayBlock* particles = ArrayBlockOf(scroller.particles);
    EXPECT_EQ(particles->count, 11601);
    EXPECT_EQ(particles->typeCode, 7);
    ArrayBlock* glyphs = ArrayBlockOf(scroller.glyphs);
    EXPECT_EQ(glyphs->count, 62769);
    EXPECT_EQ(glyphs->typeCode, 5);
    EXPECT_EQ(scroller.glyphStrides[0], 1029);
    EXPECT_EQ(scroller.particleCount, 10880);
    EXPECT_STREQ(scroller.scrollText, kScrollText);
}

TEST_F(ScrollerTest, LayoutPositions) {
    EXPECT_EQ(At(0, 0).x, 420.0f);
    EXPECT_EQ(At(0, 0).y, 240.0f);
    EXPECT_EQ(At(0, 31).x, 513.0f);
    EXPECT_EQ(At(0, 31).y, 240.0f);
    EXPECT_EQ(At(90, 31).x, 320.0f);
    EXPECT_EQ(At(90, 31).y, 47.0f);
    EXPECT_EQ(At(260, 0).x, 302.0f);
    EXPECT_EQ(At(260, 0).y, 338.0f);
    EXPECT_EQ(At(-79, 31).x, 356.0f);
    EXPECT_EQ(At(-79, 31).y, 429.0f);
}

TEST_F(ScrollerTest, LayoutSpansAndUntouchedTail) {
    float minX = 1e9f, maxX = -1e9f, minY = 1e9f, maxY = -1e9f;
    for (int i = 0; i < scroller.particleCount; ++i) {
        const Particle& p = scroller.particles[i];
        minX = std::min(minX, p.x);
        maxX = std::max(maxX, p.x);
        minY = std::min(minY, p.y);
        maxY = std::max(maxY, p.y);
        EXPECT_EQ(p.brightness, 0.0f);
    }
    EXPECT_EQ(minX, 127.0f);
    EXPECT_EQ(maxX, 513.0f);
    EXPECT_EQ(minY, 47.0f);
    EXPECT_EQ(maxY, 429.0f);
    for (int i = 10880; i <= 11601; ++i) {
        const Particle& p = scroller.particles[i];
        ASSERT_TRUE(p.x == 0 && p.y == 0 && p.brightness == 0) << i;
    }
}

TEST_F(ScrollerTest, FirstFrameShowsGlyphColumnOneOfTheFirstCharacter) {
    // Light glyph column x of every row's cells with the pattern "x odd and
    // within the column, the row j lit when j == x % 32".
    for (int row = 0; row < 59; ++row) FillRow(row, [](int k) { return k % 32 == (k / 32) % 32; });
    AdvanceScroll();
    EXPECT_EQ(scroller.column, 32);
    EXPECT_EQ(scroller.textPos, 0);
    for (int j = 0; j < 32; ++j) EXPECT_EQ(Brightness(339, j), j == 1 ? 255.0f : 0.0f) << j;
}

TEST_F(ScrollerTest, EachCharacterTakes26FramesAndTheFirstIsShownTwice) {
    std::vector<int> positions;
    for (int frame = 0; frame < 26 * 3; ++frame) {
        AdvanceScroll();
        positions.push_back(scroller.textPos);
    }
    // Frames 1..25 show textPos 0 (columns 1..25), then 26 frames of 1, then 2.
    EXPECT_EQ(std::count(positions.begin(), positions.end(), 0), 25);
    EXPECT_EQ(std::count(positions.begin(), positions.end(), 1), 26);
    EXPECT_EQ(std::count(positions.begin(), positions.end(), 2), 26);
    // The 78th frame starts the fourth position at column 0.
    EXPECT_EQ(std::count(positions.begin(), positions.end(), 3), 1);
    EXPECT_EQ(scroller.column, 0);
}

TEST_F(ScrollerTest, TextPosWrapsAfterTheLastPosition) {
    scroller.textPos = 90;
    scroller.column = 800;
    AdvanceScroll();
    EXPECT_EQ(scroller.textPos, 0);
    EXPECT_EQ(scroller.column, 0);
    scroller.textPos = 89;
    scroller.column = 800;
    AdvanceScroll();
    EXPECT_EQ(scroller.textPos, 90);
}

TEST_F(ScrollerTest, LastTwoSpokesEqualAfterEveryStepAndTheTextMovesOneSpokeAFrame) {
    for (int row = 0; row < 59; ++row) FillRow(row, [row](int k) { return (k * 7 + row * 13) % 5 == 0; });
    std::vector<float> before(10880);
    for (int frame = 0; frame < 200; ++frame) {
        for (int i = 0; i < 10880; ++i) before[i] = scroller.particles[i].brightness;
        AdvanceScroll();
        // The new column is fed into the last spoke before the shift, so the
        // spoke before it takes the new column too.
        for (int j = 0; j < 32; ++j) ASSERT_EQ(Brightness(339, j), Brightness(338, j)) << frame;
        for (int i = 0; i < 10816; ++i) ASSERT_EQ(scroller.particles[i].brightness, before[i + 32]) << frame;
    }
}

TEST_F(ScrollerTest, ASpaceLeavesItsSpokesDarkAndAnEmptyTableLightsNothing) {
    for (int frame = 0; frame < 400; ++frame) {
        AdvanceScroll();
        for (int i = 0; i < 10880; ++i) ASSERT_EQ(scroller.particles[i].brightness, 0.0f) << frame;
    }
    FillRow('H' - 32, [](int) { return true; });
    FillRow(0, [](int) { return false; });
    scroller.textPos = 0;
    scroller.column = 0;
    // Positions 0 and 1 both show the first space, position 2 the second:
    // 25 + 26 + 26 dark frames, then the first column of H.
    for (int frame = 0; frame < 77; ++frame) AdvanceScroll();
    for (int i = 0; i < 10880; ++i) ASSERT_EQ(scroller.particles[i].brightness, 0.0f);
    AdvanceScroll();
    EXPECT_EQ(Brightness(339, 0), 255.0f);
}

TEST_F(ScrollerTest, CharacterWithoutAGlyphRowShowsBlank) {
    for (int row = 0; row < 61; ++row) FillRow(row, [](int) { return true; });
    // Positions are 1-based and the last one is never shown: 2..4 are the
    // three characters without a row.
    char odd[] = {'A', '\x7F', '\x1F', '\xE9', 'B', 0};
    AssignString(&scroller.scrollText, odd);
    scroller.textPos = 2;
    scroller.column = 0;
    for (int step = 0; step < 25 + 26 + 26; ++step) {
        AdvanceScroll();
        for (int j = 0; j < 32; ++j) ASSERT_EQ(Brightness(339, j), 0.0f) << "position " << scroller.textPos;
    }
}

TEST_F(ScrollerTest, AdvanceScrollLeavesTheWorkAreaAsItWas) {
    BYTE* before = runtime.workPtr;
    for (int frame = 0; frame < 100; ++frame) AdvanceScroll();
    EXPECT_EQ(runtime.workPtr, before);
}

}  // namespace
