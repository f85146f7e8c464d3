// The drawing context: one drawing at a time on a lent device context, the
// front colour with its brush and pen, modes, text along a line, pixels back.
#include <algorithm>

#include "platform/gdi_internal.h"
#include "platform/standin.h"
#include "screen/color.h"
#include "screen_helpers.h"

namespace {

int releases = 0;
void CountRelease() { ++releases; }

struct Ink {
    int left = 1 << 20, right = -1, top = 1 << 20, bottom = -1, count = 0;
};

// Non-black pixels of the active drawing in a region, read through ReadPixel.
Ink ReadInk(int width, int height) {
    Ink ink;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            if (ReadPixel(x, y) == 0) continue;
            ink.left = std::min(ink.left, x);
            ink.right = std::max(ink.right, x);
            ink.top = std::min(ink.top, y);
            ink.bottom = std::max(ink.bottom, y);
            ++ink.count;
        }
    return ink;
}

// A drawing on a surface of our own, lent as a kind-7 output.
class DrawingTest : public ScreenTest {
protected:
    void SetUp() override {
        ScreenTest::SetUp();
        releases = 0;
        InitDrawing();
        InitFonts();
        standin::InitSurface(surface, 160, 60, standin::PixelLayout{16, 0xF800, 0x07E0, 0x001F}, 0);
        dc = standin::CreateSurfaceDC(&surface);
        output = DrawingOutput{kOutputLentDC, dc, CountRelease};
    }
    standin::DeviceContext& Dc() { return *standin::DcOf(dc); }
    standin::GdiObject* Selected(HGDIOBJ h) { return standin::ObjectOf(h); }

    standin::Surface surface;
    HDC dc = nullptr;
    DrawingOutput output{};
};

TEST_F(DrawingTest, InitMakesABlackBrushAndAOnePixelBlackPen) {
    auto* brush = static_cast<standin::BrushObject*>(standin::ObjectOf(drawing.defaultBrush));
    auto* pen = static_cast<standin::PenObject*>(standin::ObjectOf(drawing.defaultPen));
    ASSERT_NE(brush, nullptr);
    ASSERT_NE(pen, nullptr);
    EXPECT_EQ(brush->kind, standin::GdiKind::brush);
    EXPECT_EQ(brush->color, 0u);
    EXPECT_FALSE(brush->hollow);
    EXPECT_EQ(pen->style, PS_SOLID);
    EXPECT_EQ(pen->width, 0);
    EXPECT_EQ(pen->color, 0u);
}

TEST_F(DrawingTest, BeginSetsUpTheContextAndEndPutsBrushAndPenBack) {
    standin::BrushObject* brushBefore = Dc().brush;
    standin::PenObject* penBefore = Dc().pen;
    Dc().textColor = 0x123456;

    EXPECT_EQ(BeginDrawing(&output), dc);
    EXPECT_EQ(drawing.dc, dc);
    EXPECT_EQ(drawing.kind, kOutputLentDC);
    EXPECT_EQ(Dc().textAlign, static_cast<UINT>(TA_UPDATECP));
    EXPECT_EQ(Dc().textColor, 0u);
    EXPECT_EQ(static_cast<HGDIOBJ>(Dc().brush), static_cast<HGDIOBJ>(drawing.defaultBrush));
    EXPECT_EQ(static_cast<HGDIOBJ>(Dc().pen), static_cast<HGDIOBJ>(drawing.defaultPen));

    SetFrontColor(10, 20, 30);
    HBRUSH brush = drawing.colorBrush;
    HPEN pen = drawing.colorPen;
    ASSERT_NE(brush, nullptr);
    ASSERT_NE(pen, nullptr);

    EndDrawing();
    EXPECT_EQ(Dc().brush, brushBefore);
    EXPECT_EQ(Dc().pen, penBefore);
    EXPECT_EQ(standin::ObjectOf(brush), nullptr) << "the colour brush is deleted";
    EXPECT_EQ(standin::ObjectOf(pen), nullptr) << "the colour pen is deleted";
    EXPECT_EQ(drawing.colorBrush, nullptr);
    EXPECT_EQ(drawing.colorPen, nullptr);
    EXPECT_EQ(drawing.dc, nullptr);
    EXPECT_EQ(releases, 1);
    EXPECT_EQ(drawing.frontColor, 0x001E140Au) << "kept for the next drawing";
    EXPECT_NE(standin::ObjectOf(drawing.defaultBrush), nullptr) << "the defaults live on";

    EndDrawing();
    EXPECT_EQ(releases, 1) << "a second EndDrawing does nothing";
}

TEST_F(DrawingTest, FrontColourPacksRedLowAndDoesNotClamp) {
    BeginDrawing(&output);
    SetFrontColor(255, 255, 255);
    EXPECT_EQ(drawing.frontColor, 0x00FFFFFFu);
    SetFrontColor(1, 2, 3);
    EXPECT_EQ(drawing.frontColor, 0x00030201u);
    EXPECT_EQ(Dc().textColor, 0x00030201u);
    EXPECT_EQ(Dc().pen->color, 0x00030201u);
    EXPECT_EQ(Dc().brush->color, 0x00030201u);
    EXPECT_EQ(static_cast<HGDIOBJ>(Dc().brush), static_cast<HGDIOBJ>(drawing.colorBrush));
    SetFrontColor(256, 0, 0);
    EXPECT_EQ(drawing.frontColor, 0x00000100u) << "red overflows into green";
    EXPECT_EQ(Dc().textColor, 0x00000100u);
    EndDrawing();
}

TEST_F(DrawingTest, FrontColourReplacesItsBrushAndPenWithoutLeaking) {
    BeginDrawing(&output);
    SetFrontColor(1, 1, 1);
    HBRUSH firstBrush = drawing.colorBrush;
    HPEN firstPen = drawing.colorPen;
    SetFrontColor(2, 2, 2);
    EXPECT_NE(drawing.colorBrush, nullptr);
    EXPECT_EQ(standin::ObjectOf(firstBrush), nullptr);
    EXPECT_EQ(standin::ObjectOf(firstPen), nullptr);

    // A brush that cannot be made leaves the old one selected and owned; the
    // text colour is still set.
    HBRUSH kept = drawing.colorBrush;
    faults::Fail("CreateSolidBrush", 1);
    faults::Fail("CreatePen", 1);
    HPEN keptPen = drawing.colorPen;
    SetFrontColor(9, 8, 7);
    EXPECT_EQ(drawing.colorBrush, kept);
    EXPECT_EQ(drawing.colorPen, keptPen);
    EXPECT_EQ(static_cast<HGDIOBJ>(Dc().brush), static_cast<HGDIOBJ>(kept));
    EXPECT_EQ(Dc().textColor, 0x00070809u);
    EndDrawing();
    EXPECT_EQ(standin::ObjectOf(kept), nullptr);
}

TEST_F(DrawingTest, WhileIdleNothingChanges) {
    BeginDrawing(&output);
    SetFrontColor(1, 2, 3);
    EndDrawing();
    faults::StartRecording();
    SetFrontColor(200, 100, 50);
    EXPECT_EQ(drawing.frontColor, 0x00030201u);
    EXPECT_EQ(drawing.colorBrush, nullptr);
    EXPECT_EQ(drawing.colorPen, nullptr);
    SetDrawingMode(7);
    EXPECT_EQ(drawing.mode, 0);
    DrawString("A");
    EXPECT_EQ(SetDrawingFont(nullptr), nullptr);
    EXPECT_TRUE(faults::Recorded().empty()) << faults::Recorded().front();
    EXPECT_EQ(ReadPixel(0, 0), 0xFFFFFFFFu);
    EXPECT_EQ(static_cast<int32_t>(ReadPixel(5, 5)), -1);
}

TEST_F(DrawingTest, NoFillModeGetsAPenAndTextColourButNoBrush) {
    BeginDrawing(&output);
    HGDIOBJ nullBrush = GetStockObject(NULL_BRUSH);
    SetDrawingMode(kDrawNoFill);
    EXPECT_EQ(static_cast<HGDIOBJ>(Dc().brush), nullBrush);
    SetFrontColor(10, 20, 30);
    EXPECT_EQ(drawing.colorBrush, nullptr);
    ASSERT_NE(drawing.colorPen, nullptr);
    EXPECT_EQ(static_cast<HGDIOBJ>(Dc().pen), static_cast<HGDIOBJ>(drawing.colorPen));
    EXPECT_EQ(Dc().pen->color, 0x001E140Au);
    EXPECT_EQ(Dc().textColor, 0x001E140Au);
    EXPECT_EQ(static_cast<HGDIOBJ>(Dc().brush), nullBrush) << "the null brush stays";
    // Filling again without a colour brush made since BeginDrawing: the
    // selection of a null brush fails and the null brush stays.
    SetDrawingMode(0);
    EXPECT_EQ(static_cast<HGDIOBJ>(Dc().brush), nullBrush);
    // Once there is a colour brush, filling selects it.
    SetFrontColor(1, 1, 1);
    ASSERT_NE(drawing.colorBrush, nullptr);
    SetDrawingMode(kDrawNoFill);
    SetDrawingMode(0);
    EXPECT_EQ(static_cast<HGDIOBJ>(Dc().brush), static_cast<HGDIOBJ>(drawing.colorBrush));
    EndDrawing();
}

TEST_F(DrawingTest, ModeBitsChooseRasterOperationAndBackground) {
    BeginDrawing(&output);
    SetDrawingMode(kDrawTransparent | kDrawInvert | 64);
    EXPECT_EQ(drawing.mode, kDrawTransparent | kDrawInvert | 64) << "higher bits are kept";
    EXPECT_EQ(Dc().rop2, R2_NOT);
    EXPECT_EQ(Dc().bkMode, TRANSPARENT);
    SetDrawingMode(0);
    EXPECT_EQ(Dc().rop2, R2_COPYPEN);
    EXPECT_EQ(Dc().bkMode, OPAQUE);
    EndDrawing();
    BeginDrawing(&output);
    EXPECT_EQ(drawing.mode, 0) << "each drawing starts with mode 0";
    EndDrawing();
}

TEST_F(DrawingTest, BeginWithoutADeviceContextStaysIdle) {
    BeginDrawing(&output);
    EXPECT_EQ(BeginDrawing(nullptr), nullptr);
    EXPECT_EQ(releases, 1) << "the open drawing was closed";
    EXPECT_EQ(drawing.dc, nullptr);

    DrawingOutput empty{kOutputLentDC, nullptr, CountRelease};
    EXPECT_EQ(BeginDrawing(&empty), nullptr);
    EXPECT_EQ(drawing.release, CountRelease) << "kind and release are still recorded";
    EndDrawing();
    EXPECT_EQ(releases, 1) << "nothing to give back";
}

TEST_F(DrawingTest, ReadPixelReadsTheActiveContext) {
    surface.WriteRaw(3, 4, 0xF800);  // pure red in 5-6-5
    BeginDrawing(&output);
    EXPECT_EQ(ReadPixel(3, 4), 0x000000F8u);
    EXPECT_EQ(ReadPixel(0, 0), 0u);
    EXPECT_EQ(ReadPixel(-1, 0), CLR_INVALID);
    EXPECT_EQ(ReadPixel(160, 0), CLR_INVALID);
    EndDrawing();
    EXPECT_EQ(static_cast<int32_t>(ReadPixel(3, 4)), -1);
}

TEST_F(DrawingTest, TextIsDrawnInTheFrontColourWithTheChosenBackground) {
    ASSERT_NE(LoadFontFace(0, "DejaVu Sans", 14), nullptr);
    BeginDrawing(&output);
    SetDrawingFont(FontHandle(0));
    SetFrontColor(0, 255, 0);
    SetDrawingMode(kDrawTransparent);
    DrawString("Hi");
    const Ink text = ReadInk(160, 60);
    ASSERT_GT(text.count, 10);
    for (int y = text.top; y <= text.bottom; ++y)
        for (int x = text.left; x <= text.right; ++x) {
            const COLORREF p = ReadPixel(x, y);
            EXPECT_EQ(p & 0x00FF00FF, 0u) << "only green: " << std::hex << p;
        }
    EndDrawing();

    // Opaque: the cell is filled with the context's background colour.
    std::fill(surface.pixels.begin(), surface.pixels.end(), 0);
    output.dc = dc = standin::CreateSurfaceDC(&surface);  // fresh context, position (0, 0)
    BeginDrawing(&output);
    SetDrawingFont(FontHandle(0));
    SetFrontColor(0, 255, 0);
    SetDrawingMode(0);
    DrawString("Hi");
    EXPECT_EQ(ReadPixel(0, 0), 0x00F8FCF8u) << "white background from the top-left corner";
    EndDrawing();

    // Empty and null texts draw nothing and do not move the position.
    BeginDrawing(&output);
    const LONG before = Dc().position.x;
    DrawString("");
    DrawString(nullptr);
    EXPECT_EQ(Dc().position.x, before);
    EndDrawing();
}

// ---- on the screen's back buffer ----

class BackBufferDrawingTest : public DrawingTest {
protected:
    void SetUp() override {
        DrawingTest::SetUp();
        Open();
    }
    // One drawing as the glyph capture makes it.
    void BeginText() {
        ASSERT_NE(BeginDrawing(BackBufferOutput()), nullptr);
        SetDrawingFont(FontHandle(0));
        SetDrawingMode(kDrawTransparent);
        SetFrontColor(255, 255, 255);
    }
};

TEST_F(BackBufferDrawingTest, OutputLendsTheBackBuffersContextUntilReleased) {
    DrawingOutput* out = BackBufferOutput();
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(out->kind, 7);
    EXPECT_NE(out->dc, nullptr);
    EXPECT_EQ(out->dc, screen.backBufferDC);
    EXPECT_EQ(out->release, ReleaseBackBufferDC);
    EXPECT_EQ(BackBufferOutput(), nullptr) << "the context is already lent";
    ASSERT_EQ(BeginDrawing(out), screen.backBufferDC);
    EndDrawing();
    EXPECT_EQ(screen.backBufferDC, nullptr) << "EndDrawing gave it back";
    EXPECT_NE(BackBufferOutput(), nullptr);
    ReleaseBackBufferDC();
}

TEST_F(BackBufferDrawingTest, BeginningAgainWhileTheBackBufferIsOpenGivesNothing) {
    ASSERT_NE(BeginDrawing(BackBufferOutput()), nullptr);
    EXPECT_EQ(BeginDrawing(BackBufferOutput()), nullptr);
    EXPECT_EQ(drawing.dc, nullptr);
    EXPECT_EQ(screen.backBufferDC, nullptr) << "the old drawing was closed and its context given back";
    EXPECT_NE(BeginDrawing(BackBufferOutput()), nullptr) << "and the next one works again";
    EndDrawing();
}

TEST_F(BackBufferDrawingTest, OutputFailsWhenTheBackBufferCannotBeHad) {
    faults::Fail("IDirectDrawSurface7::Lock", 1);
    EXPECT_EQ(BackBufferOutput(), nullptr);
    faults::Fail("IDirectDrawSurface7::GetDC", 1);
    EXPECT_EQ(BackBufferOutput(), nullptr);
    EXPECT_EQ(screen.backBufferDC, nullptr);
    EXPECT_EQ(BeginDrawing(BackBufferOutput()), screen.backBufferDC);
    EndDrawing();
    faults::LoseDisplay();
    EXPECT_EQ(BackBufferOutput(), nullptr);
}

TEST_F(BackBufferDrawingTest, StringsFollowEachOtherAndANewDrawingStartsAtTheCorner) {
    ASSERT_NE(LoadFontFace(0, "Arial Black", 22), nullptr);

    BeginText();
    DrawString("I");
    const Ink one = ReadInk(200, 48);
    DrawString("I");
    const Ink two = ReadInk(200, 48);
    EndDrawing();
    ClearScreen(0, 0, 0);

    ASSERT_GT(one.count, 20);
    EXPECT_EQ(two.count, 2 * one.count) << "the second I is a whole second letter";
    EXPECT_EQ(two.top, one.top) << "on the same line";
    EXPECT_EQ(two.bottom, one.bottom);
    EXPECT_EQ(two.left, one.left);
    EXPECT_GT(two.right, one.right + 4) << "to the right of the first";

    BeginText();
    DrawString("II");
    const Ink together = ReadInk(200, 48);
    EndDrawing();
    ClearScreen(0, 0, 0);
    EXPECT_EQ(together.right, two.right);
    EXPECT_EQ(together.count, two.count);

    // A new drawing gets a new context, whose position is the corner again.
    BeginText();
    DrawString("I");
    const Ink again = ReadInk(200, 48);
    EndDrawing();
    EXPECT_EQ(again.left, one.left);
    EXPECT_EQ(again.right, one.right);
    EXPECT_EQ(again.count, one.count);
}

TEST_F(BackBufferDrawingTest, WithoutAnOpenScreenThereIsNoOutput) {
    CloseScreen();
    EXPECT_EQ(BackBufferOutput(), nullptr);
    EXPECT_EQ(BeginDrawing(BackBufferOutput()), nullptr);
}

}  // namespace
