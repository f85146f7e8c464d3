// 2D drawing: the drawing context on a lent device context and on the back
// buffer, the numbered fonts, and the stand-in's GDI text under them.

#include "fixture.h"
#include "platform/host/fonts.h"

namespace {

const standin::PixelLayout k565{16, 0xF800, 0x07E0, 0x001F};
const COLORREF kWhite565 = 0x00F8FCF8;  // 5-6-5 white reads back unreplicated

int releases = 0;
void CountRelease() { ++releases; }

struct Box { int left = 1 << 20, top = 1 << 20, right = -1, bottom = -1, count = 0; };  // inclusive

// The pixels (x, y) of the area that `ink` holds for.
template <class Ink>
Box InkOf(int width, int height, Ink ink) {
    Box b;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            if (ink(x, y))
                b = {std::min(b.left, x), std::min(b.top, y), std::max(b.right, x), std::max(b.bottom, y), b.count + 1};
    return b;
}

HFONT MakeFont(int height, const char* face, int weight = FW_NORMAL) {
    return CreateFontA(height, 0, 0, 0, weight, 0, 0, 0, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                       DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE, face);
}

// A drawing on a 160 x 60 5-6-5 surface of our own, lent as a kind-7 output.
class DrawingTest : public RuntimeTest {
protected:
    void SetUp() override {
        RuntimeTest::SetUp();
        releases = 0;
        InitDrawing();
        InitFonts();
        standin::InitSurface(surface, 160, 60, k565, 0);
        dc = standin::CreateSurfaceDC(&surface);
        output = DrawingOutput{kOutputLentDC, dc, CountRelease};
    }
    standin::DeviceContext& Dc() { return *standin::DcOf(dc); }
    HGDIOBJ Brush() { return static_cast<HGDIOBJ>(Dc().brush); }
    // The surface's pixels whose colour `match` holds for; by default, those not black.
    template <class Match>
    Box Ink(Match match) {
        return InkOf(surface.width, surface.height, [&](int x, int y) { return match(GetPixel(dc, x, y)); });
    }
    Box Ink() { return Ink([](COLORREF c) { return c != 0; }); }
    // Fills the surface and puts the current position back in the corner.
    void Fill(COLORREF color) {
        for (int i = 0; i < surface.width * surface.height; ++i)
            surface.WriteRaw(i % surface.width, i / surface.width, standin::ColorToPixel(k565, color));
        Dc().position = POINT{0, 0};
    }

    standin::Surface surface;
    HDC dc = nullptr;
    DrawingOutput output{};
};

TEST_F(DrawingTest, BeginSetsUpTheContextEndPutsItBackAndWhileIdleNothingChanges) {
    const auto [brushBefore, penBefore] = std::pair(Dc().brush, Dc().pen);
    EXPECT_EQ(BeginDrawing(&output), dc);
    EXPECT_TRUE(Dc().textAlign == TA_UPDATECP && Dc().textColor == 0 && Brush() == drawing.defaultBrush &&
                static_cast<HGDIOBJ>(Dc().pen) == drawing.defaultPen);
    EXPECT_TRUE(Dc().brush->color == 0 && !Dc().brush->hollow && Dc().pen->color == 0);
    SetFrontColor(1, 2, 3);
    HBRUSH brush = drawing.colorBrush;
    EndDrawing();
    EXPECT_TRUE(Dc().brush == brushBefore && Dc().pen == penBefore && !standin::ObjectOf(brush))
        << "the context's own are put back, the colour brush deleted";
    EndDrawing();
    EXPECT_EQ(releases, 1) << "given back once";
    EXPECT_TRUE(CallsOf([] { SetFrontColor(200, 100, 50); SetDrawingMode(7); DrawString("A"); }, {""}).empty() &&
                drawing.frontColor == 0x00030201u && drawing.mode == 0 &&
                ReadPixel(0, 0) == static_cast<COLORREF>(-1)) << "idle: nothing changes";
    BeginDrawing(&output);
    DrawingOutput empty{kOutputLentDC, nullptr, CountRelease};
    EXPECT_EQ(BeginDrawing(&empty), nullptr) << "no device context: the open drawing closes, nothing begins";
    EndDrawing();
    EXPECT_EQ(releases, 2);
}

TEST_F(DrawingTest, FrontColourIsRedLowUnclampedAndModesChooseFillRasterAndBackground) {
    BeginDrawing(&output);
    // Summed without masking, wrapping at 32 bits like the value itself (the top byte is GDI's business).
    for (auto [r, g, b, packed] : {std::tuple{-1, 0, 0, 0xFFFFFFFFu}, {INT32_MAX, INT32_MAX, INT32_MAX, 0x7FFEFEFFu}}) {
        SetFrontColor(r, g, b);
        EXPECT_EQ(drawing.frontColor, packed) << r;
    }
    for (auto [r, g, b, packed] : {std::tuple{255, 255, 255, 0x00FFFFFFu}, {256, 0, 0, 0x00000100u}}) {
        HBRUSH oldBrush = drawing.colorBrush;
        SetFrontColor(r, g, b);
        EXPECT_TRUE(drawing.frontColor == packed && Dc().textColor == packed && Dc().pen->color == packed) << r;
        EXPECT_TRUE(Brush() == drawing.colorBrush && Dc().brush->color == packed) << r;
        // Gone, or its memory went straight to the new pen (ThreadSanitizer's allocator reuses it at once).
        EXPECT_TRUE(!oldBrush || !standin::ObjectOf(oldBrush) || static_cast<HGDIOBJ>(oldBrush) == drawing.colorPen) << "deleted";
    }
    HBRUSH kept = drawing.colorBrush;
    faults::Fail("CreateSolidBrush", 1);
    SetFrontColor(9, 8, 7);
    EXPECT_TRUE(drawing.colorBrush == kept && Dc().textColor == 0x00070809u) << "kept, and the text colour still set";
    const HGDIOBJ nullBrush = GetStockObject(NULL_BRUSH);
    SetDrawingMode(kDrawNoFill);
    SetFrontColor(10, 20, 30);
    EXPECT_TRUE(Brush() == nullBrush && drawing.colorBrush == kept && Dc().pen->color == 0x001E140Au);
    SetDrawingMode(kDrawTransparent | kDrawInvert | 64);
    EXPECT_TRUE(Dc().rop2 == R2_NOT && Dc().bkMode == TRANSPARENT && drawing.mode == (kDrawTransparent | kDrawInvert | 64));
    SetDrawingMode(0);
    EXPECT_TRUE(Dc().rop2 == R2_COPYPEN && Dc().bkMode == OPAQUE && Brush() == drawing.colorBrush);
    EndDrawing();
    BeginDrawing(&output);
    EXPECT_EQ(Brush(), drawing.defaultBrush);
    SetDrawingMode(kDrawNoFill);
    SetDrawingMode(0);
    EXPECT_EQ(Brush(), nullBrush) << "no colour brush since BeginDrawing: the null brush stays";
    EndDrawing();
}

TEST_F(DrawingTest, FontsAreSizedForTheDisplayNumberedAndReplaced) {
    for (auto [dpi, height] : {std::pair{96, -29}, {120, -37}, {110, -34}}) {  // 22 points, rounded
        faults::SetDisplayDpi(dpi);
        faults::StartRecording();
        auto* f = static_cast<standin::FontObject*>(standin::ObjectOf(LoadFontFace(1, "Arial Black", 22)));
        ASSERT_TRUE(f && f->height == height && f->weight == FW_NORMAL && !f->italic && !f->underline && !f->strikeOut &&
                    f->width == 0 && f->escapement == 0 && f->orientation == 0) << dpi << " dpi: natural width, upright";
        EXPECT_EQ(faults::RecordedMatching({"CreateDCA", "DeleteDC", "CreateFontA"}),
                  (Calls{"CreateDCA DISPLAY", "DeleteDC", "CreateFontA Arial Black"}));
    }
    for (auto [number, capacity] : {std::pair{9, 10}, {10, 20}, {12, 22}}) {
        InitFonts();
        HFONT font = LoadFontFace(number, "Arial", 10);
        EXPECT_TRUE(fonts.fontCapacity == capacity && FontHandle(number) == font) << number;
        for (int n = 0; n < capacity; ++n) EXPECT_TRUE(n == number || !FontHandle(n)) << number << " slot " << n;
    }
    HFONT second = nullptr;
    EXPECT_EQ(CallsOf([&] { second = LoadFontFace(12, "Arial", 10); }, {"DeleteObject", "CreateFontA"}),
              (Calls{"DeleteObject font", "CreateFontA Arial"})) << "the old font goes first";
    faults::Fail("CreateFontA", 1);
    EXPECT_TRUE(!LoadFontFace(12, "Arial", 12) && !FontHandle(12) && !standin::ObjectOf(second));
    // Numbers outside the table are empty slots; a table that cannot grow stays.
    HFONT* table = fonts.fontTable;
    faults::Fail("HeapReAlloc", 1);
    for (int n : {40, -3, INT32_MAX}) EXPECT_EQ(LoadFontFace(n, "Arial", 10), nullptr) << n;
    for (int n : {-1, 22, INT32_MIN}) {
        FreeFontFace(n);
        EXPECT_EQ(FontHandle(n), nullptr) << n;
    }
    EXPECT_TRUE(fonts.fontTable == table && fonts.fontCapacity == 22);
    faults::Fail("HeapAlloc", 1);
    InitFonts();
    FreeFontFace(0);
    EXPECT_TRUE(!fonts.fontTable && !FontHandle(0) && !LoadFontFace(0, "Arial", 10)) << "no table: no slots";
}

// GDI text: placed at the current position, which it moves along the line; drawn in the text colour
// whatever the raster operation, blended at its smoothed edges, over a filled cell only when opaque.
TEST_F(DrawingTest, TextFollowsTheCurrentPositionInTheTextColourWhateverTheRasterOperation) {
    SelectObject(dc, MakeFont(-20, "DejaVu Sans"));
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, RGB(255, 255, 255));
    TextOutA(dc, 40, 30, "AV", 2);
    EXPECT_TRUE(Ink().left >= 40 && Dc().position.x == 0 && Dc().position.y == 0) << "at the point, without TA_UPDATECP";
    Fill(0);
    SetTextAlign(dc, TA_UPDATECP);
    TextOutA(dc, 99, 99, "AV", 2);
    const Box together = Ink();
    Fill(0);
    TextOutA(dc, 99, 99, "A", 1);
    const LONG afterA = Dc().position.x;
    TextOutA(dc, 99, 99, "V", 1);
    const Box pieces = Ink();
    EXPECT_TRUE(afterA > 8 && Dc().position.x > afterA && Dc().position.y == 0);
    EXPECT_TRUE(pieces.left == together.left && pieces.right == together.right && pieces.count == together.count);
    EXPECT_LT(together.left, 4) << "from the corner";
    EXPECT_EQ(Ink([](COLORREF p) { return GetRValue(p) != GetBValue(p); }).count, 0) << "grey edges between black and white";
    EXPECT_GT(Ink([](COLORREF p) { return p != 0 && p != kWhite565; }).count, 10) << "smoothed";

    Fill(RGB(255, 255, 255));
    SetROP2(dc, R2_NOT);
    SetTextColor(dc, RGB(255, 0, 0));
    TextOutA(dc, 0, 0, "AV", 2);
    EXPECT_GT(Ink([](COLORREF p) { return p == 0x0000F8u; }).count, 20) << "text is never inverted";
    EXPECT_EQ(Ink([](COLORREF p) { return p == 0; }).count, 0) << "text is never inverted";
    SetBkMode(dc, OPAQUE);
    SetBkColor(dc, RGB(0, 255, 0));
    Fill(0);
    TextOutA(dc, 0, 0, "AV", 2);
    const Box cell = Ink();
    EXPECT_EQ(cell.count, (cell.right - cell.left + 1) * (cell.bottom - cell.top + 1)) << "a solid cell";
}

TEST_F(DrawingTest, ArialBlackIsAHeavyFaceAndBadCallsFailSafely) {
    EXPECT_GE(standin::host::ResolveFace("Arial Black", FW_NORMAL, false).weight, 700);
    EXPECT_TRUE(standin::host::ResolveFace("No Such Family 123", FW_NORMAL, false).found);
    auto density = [&](HFONT font) {
        SelectObject(dc, font);
        SetBkMode(dc, TRANSPARENT);
        SetTextColor(dc, RGB(255, 255, 255));
        Fill(0);
        TextOutA(dc, 2, 0, "HOW", 3);
        const Box b = Ink();
        return static_cast<double>(b.count) / ((b.right - b.left + 1) * (b.bottom - b.top + 1));
    };
    EXPECT_GE(density(MakeFont(-29, "Arial Black")), 1.25 * density(MakeFont(-29, "Arial")));
    EXPECT_FALSE(TextOutA(nullptr, 0, 0, "A", 1) || TextOutA(dc, 0, 0, nullptr, 3) || TextOutA(dc, 0, 0, "A", -1));
    for (auto [x, y] : {std::pair{-8, -10}, {150, 50}, {5000, -5000}}) EXPECT_TRUE(TextOutA(dc, x, y, "WW", 2));
    for (auto [x, y] : {std::pair{-1, 0}, {0, -1}, {160, 0}, {0, 60}}) EXPECT_EQ(GetPixel(dc, x, y), CLR_INVALID);
}

class BackBufferDrawingTest : public DrawingTest {
protected:
    void SetUp() override {
        DrawingTest::SetUp();
        Open();
        ASSERT_NE(LoadFontFace(0, "Arial Black", 22), nullptr);
    }
    // One drawing as the glyph capture makes it, and the ink it left.
    Box WriteText(std::initializer_list<const char*> texts) {
        EXPECT_NE(BeginDrawing(BackBufferOutput()), nullptr);
        SetDrawingFont(FontHandle(0));
        SetDrawingMode(kDrawTransparent);
        SetFrontColor(255, 255, 255);
        for (const char* text : texts) DrawString(text);
        const Box ink = InkOf(200, 48, [](int x, int y) { return ReadPixel(x, y) != 0; });
        EndDrawing();
        ClearScreen(0, 0, 0);
        return ink;
    }
};

TEST_F(BackBufferDrawingTest, TheOutputLendsTheBackBuffersContextOnceUntilGivenBack) {
    DrawingOutput* out = BackBufferOutput();
    ASSERT_TRUE(out && out->kind == 7 && out->dc == screen.backBufferDC && out->release == ReleaseBackBufferDC);
    EXPECT_EQ(BackBufferOutput(), nullptr) << "already lent";
    ASSERT_EQ(BeginDrawing(out), screen.backBufferDC);
    EXPECT_EQ(BeginDrawing(BackBufferOutput()), nullptr) << "the open drawing still holds it: closed, nothing begins";
    EXPECT_TRUE(drawing.dc == nullptr && screen.backBufferDC == nullptr);
    for (const char* call : {"IDirectDrawSurface7::Lock", "IDirectDrawSurface7::GetDC"}) {
        faults::Fail(call, 1);
        EXPECT_EQ(BackBufferOutput(), nullptr) << call;
    }
    CloseScreen();
    EXPECT_EQ(BackBufferOutput(), nullptr) << "no open screen";
}

// Ending a drawing on the back buffer, by EndDrawing or by a flip, puts the brush and pen it found
// back once each and gives the context back once; the next drawing gets a live context of its own.
TEST_F(BackBufferDrawingTest, EndingADrawingPutsItsObjectsBackOnce) {
    const Box before = WriteText({"I"});
    ASSERT_GT(before.count, 20);
    for (bool byFlip : {false, true}) {
        SCOPED_TRACE(byFlip ? "flip" : "EndDrawing");
        ASSERT_NE(BeginDrawing(BackBufferOutput()), nullptr);
        EXPECT_EQ(CallsOf([&] { byFlip ? (void)FlipBuffers() : EndDrawing(); },
                          {"SelectObject", "IDirectDrawSurface7::ReleaseDC"}),
                  (Calls{"SelectObject brush", "SelectObject pen", "IDirectDrawSurface7::ReleaseDC backbuffer"}));
        EXPECT_EQ(drawing.dc, nullptr);
        EXPECT_EQ(WriteText({"I"}).count, before.count);
    }
    ASSERT_NE(BeginDrawing(BackBufferOutput()), nullptr);
    CloseScreen();
    EXPECT_EQ(drawing.dc, nullptr) << "closing the screen ends it too";
}

TEST_F(BackBufferDrawingTest, StringsFollowEachOtherAndANewDrawingStartsAtTheCorner) {
    const Box one = WriteText({"I"}), two = WriteText({"I", "", nullptr, "I"}), together = WriteText({"II"});
    ASSERT_GT(one.count, 20);
    EXPECT_EQ(two.count, 2 * one.count) << "the second I is a whole second letter; no string draws nothing";
    EXPECT_TRUE(two.top == one.top && two.bottom == one.bottom && two.left == one.left) << "on the same line";
    EXPECT_GT(two.right, one.right + 4);
    EXPECT_TRUE(together.right == two.right && together.count == two.count);
    const Box again = WriteText({"I"});
    EXPECT_TRUE(again.left == one.left && again.right == one.right && again.count == one.count);
}

}  // namespace
