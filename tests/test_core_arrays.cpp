#include <cmath>
#include <limits>

#include "core/arrays.h"
#include "core/convert.h"
#include "fixture.h"

namespace {

class ArraysTest : public RuntimeTest {};

TEST_F(ArraysTest, AllocArraySizeCountAndZeroFill) {
    ArrayBlock* block = AllocArray(12, 11601);
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(block->count, 11601);
    EXPECT_EQ(HeapSize(runtime.heap, 0, block), 139232u);
    auto* bytes = static_cast<unsigned char*>(ArrayElements(block));
    for (int i = 0; i < 11602 * 12; ++i) ASSERT_EQ(bytes[i], 0) << "byte " << i;
    EXPECT_EQ(ArrayBlockOf(bytes), block);
}

TEST_F(ArraysTest, AllocArrayNRewritesTheTableIntoStrides) {
    int32_t table[2] = {61, 1029};
    ArrayBlock* block = AllocArrayN(4, 2, table);
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(table[0], 1029);
    EXPECT_EQ(table[1], 1029);
    EXPECT_EQ(block->count, 62769);
    EXPECT_EQ(HeapSize(runtime.heap, 0, block), 62770u * 4 + 8);

    int32_t cube[3] = {2, 3, 4};
    block = AllocArrayN(1, 3, cube);
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(cube[0], 12);
    EXPECT_EQ(cube[1], 4);
    EXPECT_EQ(cube[2], 4);
    EXPECT_EQ(block->count, 24);
}

TEST_F(ArraysTest, SizesThatDoNotFitAreRefusedNotWrapped) {
    EXPECT_EQ(AllocArray(12, 0x7FFFFFFF), nullptr);
    EXPECT_EQ(AllocArray(4, 0x20000000), nullptr);
    EXPECT_EQ(AllocArray(4, -5), nullptr);
    int32_t table[2] = {0x10000, 0x10000};
    EXPECT_EQ(AllocArrayN(4, 2, table), nullptr);
    EXPECT_EQ(table[0], 0x10000) << "a refused table is left as it was";
}

TEST_F(ArraysTest, FailedAllocationGivesNull) {
    faults::Fail("HeapAlloc", 1);
    EXPECT_EQ(AllocArray(4, 10), nullptr);
    EXPECT_NE(AllocArray(4, 10), nullptr);
}

TEST_F(ArraysTest, FreeArrayFreesTheBlockBehindElementZero) {
    ArrayBlock* block = AllocArray(4, 3);
    void* element0 = ArrayElements(block);
    FreeArray(element0);
    EXPECT_EQ(HeapSize(runtime.heap, 0, block), static_cast<SIZE_T>(-1));
    FreeArray(nullptr);  // nothing to free, nothing happens
}

TEST(Convert, FloatToIntIsTheFloor) {
    EXPECT_EQ(FloatToInt(320.0f), 320);
    EXPECT_EQ(FloatToInt(319.5f), 319);
    EXPECT_EQ(FloatToInt(2.7f), 2);
    EXPECT_EQ(FloatToInt(-2.2f), -3);
    EXPECT_EQ(FloatToInt(-0.5f), -1);
    EXPECT_EQ(FloatToInt(-0.0f), 0);
    EXPECT_EQ(FloatToInt(-2147483648.0f), INT32_MIN);
    EXPECT_EQ(FloatToInt(2147483520.0f), 2147483520);
}

TEST(Convert, OutOfRangeAndNaNGiveTheIndefiniteValue) {
    EXPECT_EQ(FloatToInt(2147483648.0f), INT32_MIN);
    EXPECT_EQ(FloatToInt(-3e9f), INT32_MIN);
    EXPECT_EQ(FloatToInt(std::numeric_limits<float>::infinity()), INT32_MIN);
    EXPECT_EQ(FloatToInt(std::nanf("")), INT32_MIN);
    EXPECT_EQ(TruncToInt(2147483648.0L), INT32_MIN);
    EXPECT_EQ(TruncToInt(-2147483649.0L), INT32_MIN);
    EXPECT_EQ(TruncToInt(std::nanl("")), INT32_MIN);
}

TEST(Convert, TruncToIntCutsTowardZero) {
    EXPECT_EQ(TruncToInt(2.9L), 2);
    EXPECT_EQ(TruncToInt(-2.9L), -2);
    EXPECT_EQ(TruncToInt(2147483647.9L), 2147483647);
    EXPECT_EQ(TruncToInt(-2147483648.9L), INT32_MIN);
}

}  // namespace
