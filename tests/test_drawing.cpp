// The drawing context: one drawing at a time on a lent device context, the
// front colour with its brush and pen, modes, text along a line, pixels back.
#include <algorithm>
#include <tuple>

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
            ink = {std::min(ink.left, x), std::max(ink.right, x), std::min(ink.top, y), std::max(ink.bottom, y),
                   ink.count + 1};
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
    HGDIOBJ Brush() { return static_cast<HGDIOBJ>(Dc().brush); }

    standin::Surface surface;
    HDC dc = nullptr;
    DrawingOutput output{};
};

TEST_F(DrawingTest, BeginSetsUpTheContextEndPutsItBackAndWhileIdleNothingChanges) {
    standin::BrushObject* brushBefore = Dc().brush;
    standin::PenObject* penBefore = Dc().pen;
    Dc().textColor = 0x123456;
    EXPECT_EQ(BeginDrawing(&output), dc);
    EXPECT_EQ(Dc().textAlign, static_cast<UINT>(TA_UPDATECP));
    EXPECT_EQ(Dc().textColor, 0u);
    // A black brush and a one-pixel black pen.
    EXPECT_TRUE(Brush() == drawing.defaultBrush && static_cast<HGDIOBJ>(Dc().pen) == drawing.defaultPen);
    EXPECT_TRUE(Dc().brush->color == 0 && !Dc().brush->hollow && Dc().pen->color == 0 && Dc().pen->width == 0);

    SetFrontColor(1, 2, 3);
    HBRUSH brush = drawing.colorBrush;
    HPEN pen = drawing.colorPen;
    EndDrawing();
    EXPECT_TRUE(Dc().brush == brushBefore && Dc().pen == penBefore) << "the context's own are put back";
    EXPECT_TRUE(!standin::ObjectOf(brush) && !standin::ObjectOf(pen)) << "the colour brush and pen are deleted";
    EXPECT_TRUE(drawing.dc == nullptr && releases == 1);
    EndDrawing();
    EXPECT_EQ(releases, 1) << "a second EndDrawing does nothing";

    faults::StartRecording();
    SetFrontColor(200, 100, 50);
    EXPECT_EQ(drawing.frontColor, 0x00030201u) << "kept from the last drawing";
    EXPECT_TRUE(drawing.colorBrush == nullptr && drawing.colorPen == nullptr);
    SetDrawingMode(7);
    EXPECT_EQ(drawing.mode, 0);
    DrawString("A");
    EXPECT_EQ(SetDrawingFont(nullptr), nullptr);
    EXPECT_TRUE(faults::Recorded().empty());
    EXPECT_EQ(static_cast<int32_t>(ReadPixel(0, 0)), -1);

    // Without a device context: the open drawing is closed and nothing begins.
    BeginDrawing(&output);
    EXPECT_EQ(BeginDrawing(nullptr), nullptr);
    DrawingOutput empty{kOutputLentDC, nullptr, CountRelease};
    EXPECT_EQ(BeginDrawing(&empty), nullptr);
    EXPECT_EQ(drawing.dc, nullptr);
    EndDrawing();
    EXPECT_EQ(releases, 2) << "only the open drawing was given back";
}

TEST_F(DrawingTest, FrontColourPacksRedLowWithoutClampingAndReplacesItsBrushAndPen) {
    BeginDrawing(&output);
    for (auto [r, g, b, packed] : {std::tuple{255, 255, 255, 0x00FFFFFFu}, {1, 2, 3, 0x00030201u},
                                   {256, 0, 0, 0x00000100u}}) {  // red overflows into green
        HBRUSH oldBrush = drawing.colorBrush;
        HPEN oldPen = drawing.colorPen;
        SetFrontColor(r, g, b);
        EXPECT_EQ(drawing.frontColor, packed);
        EXPECT_TRUE(Dc().textColor == packed && Dc().pen->color == packed && Dc().brush->color == packed) << r;
        EXPECT_EQ(Brush(), static_cast<HGDIOBJ>(drawing.colorBrush));
        // Gone; or its memory went straight to a new brush or pen (ThreadSanitizer's allocator does
        // that), which a live object's could not.
        auto gone = [](HGDIOBJ old) {
            return !standin::ObjectOf(old) || old == drawing.colorBrush || old == drawing.colorPen;
        };
        EXPECT_TRUE(!oldBrush || (gone(oldBrush) && gone(oldPen))) << "no leak";
    }
    // A brush or pen that cannot be made leaves the old one selected and owned.
    HBRUSH kept = drawing.colorBrush;
    HPEN keptPen = drawing.colorPen;
    faults::Fail("CreateSolidBrush", 1);
    faults::Fail("CreatePen", 1);
    SetFrontColor(9, 8, 7);
    EXPECT_TRUE(drawing.colorBrush == kept && drawing.colorPen == keptPen && Brush() == kept);
    EXPECT_EQ(Dc().textColor, 0x00070809u) << "the text colour is still set";
    EndDrawing();
    EXPECT_EQ(standin::ObjectOf(kept), nullptr);
}

TEST_F(DrawingTest, ModesChooseFillRasterOperationAndBackground) {
    BeginDrawing(&output);
    const HGDIOBJ nullBrush = GetStockObject(NULL_BRUSH);
    SetDrawingMode(kDrawNoFill);
    SetFrontColor(10, 20, 30);
    EXPECT_EQ(drawing.colorBrush, nullptr) << "a pen and a text colour but no brush";
    EXPECT_EQ(static_cast<HGDIOBJ>(Dc().pen), static_cast<HGDIOBJ>(drawing.colorPen));
    EXPECT_TRUE(Dc().pen->color == 0x001E140Au && Dc().textColor == 0x001E140Au);
    EXPECT_EQ(Brush(), nullBrush);
    SetDrawingMode(0);
    EXPECT_EQ(Brush(), nullBrush) << "no colour brush made yet, so the null brush stays";
    SetFrontColor(1, 1, 1);
    EXPECT_EQ(Brush(), static_cast<HGDIOBJ>(drawing.colorBrush)) << "a colour made while filling selects its brush";

    SetDrawingMode(kDrawTransparent | kDrawInvert | 64);
    EXPECT_EQ(drawing.mode, kDrawTransparent | kDrawInvert | 64) << "higher bits are kept";
    EXPECT_TRUE(Dc().rop2 == R2_NOT && Dc().bkMode == TRANSPARENT);
    SetDrawingMode(0);
    EXPECT_TRUE(Dc().rop2 == R2_COPYPEN && Dc().bkMode == OPAQUE);
    SetDrawingMode(kDrawInvert);
    EndDrawing();
    BeginDrawing(&output);
    EXPECT_EQ(drawing.mode, 0) << "each drawing starts with mode 0";
    EndDrawing();
}

TEST_F(DrawingTest, PixelsAndOpaqueTextReadBackFromTheActiveDrawing) {
    ASSERT_NE(LoadFontFace(0, "DejaVu Sans", 14), nullptr);
    surface.WriteRaw(150, 50, 0xF800);  // pure red in 5-6-5
    BeginDrawing(&output);
    EXPECT_EQ(ReadPixel(150, 50), 0x000000F8u);
    EXPECT_TRUE(ReadPixel(-1, 0) == CLR_INVALID && ReadPixel(160, 0) == CLR_INVALID);
    SetDrawingFont(FontHandle(0));
    SetFrontColor(0, 255, 0);
    DrawString("Hi");
    EXPECT_EQ(ReadPixel(0, 0), 0x00F8FCF8u) << "opaque: white background from the corner";
    // Empty and null texts draw nothing and do not move the position.
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
    // One drawing as the glyph capture makes it: "I" once or more, then the ink.
    Ink WriteText(std::initializer_list<const char*> texts) {
        EXPECT_NE(BeginDrawing(BackBufferOutput()), nullptr);
        SetDrawingFont(FontHandle(0));
        SetDrawingMode(kDrawTransparent);
        SetFrontColor(255, 255, 255);
        for (const char* text : texts) DrawString(text);
        const Ink ink = ReadInk(200, 48);
        EndDrawing();
        ClearScreen(0, 0, 0);
        return ink;
    }
};

TEST_F(BackBufferDrawingTest, OutputLendsTheBackBuffersContextUntilReleased) {
    DrawingOutput* out = BackBufferOutput();
    ASSERT_NE(out, nullptr);
    EXPECT_TRUE(out->kind == 7 && out->dc == screen.backBufferDC && out->release == ReleaseBackBufferDC);
    EXPECT_EQ(BackBufferOutput(), nullptr) << "the context is already lent";
    ASSERT_EQ(BeginDrawing(out), screen.backBufferDC);
    // Beginning again while the back buffer is open gives nothing and closes the old drawing.
    EXPECT_EQ(BeginDrawing(BackBufferOutput()), nullptr);
    EXPECT_EQ(drawing.dc, nullptr);
    EXPECT_EQ(screen.backBufferDC, nullptr);
    EXPECT_NE(BeginDrawing(BackBufferOutput()), nullptr) << "and the next one works again";
    EndDrawing();
    EXPECT_EQ(screen.backBufferDC, nullptr) << "EndDrawing gave it back";
}

TEST_F(BackBufferDrawingTest, OutputFailsWhenTheBackBufferCannotBeHad) {
    for (const char* call : {"IDirectDrawSurface7::Lock", "IDirectDrawSurface7::GetDC"}) {
        faults::Fail(call, 1);
        EXPECT_EQ(BackBufferOutput(), nullptr) << call;
        EXPECT_EQ(screen.backBufferDC, nullptr);
    }
    EXPECT_EQ(BeginDrawing(BackBufferOutput()), screen.backBufferDC);
    EndDrawing();
    faults::LoseDisplay();
    EXPECT_EQ(BackBufferOutput(), nullptr);
    CloseScreen();
    EXPECT_EQ(BeginDrawing(BackBufferOutput()), nullptr) << "no open screen";
}

TEST_F(BackBufferDrawingTest, StringsFollowEachOtherAndANewDrawingStartsAtTheCorner) {
    ASSERT_NE(LoadFontFace(0, "Arial Black", 22), nullptr);
    const Ink one = WriteText({"I"}), two = WriteText({"I", "I"}), together = WriteText({"II"});
    ASSERT_GT(one.count, 20);
    EXPECT_EQ(two.count, 2 * one.count) << "the second I is a whole second letter";
    EXPECT_TRUE(two.top == one.top && two.bottom == one.bottom) << "on the same line";
    EXPECT_EQ(two.left, one.left);
    EXPECT_GT(two.right, one.right + 4) << "to the right of the first";
    EXPECT_EQ(together.right, two.right);
    EXPECT_EQ(together.count, two.count);
    // Each drawing gets a new context, whose position is the corner again.
    const Ink again = WriteText({"I"});
    EXPECT_TRUE(again.left == one.left && again.right == one.right && again.count == one.count);
}

}  // namespace
