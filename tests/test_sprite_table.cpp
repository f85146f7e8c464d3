#include "screen_helpers.h"
#include "sprites/sprite3d.h"

namespace {

class SpriteTableTest : public ScreenTest {};

TEST_F(SpriteTableTest, StartsWithFiftyEmptySlotsAndABlackColourKey) {
    SpriteColorKey = DDCOLORKEY{7, 9};
    SpriteRecord* table = InitSpriteTable();
    ASSERT_NE(table, nullptr);
    EXPECT_EQ(sprites.spriteTable, table);
    EXPECT_EQ(sprites.spriteCapacity, 50);
    EXPECT_GE(HeapSize(runtime.heap, 0, table), 50 * sizeof(SpriteRecord));
    for (int i = 0; i < 50; ++i) EXPECT_EQ(table[i].surface, nullptr);
    EXPECT_EQ(SpriteColorKey.dwColorSpaceLowValue, 0u);
    EXPECT_EQ(SpriteColorKey.dwColorSpaceHighValue, 0u);
}

TEST_F(SpriteTableTest, AFailedAllocationLeavesNoSlotsToWalk) {
    faults::Fail("HeapAlloc", 1);
    EXPECT_EQ(InitSpriteTable(), nullptr);
    EXPECT_EQ(sprites.spriteCapacity, 0);
    FreeSprite(0);  // nothing to free, and no null table read
    EXPECT_EQ(GrowSpriteTable(3), 1) << "a later use makes the table";
    EXPECT_EQ(sprites.spriteCapacity, 53);
}

TEST_F(SpriteTableTest, GrowingPastTheCapacityKeepsOldSlotsAndAddsEmptyOnes) {
    InitSpriteTable();
    PutRawBlockSprite(10);
    void* block = sprites.spriteTable[10].surface;
    EXPECT_EQ(GrowSpriteTable(60), 1);
    EXPECT_EQ(sprites.spriteCapacity, 110);
    EXPECT_EQ(HeapSize(runtime.heap, 0, sprites.spriteTable), 111 * sizeof(SpriteRecord));
    EXPECT_EQ(sprites.spriteTable[10].surface, block);
    EXPECT_EQ(sprites.spriteTable[10].bitDepth, kRawBlockDepth);
    EXPECT_STREQ(sprites.spriteTable[10].fileName, "raw.bmp");
    for (int i = 50; i <= 110; ++i) {
        EXPECT_EQ(sprites.spriteTable[i].surface, nullptr) << i;
        EXPECT_EQ(sprites.spriteTable[i].fileName, nullptr) << i;
    }
    FreeSprite(10);
}

TEST_F(SpriteTableTest, GrowsOnlyAtOrAboveTheCapacity) {
    InitSpriteTable();
    SpriteRecord* table = sprites.spriteTable;
    faults::StartRecording();
    EXPECT_EQ(GrowSpriteTable(49), 1);
    EXPECT_EQ(sprites.spriteCapacity, 50);
    EXPECT_EQ(sprites.spriteTable, table);
    EXPECT_EQ(CountRecorded("HeapReAlloc"), 0);
    EXPECT_EQ(GrowSpriteTable(50), 1);
    EXPECT_EQ(sprites.spriteCapacity, 100);
    EXPECT_EQ(HeapSize(runtime.heap, 0, sprites.spriteTable), 101 * sizeof(SpriteRecord));
}

TEST_F(SpriteTableTest, RefusesNumbersItCannotHold) {
    InitSpriteTable();
    SpriteRecord* table = sprites.spriteTable;
    faults::StartRecording();
    EXPECT_EQ(GrowSpriteTable(-1), 0);
    EXPECT_EQ(GrowSpriteTable(INT32_MIN), 0);
    EXPECT_EQ(GrowSpriteTable(INT32_MAX), 0);
    EXPECT_EQ(GrowSpriteTable(INT32_MAX - 50), 0);
    EXPECT_EQ(CountRecorded("HeapReAlloc"), 0) << "refused before asking the heap";
    EXPECT_EQ(sprites.spriteTable, table);
    EXPECT_EQ(sprites.spriteCapacity, 50);
}

TEST_F(SpriteTableTest, AFailedReAllocationLeavesTheTableAsItWas) {
    InitSpriteTable();
    PutRawBlockSprite(4);
    SpriteRecord* table = sprites.spriteTable;
    faults::Fail("HeapReAlloc", 1);
    EXPECT_EQ(GrowSpriteTable(75), 0);
    EXPECT_EQ(sprites.spriteTable, table);
    EXPECT_EQ(sprites.spriteCapacity, 50);
    EXPECT_NE(sprites.spriteTable[4].surface, nullptr);
    EXPECT_EQ(GrowSpriteTable(75), 1) << "and it can still grow later";
    EXPECT_EQ(sprites.spriteCapacity, 125);
    EXPECT_NE(sprites.spriteTable[4].surface, nullptr);
    FreeSprite(4);
}

TEST_F(SpriteTableTest, FreeingAnEmptySlotDoesNothing) {
    Open();
    faults::StartRecording();
    FreeSprite(5);
    FreeSprite(-1);
    FreeSprite(50);
    FreeSprite(1000000);
    EXPECT_TRUE(faults::RecordedMatching({"IDirectDrawSurface7::", "HeapFree"}).empty());
}

TEST_F(SpriteTableTest, FreeingARawBlockFreesTheHeapBlockWithoutASurfaceCall) {
    Open();
    PutRawBlockSprite(5);
    void* block = sprites.spriteTable[5].surface;
    faults::StartRecording();
    FreeSprite(5);
    EXPECT_EQ(sprites.spriteTable[5].surface, nullptr);
    EXPECT_EQ(sprites.spriteTable[5].fileName, nullptr);
    EXPECT_EQ(HeapSize(runtime.heap, 0, block), static_cast<SIZE_T>(-1)) << "the block is back in the heap";
    EXPECT_TRUE(faults::RecordedMatching({"IDirectDrawSurface7::"}).empty());
}

TEST_F(SpriteTableTest, FreeingASurfaceSpriteReleasesItOnce) {
    Open();
    ASSERT_NE(PutSurfaceSprite(8, DDSCAPS_TEXTURE, 4), nullptr);
    faults::StartRecording();
    FreeSprite(8);
    FreeSprite(8);
    EXPECT_EQ(faults::RecordedMatching({"IDirectDrawSurface7::"}),
              std::vector<std::string>{"IDirectDrawSurface7::Release texture"});
    EXPECT_EQ(sprites.spriteTable[8].surface, nullptr);
    EXPECT_EQ(sprites.spriteTable[8].fileName, nullptr);
}

TEST_F(SpriteTableTest, FreeingASurfaceEmptiesTheThreeDSpritesThatBorrowedIt) {
    Open();
    IDirectDrawSurface7* texture = PutSurfaceSprite(1, DDSCAPS_TEXTURE, 4);
    ASSERT_NE(texture, nullptr);
    sprites3D.sprite3DTable =
        static_cast<Sprite3DRecord*>(HeapAlloc(runtime.heap, HEAP_ZERO_MEMORY, 3 * sizeof(Sprite3DRecord)));
    sprites3D.sprite3DCapacity = 3;
    sprites3D.sprite3DTable[0].texture = texture;
    sprites3D.sprite3DTable[2].texture = texture;
    FreeSprite(1);
    EXPECT_EQ(sprites3D.sprite3DTable[0].texture, nullptr);
    EXPECT_EQ(sprites3D.sprite3DTable[2].texture, nullptr);
}

}  // namespace
