#include "screen_helpers.h"
#include "sprites/sprite3d.h"

namespace {

class SpriteTableTest : public ScreenTest {
protected:
    size_t Slots() { return HeapSize(runtime.heap, 0, sprites.spriteTable) / sizeof(SpriteRecord); }
};

TEST_F(SpriteTableTest, StartsWithFiftyEmptySlotsAndABlackColourKey) {
    SpriteColorKey = DDCOLORKEY{7, 9};
    SpriteRecord* table = InitSpriteTable();
    ASSERT_NE(table, nullptr);
    EXPECT_EQ(sprites.spriteCapacity, 50);
    EXPECT_GE(Slots(), 50u);
    for (int i = 0; i < 50; ++i) EXPECT_EQ(table[i].surface, nullptr);
    EXPECT_EQ(SpriteColorKey.dwColorSpaceLowValue + SpriteColorKey.dwColorSpaceHighValue, 0u);

    ResetRuntimeRecords();
    MakeHeapAndWorkArea();
    faults::Fail("HeapAlloc", 1);
    EXPECT_EQ(InitSpriteTable(), nullptr);
    EXPECT_EQ(sprites.spriteCapacity, 0);
    FreeSprite(0);  // nothing to free, and no null table read
    EXPECT_EQ(GrowSpriteTable(3), 1) << "a later use makes the table";
    EXPECT_EQ(sprites.spriteCapacity, 53);
}

TEST_F(SpriteTableTest, GrowsByFiftyPastTheNumberOnlyAtOrAboveTheCapacityKeepingOldSlots) {
    struct Case {
        int number, capacity;
    } cases[] = {{49, 50}, {50, 100}, {60, 110}};
    for (const Case& c : cases) {
        ResetRuntimeRecords();
        MakeHeapAndWorkArea();
        InitSpriteTable();
        PutRawBlockSprite(10);
        SpriteRecord* table = sprites.spriteTable;
        void* block = table[10].surface;
        EXPECT_EQ(GrowSpriteTable(c.number), 1) << c.number;
        EXPECT_EQ(sprites.spriteCapacity, c.capacity) << c.number;
        EXPECT_TRUE(c.capacity == 50 ? sprites.spriteTable == table : Slots() == static_cast<size_t>(c.capacity) + 1)
            << c.number << ": grown to the capacity and one, or not at all";
        EXPECT_EQ(sprites.spriteTable[10].surface, block) << c.number;
        EXPECT_STREQ(sprites.spriteTable[10].fileName, "raw.bmp");
        for (int i = 50; c.capacity > 50 && i <= c.capacity; ++i) EXPECT_EQ(sprites.spriteTable[i].surface, nullptr) << i;
        FreeSprite(10);
    }
}

TEST_F(SpriteTableTest, RefusesNumbersItCannotHoldAndKeepsTheTableWhenTheHeapFails) {
    InitSpriteTable();
    PutRawBlockSprite(4);
    SpriteRecord* table = sprites.spriteTable;
    faults::StartRecording();
    for (int32_t n : {-1, INT32_MIN, INT32_MAX, INT32_MAX - 50}) EXPECT_EQ(GrowSpriteTable(n), 0) << n;
    EXPECT_EQ(CountRecorded("HeapReAlloc"), 0) << "refused before asking the heap";
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

TEST_F(SpriteTableTest, FreeingEmptyAndRawBlockSlots) {
    Open();
    PutRawBlockSprite(5);
    void* block = sprites.spriteTable[5].surface;
    faults::StartRecording();
    for (int number : {6, -1, 50, 1000000}) FreeSprite(number);
    EXPECT_TRUE(faults::RecordedMatching({"IDirectDrawSurface7::", "HeapFree"}).empty()) << "empty slots: nothing";
    FreeSprite(5);
    EXPECT_EQ(sprites.spriteTable[5].surface, nullptr);
    EXPECT_EQ(sprites.spriteTable[5].fileName, nullptr);
    EXPECT_EQ(HeapSize(runtime.heap, 0, block), static_cast<SIZE_T>(-1)) << "the block is back in the heap";
    EXPECT_TRUE(faults::RecordedMatching({"IDirectDrawSurface7::"}).empty()) << "a raw block is no surface";
}

TEST_F(SpriteTableTest, FreeingASurfaceReleasesItOnceAndEmptiesTheThreeDSpritesThatBorrowedIt) {
    Open();
    IDirectDrawSurface7* texture = PutSurfaceSprite(1, DDSCAPS_TEXTURE, 4);
    ASSERT_NE(texture, nullptr);
    sprites3D.sprite3DTable =
        static_cast<Sprite3DRecord*>(HeapAlloc(runtime.heap, HEAP_ZERO_MEMORY, 3 * sizeof(Sprite3DRecord)));
    sprites3D.sprite3DCapacity = 3;
    sprites3D.sprite3DTable[0].texture = texture;
    sprites3D.sprite3DTable[2].texture = texture;
    faults::StartRecording();
    FreeSprite(1);
    FreeSprite(1);
    EXPECT_EQ(faults::RecordedMatching({"IDirectDrawSurface7::"}), std::vector<std::string>{"IDirectDrawSurface7::Release texture"});
    EXPECT_EQ(sprites.spriteTable[1].fileName, nullptr);
    EXPECT_EQ(sprites3D.sprite3DTable[0].texture, nullptr);
    EXPECT_EQ(sprites3D.sprite3DTable[2].texture, nullptr);
}

}  // namespace
