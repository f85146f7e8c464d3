// The demo where its frames cannot show it (those are checked whole by
// e2e_headless.sh): the arrays' records, odd scroll text, the glyph capture's
// failure paths, and whole in-process runs with each library failing.
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "core/arrays.h"
#include "core/strings.h"
#include "demo/glyphs.h"
#include "fixture.h"

namespace fs = std::filesystem;

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
    static float Brightness(int spoke, int j) { return scroller.particles[32 * spoke + j].brightness; }
};

TEST_F(ScrollerTest, ArraysCarryTheirCountsTypeCodesAndStrides) {
    EXPECT_EQ(ArrayBlockOf(scroller.particles)->count, 11601);
    EXPECT_EQ(ArrayBlockOf(scroller.particles)->typeCode, 7);
    EXPECT_EQ(ArrayBlockOf(scroller.glyphs)->count, 62769);
    EXPECT_EQ(ArrayBlockOf(scroller.glyphs)->typeCode, 5);
    EXPECT_EQ(scroller.glyphStrides[0], 1029);
    EXPECT_EQ(scroller.particleCount, 10880);
    for (int i = 10880; i <= 11601; ++i) {
        const Particle& p = scroller.particles[i];
        ASSERT_TRUE(p.x == 0 && p.y == 0 && p.brightness == 0) << "past the ring: " << i;
    }
}

// Characters outside space .. "\" have no glyph row: they show blank rather
// than reading outside the table, and the scroll leaves the work area as it was.
TEST_F(ScrollerTest, CharactersWithoutAGlyphRowShowBlank) {
    for (int k = 0; k < kGlyphRows * kGlyphCells; ++k) scroller.glyphs[k] = 255;
    char odd[] = {'A', '\x7F', '\x1F', '\xE9', 'B', 0};  // positions 2 to 4 have no row
    AssignString(&scroller.scrollText, odd);
    scroller.textPos = 2;
    BYTE* before = runtime.workPtr;
    for (int step = 0; step < 26 * 3 - 1; ++step) {
        AdvanceScroll();
        for (int j = 0; j < 32; ++j) ASSERT_EQ(Brightness(339, j), 0.0f) << "position " << scroller.textPos;
    }
    AdvanceScroll();
    EXPECT_EQ(scroller.textPos, 0) << "the last character is never shown";
    EXPECT_EQ(Brightness(339, 0), 255.0f) << "A has its row";
    EXPECT_EQ(runtime.workPtr, before);
}

class GlyphsTest : public RuntimeTest {
protected:
    void SetUp() override {
        RuntimeTest::SetUp();
        InitDrawing();
        InitFonts();
        Open();
        LoadFontFace(0, "Arial Black", 22);
        AllocGlyphTable();
    }
    static int LitCells(int row, int from, int to) {
        int n = 0;
        for (int k = from; k < to; ++k) n += GlyphCell(row, k) != 0;
        return n;
    }
};

TEST_F(GlyphsTest, CaptureFillsOnlyItsCellsAndLeavesTheBackBufferBlack) {
    for (int k = 0; k < 1024; ++k) GlyphCell(0, k) = 7;  // left over: must be overwritten
    CaptureGlyphs();
    EXPECT_EQ(LitCells(0, 0, 1024), 0) << "the space is blank";
    EXPECT_EQ(LitCells(59, 0, 2 * kGlyphCells), 0) << "codes 91 and 92 are never written";
    for (int row = 0; row < 59; ++row) EXPECT_EQ(LitCells(row, 1024, kGlyphCells), 0) << row;
    EXPECT_GT(LitCells('H' - 32, 0, 1024), 100);
    for (BYTE b : Back().pixels) ASSERT_EQ(b, 0);
    EXPECT_TRUE(screen.backBufferDC == nullptr && drawing.dc == nullptr) << "the context is given back";
}

TEST_F(GlyphsTest, WithoutADrawingEveryCellIsLitAndWithoutATableNothingIsDone) {
    faults::Fail("IDirectDrawSurface7::GetDC");  // ReadPixel answers -1, not 0
    CaptureGlyphs();
    for (int row = 0; row < 59; ++row) EXPECT_EQ(LitCells(row, 0, 1024), 1024) << row;
    FreeArray(scroller.glyphs);
    scroller.glyphs = nullptr;
    faults::StartRecording();
    CaptureGlyphs();
    EXPECT_TRUE(faults::Recorded().empty());
}

class DemoTest : public ::testing::Test {
protected:
    void SetUp() override {
        ResetRuntime();
        faults::TrapExit(true);
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override {
        for (const char* name : {"RINGSCROLLER_ESCAPE_AFTER", "RINGSCROLLER_CAPTURE", "RINGSCROLLER_CAPTURE_EVERY"})
            unsetenv(name);
        faults::Reset();
        fs::remove_all(dir_);
    }
    // Escape from the n-th poll on (0: never), frames to dir_, then
    // ProgramMain's exit code. Set after the reset: the keyboard and the
    // display read them at first use.
    long Run(int escapeAfter) {
        setenv("RINGSCROLLER_ESCAPE_AFTER", std::to_string(escapeAfter).c_str(), 1);
        setenv("RINGSCROLLER_CAPTURE", dir_.c_str(), 1);
        if (escapeAfter > 0) faults::StopAfterFrames(escapeAfter + 20);
        faults::StartRecording();
        try {
            ProgramMain(GetModuleHandleA(nullptr));
        } catch (const faults::ProcessExit& exit) {
            return static_cast<long>(exit.code);
        }
        return -1;
    }
    size_t Frames() const { return std::distance(fs::directory_iterator(dir_), fs::directory_iterator{}); }
    std::string Frame(int n) const {
        char name[32];
        std::snprintf(name, sizeof name, "frame-%06d.png", n);
        std::ifstream in(dir_ / name, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), {}};
    }
    const fs::path dir_ = fs::temp_directory_path() / ("ringscroller-demo-" + std::to_string(getpid()));
};

// N polls present N frames; start-up and close keep their order with each
// library missing in turn, and the demo still ends on Escape with code 0.
// Without DirectDraw there is no screen to show anything on: the program
// says so and ends at once, through the same close.
TEST_F(DemoTest, EachLibraryMissingInTurnStillRunsTheFramesAndClosesInOrder) {
    const Calls start = {"LoadLibraryA DDRAW.DLL", "IDirectDraw7::QueryInterface IDirect3D7", "LoadLibraryA DSOUND.DLL",
                         "LoadLibraryA DINPUT.DLL"};
    const Calls close = {"IDirectInputDevice7A::Unacquire", "IDirectInputDevice7A::SetCooperativeLevel 2",
                         "IDirectInputDevice7A::Release", "IDirectInput7A::Release", "FreeLibrary DINPUT.DLL",
                         "IDirectSoundBuffer::Release", "IDirectSound::Release", "FreeLibrary DSOUND.DLL",
                         "IDirectDrawSurface7::Release backbuffer", "IDirectDrawSurface7::Release primary",
                         "IDirectDraw7::Release", "FreeLibrary DDRAW.DLL", "HeapDestroy", "ExitProcess"};
    struct Case {
        const char* fail;
        bool audio, runs, draws;
        Calls notStarted, notClosed;
    };
    const Case cases[] = {
        {nullptr, true, true, true, {}, {}},
        {nullptr, false, true, true, {}, {close[5], close[6]}},  // no audio device
        {"LoadLibraryA DSOUND.DLL", true, true, true, {}, {close[5], close[6], close[7]}},
        {"LoadLibraryA DDRAW.DLL", true, false, false, {start[1]}, {close[8], close[9], close[10], close[11]}},
        {"IDirectDraw7::QueryInterface IDirect3D7", true, true, false, {}, {}},
        {"IDirect3D7::CreateDevice", true, true, false, {}, {}}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.fail ? c.fail : "nothing failing") + (c.audio ? "" : ", no audio device"));
        SetUp();
        faults::SetAudioDevice(c.audio);
        if (c.fail) faults::Fail(c.fail);
        EXPECT_EQ(Run(4), c.runs ? 0 : kExitNoScreen);
        const int frames = c.runs ? 4 : 0;
        EXPECT_EQ(CountRecorded("IDirectInputDevice7A::GetDeviceState"), frames);
        EXPECT_EQ(scroller.column, frames * 32);
        EXPECT_EQ(CountRecorded("IDirectDrawSurface7::Flip"), frames);
        EXPECT_EQ(Frames(), static_cast<size_t>(frames));
        EXPECT_EQ(CountRecorded("IDirect3DDevice7::BeginScene"), c.draws ? 4 : 0);
        auto without = [](const Calls& all, const Calls& missing) {
            Calls out;
            std::copy_if(all.begin(), all.end(), std::back_inserter(out),
                         [&](const std::string& call) { return std::find(missing.begin(), missing.end(), call) == missing.end(); });
            return out;
        };
        EXPECT_EQ(faults::RecordedMatching({"LoadLibraryA", "IDirectDraw7::QueryInterface IDirect3D7"}),
                  without(start, c.notStarted));
        const Calls& calls = faults::Recorded();
        Calls closing;
        auto lastPoll = std::find(calls.rbegin(), calls.rend(), "IDirectInputDevice7A::GetDeviceState").base();
        if (!c.runs) lastPoll = calls.begin();
        std::copy_if(lastPoll, calls.end(), std::back_inserter(closing),
                     [&](const std::string& call) { return std::find(close.begin(), close.end(), call) != close.end(); });
        EXPECT_EQ(closing, without(close, c.notClosed));
    }
}

// A quit from outside (here RINGSCROLLER_ESCAPE_AFTER) ends the demo with
// code 0 whichever step of the keyboard failed: a keyboard that cannot read
// never sees Escape, so the main window is closed instead, and a program
// whose window is gone ends as on Escape.
TEST_F(DemoTest, AQuitEndsTheDemoWhicheverKeyboardStepFailed) {
    for (const char* fail : {"LoadLibraryA DINPUT.DLL", "DirectInputCreateEx", "IDirectInput7A::CreateDeviceEx",
                             "IDirectInputDevice7A::SetDataFormat", "IDirectInputDevice7A::SetCooperativeLevel 5",
                             "IDirectInputDevice7A::Acquire", "IDirectInputDevice7A::GetDeviceState"}) {
        SCOPED_TRACE(fail);
        SetUp();
        faults::Fail(fail);
        EXPECT_EQ(Run(4), 0);
        EXPECT_TRUE(scroller.column == 4 * 32 || scroller.column == 5 * 32) << "ended after " << scroller.column / 32;
        EXPECT_EQ(Frames(), 4u) << "every frame up to the quit was shown";
    }
}

// Every frame is captured unless RINGSCROLLER_CAPTURE_EVERY is a count in
// plain digits; a sign or a space does not make some other number of it.
TEST_F(DemoTest, CaptureEveryTakesOnlyAPlainCount) {
    for (auto [every, frames] : {std::pair{"2", 2u}, {"-1", 3u}, {" 2", 3u}, {"0", 3u}, {"2x", 3u}}) {
        SetUp();
        setenv("RINGSCROLLER_CAPTURE_EVERY", every, 1);
        EXPECT_EQ(Run(3), 0);
        EXPECT_EQ(Frames(), frames) << "\"" << every << "\"";
    }
}

// Frame 91 shows the ring lit when the particle bitmap is there (see
// tests/frames.ref); without it no sprite is drawn: frame 91 is as black as
// frame 1, and the loop still ends.
TEST_F(DemoTest, WithoutTheParticleBitmapNothingIsDrawnButTheLoopEnds) {
    const fs::path here = fs::current_path(), empty = dir_.string() + "-empty";
    fs::create_directory(empty);
    fs::current_path(empty);
    setenv("RINGSCROLLER_CAPTURE_EVERY", "90", 1);
    const long code = Run(91);
    fs::current_path(here);
    fs::remove_all(empty);
    EXPECT_EQ(code, 0);
    ASSERT_EQ(Frames(), 2u);
    EXPECT_FALSE(Frame(91).empty());
    EXPECT_EQ(Frame(91), Frame(1));
}

}  // namespace
