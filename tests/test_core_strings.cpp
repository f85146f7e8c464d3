#include <cstring>

#include "core/strings.h"
#include "fixture.h"

namespace {

class StringsTest : public RuntimeTest {};

std::string Sub(const char* s, int pos, int len) {
    TempScope statement;
    return statement.Keep(SubString(s, pos, len));
}

TEST_F(StringsTest, SubStringPositionsAndLengths) {
    EXPECT_EQ(Sub("ABC", 0, 1), "A");
    EXPECT_EQ(Sub("ABC", 1, 1), "A");
    EXPECT_EQ(Sub("ABC", -7, 2), "AB");
    EXPECT_EQ(Sub("ABC", 2, 1), "B");
    EXPECT_EQ(Sub("ABC", 3, 5), "C");
    EXPECT_EQ(Sub("ABC", 4, 1), "");
    EXPECT_EQ(Sub("ABC", 100, 1), "");
    for (int pos = -1; pos <= 4; ++pos) EXPECT_EQ(Sub("ABC", pos, 0), "") << pos;
    EXPECT_EQ(Sub("ABC", 2, -3), "");
    EXPECT_EQ(Sub(nullptr, 1, 3), "");
}

TEST_F(StringsTest, CharCodeIsUnsignedAndZeroForEmpty) {
    EXPECT_EQ(CharCode(""), 0);
    EXPECT_EQ(CharCode(nullptr), 0);
    EXPECT_EQ(CharCode("A"), 65);
    EXPECT_EQ(CharCode("\xE9t\xE9"), 0xE9);
    EXPECT_EQ(CharCode("\xFF"), 255);
}

TEST_F(StringsTest, StringLength) {
    EXPECT_EQ(StringLength(nullptr), 0);
    EXPECT_EQ(StringLength(""), 0);
    EXPECT_EQ(StringLength(kScrollText), 91);
}

TEST_F(StringsTest, AssignStringOwnsACopyAndNullEmptiesIt) {
    char* variable = nullptr;
    char source[] = "HELLO";
    AssignString(&variable, source);
    ASSERT_NE(variable, nullptr);
    EXPECT_NE(variable, source);
    source[0] = 'J';
    EXPECT_STREQ(variable, "HELLO");
    EXPECT_EQ(HeapSize(runtime.heap, 0, variable), 7u);  // length + 2

    char* old = variable;
    AssignString(&variable, nullptr);
    EXPECT_EQ(variable, nullptr);
    EXPECT_EQ(HeapSize(runtime.heap, 0, old), static_cast<SIZE_T>(-1)) << "the old text is freed";
}

TEST_F(StringsTest, AssignStringThatCannotAllocateLeavesTheVariableEmpty) {
    char* variable = nullptr;
    AssignString(&variable, "FIRST");
    faults::Fail("HeapAlloc");
    AssignString(&variable, "SECOND");
    EXPECT_EQ(variable, nullptr);
}

TEST_F(StringsTest, TemporariesLeaveWorkPtrWhereItWas) {
    BYTE* before = runtime.workPtr;
    {
        TempScope statement;
        const char* a = statement.Keep(CharString('X'));
        const char* b = statement.Keep(SubString("HELLO", 2, 3));
        // The second temporary of a statement does not overwrite the first.
        EXPECT_STREQ(a, "X");
        EXPECT_STREQ(b, "ELL");
        EXPECT_EQ(reinterpret_cast<const BYTE*>(b), before + 2);
    }
    EXPECT_EQ(runtime.workPtr, before);
    {
        TempScope statement;
        EXPECT_EQ(reinterpret_cast<BYTE*>(const_cast<char*>(statement.Keep(CharString(0x141)))), before);
        EXPECT_EQ(static_cast<unsigned char>(*before), 0x41) << "only the low 8 bits of the code";
    }
    EXPECT_EQ(runtime.workPtr, before);
}

TEST_F(StringsTest, TemporaryPastTheWorkAreaFailsClearlyInsteadOfOverrunning) {
    faults::TrapExit(true);
    std::string big(kWorkAreaSize, 'A');
    runtime.workPtr = runtime.workEnd - 10;
    try {
        TempScope statement;
        statement.Keep(SubString(big.c_str(), 1, 20));
        FAIL() << "a temporary larger than the space left must not be written";
    } catch (const faults::ProcessExit& exit) {
        EXPECT_NE(exit.code, 0u);
    }
    // What fits still works right up to the end.
    runtime.workPtr = runtime.workEnd - 10;
    TempScope statement;
    EXPECT_STREQ(statement.Keep(SubString(big.c_str(), 1, 9)), "AAAAAAAAA");
}

}  // namespace
