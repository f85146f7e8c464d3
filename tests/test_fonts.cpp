// The numbered font table: sizes scaled to the display, growth by number,
// replacing a font, and numbers outside the table.
#include "fixture.h"
#include "platform/gdi_internal.h"

namespace {

class FontsTest : public RuntimeTest {
protected:
    void SetUp() override {
        RuntimeTest::SetUp();
        InitFonts();
    }
};

TEST_F(FontsTest, PointsBecomeANegativeCharacterHeightAtTheDisplayResolution) {
    for (auto [dpi, height] : {std::pair{96, -29}, {120, -37}}) {  // 22 * dpi / 72, dropping the fraction
        faults::SetDisplayDpi(dpi);
        faults::StartRecording();
        auto* f = static_cast<standin::FontObject*>(standin::ObjectOf(LoadFontFace(1, "Arial Black", 22)));
        ASSERT_TRUE(f && f->kind == standin::GdiKind::font);
        EXPECT_EQ(f->height, height) << dpi;
        EXPECT_EQ(f->faceName, "Arial Black");
        // The display context is opened for its resolution and closed again.
        EXPECT_EQ(faults::RecordedMatching({"CreateDCA", "DeleteDC", "CreateFontA"}),
                  (std::vector<std::string>{"CreateDCA DISPLAY", "DeleteDC", "CreateFontA Arial Black"}));
    }
}

TEST_F(FontsTest, ANumberAtOrAboveTheCapacityGrowsTheTableToTenMore) {
    for (auto [number, capacity] : {std::pair{9, 10}, {10, 20}, {12, 22}}) {
        InitFonts();  // a fresh table of ten
        HFONT font = LoadFontFace(number, "Arial", 10);
        EXPECT_EQ(fonts.fontCapacity, capacity) << number;
        EXPECT_EQ(HeapSize(runtime.heap, 0, fonts.fontTable), capacity * sizeof(HFONT)) << number;
        EXPECT_EQ(FontHandle(number), font);
        for (int n = 0; n < capacity; ++n) {
            if (n != number) {
                EXPECT_EQ(FontHandle(n), nullptr) << number << " slot " << n;
            }
        }
    }
}

TEST_F(FontsTest, LoadingANumberAgainDeletesTheFirstFontAndAFailureLeavesItEmpty) {
    ASSERT_NE(LoadFontFace(0, "Arial Black", 22), nullptr);
    faults::StartRecording();
    HFONT second = LoadFontFace(0, "Arial Black", 22);
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(FontHandle(0), second);
    // Deleted before the new one is made (which may then reuse its address).
    EXPECT_EQ(faults::RecordedMatching({"DeleteObject", "CreateFontA"}),
              (std::vector<std::string>{"DeleteObject font", "CreateFontA Arial Black"}));

    faults::Fail("CreateFontA", 1);
    EXPECT_EQ(LoadFontFace(0, "Arial", 12), nullptr);
    EXPECT_EQ(FontHandle(0), nullptr);
    EXPECT_EQ(standin::ObjectOf(second), nullptr) << "the old font went before the attempt";
}

TEST_F(FontsTest, NumbersWithoutASlotAreRefusedAndTheTableStaysAsItWas) {
    HFONT zero = LoadFontFace(0, "Arial", 10);
    HFONT* table = fonts.fontTable;
    faults::StartRecording();
    for (int n : {-1, 10, INT32_MAX, INT32_MIN, 5}) {  // outside the table, or an empty slot inside
        EXPECT_EQ(FontHandle(n), nullptr) << n;
        FreeFontFace(n);
    }
    EXPECT_TRUE(faults::Recorded().empty()) << "nothing is deleted";
    // 15 needs a table that cannot grow now; one for INT32_MAX cannot be had at all.
    faults::Fail("HeapReAlloc", 1);
    for (int n : {15, -3, INT32_MAX}) EXPECT_EQ(LoadFontFace(n, "Arial", 10), nullptr) << n;
    EXPECT_TRUE(faults::RecordedMatching({"CreateFontA"}).empty()) << "no font is made for a slot that does not exist";
    EXPECT_EQ(fonts.fontTable, table);
    EXPECT_EQ(fonts.fontCapacity, 10);
    EXPECT_EQ(FontHandle(0), zero);
    EXPECT_NE(LoadFontFace(15, "Arial", 10), nullptr) << "the next try can succeed";
    EXPECT_EQ(fonts.fontCapacity, 25);
    EXPECT_EQ(FontHandle(0), zero) << "growth keeps the old slots";

    fonts = FontTable{};  // no table at all
    EXPECT_EQ(LoadFontFace(0, "Arial", 10), nullptr);
    EXPECT_EQ(FontHandle(0), nullptr);
}

}  // namespace
