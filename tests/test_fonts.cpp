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
    static standin::FontObject* Font(HFONT handle) {
        standin::GdiObject* o = standin::ObjectOf(handle);
        return o && o->kind == standin::GdiKind::font ? static_cast<standin::FontObject*>(o) : nullptr;
    }
};

TEST_F(FontsTest, InitMakesTenEmptySlots) {
    ASSERT_NE(fonts.fontTable, nullptr);
    EXPECT_EQ(fonts.fontCapacity, 10);
    EXPECT_EQ(HeapSize(runtime.heap, 0, fonts.fontTable), 10 * sizeof(HFONT));
    for (int n = 0; n < 10; ++n) EXPECT_EQ(FontHandle(n), nullptr) << n;
}

TEST_F(FontsTest, PointsBecomeANegativeCharacterHeightAtTheDisplayResolution) {
    faults::StartRecording();
    HFONT font = LoadFontFace(0, "Arial Black", 22);
    ASSERT_NE(font, nullptr);
    EXPECT_EQ(FontHandle(0), font);
    standin::FontObject* f = Font(font);
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(f->height, -29) << "22 * 96 / 72 = 29.33";
    EXPECT_EQ(f->faceName, "Arial Black");
    // The one fixed style.
    EXPECT_EQ(f->weight, FW_NORMAL);
    EXPECT_FALSE(f->italic);
    EXPECT_FALSE(f->underline);
    EXPECT_FALSE(f->strikeOut);
    EXPECT_EQ(f->quality, static_cast<DWORD>(DEFAULT_QUALITY));
    // The display context is opened for its resolution and closed again.
    EXPECT_EQ(faults::RecordedMatching({"CreateDCA", "DeleteDC", "CreateFontA"}),
              (std::vector<std::string>{"CreateDCA DISPLAY", "DeleteDC", "CreateFontA Arial Black"}));

    faults::SetDisplayDpi(120);
    standin::FontObject* big = Font(LoadFontFace(1, "Arial Black", 22));
    ASSERT_NE(big, nullptr);
    EXPECT_EQ(big->height, -37) << "22 * 120 / 72 = 36.67";
    faults::SetDisplayDpi(72);
    EXPECT_EQ(Font(LoadFontFace(2, "Arial", 10))->height, -10);
}

TEST_F(FontsTest, ANumberAtOrAboveTheCapacityGrowsTheTableByTen) {
    HFONT twelve = LoadFontFace(12, "Arial", 10);
    ASSERT_NE(twelve, nullptr);
    EXPECT_EQ(fonts.fontCapacity, 22);
    EXPECT_EQ(HeapSize(runtime.heap, 0, fonts.fontTable), 22 * sizeof(HFONT));
    EXPECT_EQ(FontHandle(12), twelve);
    for (int n : {0, 9, 10, 11, 13, 14, 20, 21}) EXPECT_EQ(FontHandle(n), nullptr) << n;
}

TEST_F(FontsTest, GrowthKeepsTheOldSlots) {
    HFONT nine = LoadFontFace(9, "Arial", 10);
    EXPECT_EQ(fonts.fontCapacity, 10) << "9 is inside a fresh table";
    HFONT ten = LoadFontFace(10, "Arial", 10);
    EXPECT_EQ(fonts.fontCapacity, 20);
    EXPECT_EQ(FontHandle(9), nine);
    EXPECT_EQ(FontHandle(10), ten);
    EXPECT_EQ(GrowFontTable(19), 1);
    EXPECT_EQ(fonts.fontCapacity, 20);
    EXPECT_EQ(GrowFontTable(20), 1);
    EXPECT_EQ(fonts.fontCapacity, 30);
    EXPECT_EQ(FontHandle(9), nine);
    for (int n = 20; n < 30; ++n) EXPECT_EQ(FontHandle(n), nullptr) << n;
}

TEST_F(FontsTest, LoadingANumberAgainDeletesTheFirstFont) {
    HFONT first = LoadFontFace(0, "Arial Black", 22);
    ASSERT_NE(first, nullptr);
    faults::StartRecording();
    HFONT second = LoadFontFace(0, "Arial Black", 22);
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(FontHandle(0), second);
    // Deleted before the new one is made (which may then reuse its address).
    EXPECT_EQ(faults::RecordedMatching({"DeleteObject", "CreateFontA"}),
              (std::vector<std::string>{"DeleteObject font", "CreateFontA Arial Black"}));
}

TEST_F(FontsTest, AFontThatCannotBeMadeLeavesAnEmptySlot) {
    HFONT first = LoadFontFace(0, "Arial", 10);
    faults::Fail("CreateFontA", 1);
    EXPECT_EQ(LoadFontFace(0, "Arial", 12), nullptr);
    EXPECT_EQ(FontHandle(0), nullptr);
    EXPECT_EQ(standin::ObjectOf(first), nullptr) << "the old font went before the attempt";
    faults::StartRecording();
    FreeFontFace(0);
    EXPECT_TRUE(faults::RecordedMatching({"DeleteObject"}).empty()) << "an empty slot deletes nothing";
}

TEST_F(FontsTest, NumbersOutsideTheTableAnswerAsEmpty) {
    HFONT zero = LoadFontFace(0, "Arial", 10);
    faults::StartRecording();
    EXPECT_EQ(FontHandle(-1), nullptr);
    EXPECT_EQ(FontHandle(10), nullptr);
    EXPECT_EQ(FontHandle(INT32_MAX), nullptr);
    FreeFontFace(-1);
    FreeFontFace(10);
    FreeFontFace(INT32_MIN);
    EXPECT_TRUE(faults::Recorded().empty());
    EXPECT_EQ(LoadFontFace(-3, "Arial", 10), nullptr);
    EXPECT_EQ(GrowFontTable(-3), 0);
    EXPECT_EQ(LoadFontFace(INT32_MAX, "Arial", 10), nullptr) << "a table that large cannot be had";
    EXPECT_TRUE(faults::RecordedMatching({"CreateFontA"}).empty());
    EXPECT_EQ(fonts.fontCapacity, 10);
    EXPECT_EQ(FontHandle(0), zero);
}

TEST_F(FontsTest, ATableThatCannotGrowStaysAsItWas) {
    HFONT zero = LoadFontFace(0, "Arial", 10);
    HFONT* table = fonts.fontTable;
    faults::Fail("HeapReAlloc", 1);
    faults::StartRecording();
    EXPECT_EQ(LoadFontFace(15, "Arial", 10), nullptr);
    EXPECT_EQ(fonts.fontTable, table);
    EXPECT_EQ(fonts.fontCapacity, 10);
    EXPECT_EQ(FontHandle(0), zero);
    EXPECT_TRUE(faults::RecordedMatching({"CreateFontA"}).empty()) << "no font is made for a slot that does not exist";
    EXPECT_EQ(GrowFontTable(15), 1) << "the next try can succeed";
    EXPECT_EQ(fonts.fontCapacity, 25);
}

TEST_F(FontsTest, WithoutATableNothingIsLoaded) {
    fonts = FontTable{};
    EXPECT_EQ(LoadFontFace(0, "Arial", 10), nullptr);
    EXPECT_EQ(FontHandle(0), nullptr);
    FreeFontFace(0);
}

}  // namespace
