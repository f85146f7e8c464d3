// The runtime core: start-up and its fatal failures, shutdown, array blocks,
// string variables and temporaries, and the float conversion.
#include <cmath>
#include <limits>

#include "core/convert.h"
#include "fixture.h"

namespace {

using CoreTest = RuntimeTest;

// Start-up from nothing: the exit it ended in, or -1.
long StartFromNothing() { return ExitCodeOf([] { StartRuntime(GetModuleHandleA(nullptr)); }); }

TEST_F(CoreTest, WithoutHeapOrWorkAreaTheProgramSaysSoAndExitsNonZero) {
    struct Case { const char* failure; const char* said; int code; };
    for (auto [failure, said, code] : {Case{"HeapCreate", "heap", 2}, Case{"HeapAlloc", "work area", 3}}) {
        faults::Fail(failure);
        testing::internal::CaptureStderr();
        EXPECT_EQ(StartFromNothing(), code) << failure;
        EXPECT_NE(testing::internal::GetCapturedStderr().find(said), std::string::npos) << failure;
        faults::Heal(failure);
    }
}

TEST_F(CoreTest, StartUpClearsTheStateAndShutdownDestroysTheHeapLast) {
    scroller.textPos = 42;
    ASSERT_EQ(StartFromNothing(), -1);
    EXPECT_TRUE(scroller.textPos == 0 && runtime.instance == GetModuleHandleA(nullptr));
    EXPECT_TRUE(runtime.workPtr == runtime.workStart && HeapSize(runtime.heap, 0, runtime.workStart) == kWorkAreaSize);
    for (DWORD i = 0; i < kWorkAreaSize; ++i) ASSERT_EQ(runtime.workStart[i], 0) << i;
    HANDLE heap = runtime.heap;
    const Calls calls = CallsOf([] { EXPECT_EQ(ExitCodeOf([] { EndProgram(0); }), 0); }, {""});
    ASSERT_GE(calls.size(), 2u);
    EXPECT_EQ(Calls(calls.end() - 2, calls.end()), (Calls{"HeapDestroy", "ExitProcess"}));
    EXPECT_EQ(HeapAlloc(heap, 0, 4), nullptr) << "the heap is gone";
}

TEST_F(CoreTest, ArrayBlocksHoldNPlusOneZeroedElementsAndRefuseWhatDoesNotFit) {
    ArrayBlock* block = AllocArray(12, 11601);
    ASSERT_NE(block, nullptr);
    EXPECT_TRUE(block->count == 11601 && HeapSize(runtime.heap, 0, block) == 139232u);
    auto* bytes = static_cast<unsigned char*>(ArrayElements(block));
    for (int i = 0; i < 11602 * 12; ++i) ASSERT_EQ(bytes[i], 0) << i;
    FreeArray(bytes);
    EXPECT_EQ(HeapSize(runtime.heap, 0, block), static_cast<SIZE_T>(-1)) << "freed through element 0";

    int32_t table[3] = {2, 3, 4};
    block = AllocArrayN(1, 3, table);
    EXPECT_TRUE(block && block->count == 24);
    EXPECT_EQ(std::vector<int32_t>(table, table + 3), (std::vector<int32_t>{12, 4, 4})) << "strides";

    int32_t empty[2] = {0, 5};
    block = AllocArrayN(4, 2, empty);
    EXPECT_TRUE(block && block->count == 0) << "a dimension of size 0 is an array of one element";
    EXPECT_TRUE(!AllocArray(4, 0x20000000) && !AllocArray(4, -5));
    for (int dimensions : {16, 17}) {
        int32_t ones[17];
        std::fill(ones, ones + 17, 1);
        EXPECT_EQ(AllocArrayN(1, dimensions, ones) != nullptr, dimensions == 16) << "up to 16 dimensions";
    }
    int32_t huge[2] = {0x10000, 0x10000};
    EXPECT_TRUE(!AllocArrayN(4, 2, huge) && huge[0] == 0x10000) << "a refused table is left as it was";
    faults::Fail("HeapAlloc", 1);
    EXPECT_EQ(AllocArray(4, 10), nullptr);
}

std::string Sub(const char* s, int position, int length) {
    TempScope statement;
    return statement.Keep(SubString(s, position, length));
}

TEST_F(CoreTest, SubStringCharCodeAndStringLength) {
    struct { const char* s; int position, length; const char* result; } cases[] = {
        {"ABC", 0, 1, "A"}, {"ABC", 1, 1, "A"}, {"ABC", 2, 1, "B"}, {"ABC", 3, 5, "C"}, {"ABC", 4, 1, ""},
        {"ABC", 2, 0, ""}, {"ABC", 2, -3, ""}, {nullptr, 1, 3, ""}};
    for (const auto& c : cases) EXPECT_EQ(Sub(c.s, c.position, c.length), c.result) << c.position << "," << c.length;
    EXPECT_EQ((std::vector<int>{CharCode(""), CharCode(nullptr), CharCode("\xE9t\xE9"), StringLength(nullptr),
                                StringLength(kScrollText)}),
              (std::vector<int>{0, 0, 0xE9, 0, 91})) << "character codes unsigned";
}

TEST_F(CoreTest, AssignStringOwnsACopyEvenOfItselfAndNullEmptiesIt) {
    char* variable = nullptr;
    char source[] = "HELLO";
    AssignString(&variable, source);
    source[0] = 'J';
    ASSERT_STREQ(variable, "HELLO");
    EXPECT_EQ(HeapSize(runtime.heap, 0, variable), 7u) << "length + 2";
    char* old = variable;
    AssignString(&variable, variable);
    EXPECT_STREQ(variable, "HELLO") << "copied before the old text is freed";
    EXPECT_EQ(HeapSize(runtime.heap, 0, old), static_cast<SIZE_T>(-1));
    AssignString(&variable, nullptr);
    EXPECT_EQ(variable, nullptr);
    AssignString(&variable, "FIRST");
    faults::Fail("HeapAlloc");
    AssignString(&variable, "SECOND");
    EXPECT_EQ(variable, nullptr) << "empty rather than dangling";
}

TEST_F(CoreTest, TemporariesLeaveWorkPtrWhereItWasAndNeverRunPastTheWorkArea) {
    BYTE* before = runtime.workPtr;
    {
        TempScope statement;
        const char* a = statement.Keep(CharString(0x158));
        const char* b = statement.Keep(SubString("HELLO", 2, 3));
        EXPECT_STREQ(a, "X") << "the low 8 bits of the code, not overwritten by the second";
        EXPECT_EQ(reinterpret_cast<const BYTE*>(b), before + 2);
        EXPECT_STREQ(b, "ELL");
    }
    EXPECT_EQ(runtime.workPtr, before);

    // What fits is written right up to the last byte; one byte more ends the program clearly
    // instead of writing past the area.
    const std::string big(kWorkAreaSize, 'A');
    for (int length : {9, 10}) {
        runtime.workPtr = runtime.workEnd - 10;
        std::string kept;
        const long code = ExitCodeOf([&] {
            TempScope statement;
            kept = statement.Keep(SubString(big.c_str(), 1, length));
        });
        EXPECT_TRUE(length == 9 ? code == -1 && kept == big.substr(0, 9) : code != -1 && code != 0) << length;
    }
}

TEST(Convert, FloatToIntIsTheFloorAndIndefiniteOutsideTheRange) {
    const std::pair<float, int32_t> cases[] = {
        {320.0f, 320}, {319.5f, 319}, {-2.2f, -3}, {-0.5f, -1}, {-2147483648.0f, INT32_MIN}, {2147483520.0f, 2147483520},
        {2147483648.0f, INT32_MIN}, {std::numeric_limits<float>::infinity(), INT32_MIN}, {std::nanf(""), INT32_MIN}};
    for (auto [x, floor] : cases) EXPECT_EQ(FloatToInt(x), floor) << x;
}

TEST(Convert, TruncToIntCutsTowardZeroAndIsIndefiniteOutsideTheRange) {
    const std::pair<long double, int32_t> cases[] = {
        {2.7L, 2}, {-2.7L, -2}, {-0.5L, 0}, {319.999L, 319}, {2147483647.9L, INT32_MAX}, {-2147483648.9L, INT32_MIN},
        {2147483648.0L, INT32_MIN}, {-2147483649.0L, INT32_MIN}, {1e30L, INT32_MIN},
        {std::numeric_limits<long double>::infinity(), INT32_MIN}, {std::nanl(""), INT32_MIN}};
    for (auto [v, cut] : cases) EXPECT_EQ(TruncToInt(v), cut) << static_cast<double>(v);
}

}  // namespace
