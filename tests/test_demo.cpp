// The demo where its frames cannot show it (those are checked whole by
// e2e_headless.sh): the arrays' records, odd scroll text, the glyph capture's
// failure paths, and whole in-process runs with each library failing.
#include <unistd.h>

#include <filesystem>
#include <fstream>

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
    const ArrayBlock *particles = ArrayBlockOf(scroller.particles), *glyphs = ArrayBlockOf(scroller.glyphs);
    EXPECT_EQ((std::vector<int>{particles->count, particles->typeCode, glyphs->count, glyphs->typeCode,
                                scroller.glyphStrides[0], scroller.particleCount}),
              (std::vector<int>{11601, 7, 62769, 5, 1029, 10880}));
    for (const Particle* p = scroller.particles + 10880; p <= scroller.particles + 11601; ++p)
        ASSERT_TRUE(p->x == 0 && p->y == 0 && p->brightness == 0) << "past the ring: " << p - scroller.particles;
}

// Characters outside space .. "\" have no glyph row: they show blank rather than reading outside
// the table, and the scroll leaves the work area as it was.
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
    EXPECT_TRUE(Brightness(339, 0) == 255.0f && runtime.workPtr == before) << "A has its row";
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
        return static_cast<int>(std::count_if(&GlyphCell(row, from), &GlyphCell(row, 0) + to, [](int v) { return v; }));
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
    EXPECT_TRUE(CallsOf(CaptureGlyphs, {""}).empty());
}

// The calls in [from, to) that are (or, with `in` false, are not) in `set`.
Calls Only(Calls::const_iterator from, Calls::const_iterator to, const Calls& set, bool in) {
    Calls out;
    std::copy_if(from, to, std::back_inserter(out),
                 [&](const std::string& call) { return (std::find(set.begin(), set.end(), call) != set.end()) == in; });
    return out;
}

class DemoTest : public ::testing::Test {
protected:
    void SetUp() override {
        ResetRuntime();
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override {
        faults::Reset();
        fs::remove_all(dir_);
    }
    // ProgramMain's exit code with Escape from the n-th poll on and frames to dir_; set after the
    // reset, as the keyboard and the display read them at first use.
    long Run(int escapeAfter) {
        ScopedEnv escape("RINGSCROLLER_ESCAPE_AFTER", std::to_string(escapeAfter).c_str()),
            capture("RINGSCROLLER_CAPTURE", dir_.c_str());
        faults::StopAfterFrames(escapeAfter + 20);
        faults::StartRecording();
        return ExitCodeOf([] { ProgramMain(GetModuleHandleA(nullptr)); });
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

// N polls present N frames; start-up and close keep their order with each library missing in turn,
// and the demo ends on Escape with code 0. Without DirectDraw there is no screen to show anything
// on: the program says so and ends at once (code 6), through the same close.
TEST_F(DemoTest, EachLibraryMissingInTurnStillRunsTheFramesAndClosesInOrder) {
    const Calls start = {"LoadLibraryA DDRAW.DLL", "IDirectDraw7::QueryInterface IDirect3D7", "LoadLibraryA DSOUND.DLL",
                         "LoadLibraryA DINPUT.DLL"};
    const Calls close = {"IDirectInputDevice7A::Unacquire", "IDirectInputDevice7A::SetCooperativeLevel 2",
                         "IDirectInputDevice7A::Release", "IDirectInput7A::Release", "FreeLibrary DINPUT.DLL",
                         "IDirectSoundBuffer::Release", "IDirectSound::Release", "FreeLibrary DSOUND.DLL",
                         "IDirectDrawSurface7::Release backbuffer", "IDirectDrawSurface7::Release primary",
                         "IDirectDraw7::Release", "FreeLibrary DDRAW.DLL", "HeapDestroy", "ExitProcess"};
    struct Case { const char* fail; bool audio, runs, draws; Calls notStarted, notClosed; } const cases[] = {
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
        EXPECT_EQ((std::vector<long>{CountRecorded("IDirectInputDevice7A::GetDeviceState"), scroller.column,
                                     CountRecorded("IDirectDrawSurface7::Flip"), static_cast<long>(Frames()),
                                     CountRecorded("IDirect3DDevice7::BeginScene")}),
                  (std::vector<long>{frames, frames * 32, frames, frames, c.draws ? 4 : 0}))
            << "polls, columns, flips, captures, scenes";
        EXPECT_EQ(faults::RecordedMatching({"LoadLibraryA", "IDirectDraw7::QueryInterface IDirect3D7"}),
                  Only(start.begin(), start.end(), c.notStarted, false));
        const Calls& calls = faults::Recorded();
        auto lastPoll = std::find(calls.rbegin(), calls.rend(), "IDirectInputDevice7A::GetDeviceState").base();
        EXPECT_EQ(Only(c.runs ? lastPoll : calls.begin(), calls.end(), close, true),
                  Only(close.begin(), close.end(), c.notClosed, false));
    }
}

// A quit from outside (here RINGSCROLLER_ESCAPE_AFTER) ends the demo with code 0 whichever step of
// the keyboard failed: a keyboard that cannot read never sees Escape, so the main window is closed
// instead, and a program whose window is gone ends as on Escape.
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

// Every frame is captured unless RINGSCROLLER_CAPTURE_EVERY is a count in plain digits; a sign or a
// space does not make some other number of it.
TEST_F(DemoTest, CaptureEveryTakesOnlyAPlainCount) {
    for (auto [every, frames] : {std::pair{"2", 2u}, {"-1", 3u}, {" 2", 3u}, {"0", 3u}, {"2x", 3u}}) {
        SetUp();
        ScopedEnv captureEvery("RINGSCROLLER_CAPTURE_EVERY", every);
        EXPECT_EQ(Run(3), 0);
        EXPECT_EQ(Frames(), frames) << "\"" << every << "\"";
    }
}

// Frame 91 shows the ring lit when the particle bitmap is there (see tests/frames.ref); without it
// no sprite is drawn: frame 91 is as black as frame 1, and the loop still ends.
TEST_F(DemoTest, WithoutTheParticleBitmapNothingIsDrawnButTheLoopEnds) {
    const fs::path here = fs::current_path(), empty = dir_.string() + "-empty";
    fs::create_directory(empty);
    fs::current_path(empty);
    ScopedEnv captureEvery("RINGSCROLLER_CAPTURE_EVERY", "90");
    const long code = Run(91);
    fs::current_path(here);
    fs::remove_all(empty);
    ASSERT_TRUE(code == 0 && Frames() == 2u);
    EXPECT_TRUE(!Frame(91).empty() && Frame(91) == Frame(1));
}

}  // namespace
