#include <cstdio>
#include <string>

#include "fixture.h"
#include "platform/api.h"

namespace {

class KernelStandIn : public ::testing::Test {
protected:
    void SetUp() override { faults::Reset(); }
    void TearDown() override { faults::Reset(); }
};

TEST_F(KernelStandIn, MulDivRoundsHalvesAwayFromZero) {
    EXPECT_EQ(MulDiv(22, 96, 72), 29);
    EXPECT_EQ(MulDiv(22, 120, 72), 37);
    EXPECT_EQ(MulDiv(1, 1, 2), 1);
    EXPECT_EQ(MulDiv(-1, 1, 2), -1);
    EXPECT_EQ(MulDiv(3, 1, -2), -2);
    EXPECT_EQ(MulDiv(-3, -1, 2), 2);
    EXPECT_EQ(MulDiv(5, 0, 3), 0);
    EXPECT_EQ(MulDiv(7, 3, 0), -1);
    EXPECT_EQ(MulDiv(0x40000000, 4, 1), -1) << "a result outside 32 bits";
    EXPECT_EQ(MulDiv(0x40000000, 4, 2), -1) << "2^31 does not fit either";
    EXPECT_EQ(MulDiv(2000000000, 2000000000, 2000000000), 2000000000) << "the product is kept in 64 bits";
}

TEST_F(KernelStandIn, HeapZeroFillsNewAndGrownBlocksAndDestroyFreesThemAll) {
    HANDLE heap = HeapCreate(0, 4000, 0);
    ASSERT_NE(heap, nullptr);
    auto* block = static_cast<unsigned char*>(HeapAlloc(heap, HEAP_ZERO_MEMORY, 16));
    ASSERT_NE(block, nullptr);
    for (int i = 0; i < 16; ++i) block[i] = 0xAB;
    block = static_cast<unsigned char*>(HeapReAlloc(heap, HEAP_ZERO_MEMORY, block, 64));
    ASSERT_NE(block, nullptr);
    for (int i = 0; i < 16; ++i) EXPECT_EQ(block[i], 0xAB) << "kept " << i;
    for (int i = 16; i < 64; ++i) EXPECT_EQ(block[i], 0) << "added " << i;
    EXPECT_EQ(HeapSize(heap, 0, block), 64u);
    for (int i = 0; i < 100; ++i) ASSERT_NE(HeapAlloc(heap, 0, 1000), nullptr);
    EXPECT_TRUE(HeapDestroy(heap));
    // The heap is gone: nothing can be taken from it or freed into it.
    EXPECT_EQ(HeapAlloc(heap, 0, 8), nullptr);
    EXPECT_FALSE(HeapFree(heap, 0, block));
}

TEST_F(KernelStandIn, HeapReAllocFailureKeepsTheOldBlock) {
    HANDLE heap = HeapCreate(0, 0, 0);
    auto* block = static_cast<char*>(HeapAlloc(heap, 0, 8));
    std::snprintf(block, 8, "KEEP");
    faults::Fail("HeapReAlloc", 1);
    EXPECT_EQ(HeapReAlloc(heap, HEAP_ZERO_MEMORY, block, 1 << 20), nullptr);
    EXPECT_STREQ(block, "KEEP");
    EXPECT_TRUE(HeapFree(heap, 0, block));
    EXPECT_FALSE(HeapFree(heap, 0, block)) << "a block is freed once";
}

TEST_F(KernelStandIn, LibrariesAreFoundByNameWithoutRegardToCase) {
    HMODULE a = LoadLibraryA("ddraw.dll");
    HMODULE b = LoadLibraryA("DDRAW.DLL");
    HMODULE c = LoadLibraryA("DDraw");
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a, b);
    EXPECT_EQ(a, c);
    EXPECT_NE(GetProcAddress(a, "DirectDrawCreateEx"), nullptr);
    EXPECT_EQ(GetProcAddress(a, "directdrawcreateex"), nullptr) << "entry names are exact";
    EXPECT_EQ(GetProcAddress(a, "DirectSoundCreate"), nullptr) << "each library has only its own entries";
    EXPECT_NE(GetProcAddress(LoadLibraryA("dsound.dll"), "DirectSoundCreate"), nullptr);
    EXPECT_NE(GetProcAddress(LoadLibraryA("DINPUT.DLL"), "DirectInputCreateEx"), nullptr);
    EXPECT_EQ(LoadLibraryA("D3DIM700.DLL"), nullptr);
    EXPECT_TRUE(FreeLibrary(a));
    EXPECT_TRUE(FreeLibrary(b));
    EXPECT_TRUE(FreeLibrary(c));
    EXPECT_FALSE(FreeLibrary(a)) << "unloaded three times already";
    EXPECT_EQ(GetProcAddress(a, "DirectDrawCreateEx"), nullptr) << "an unloaded library has no entries";
}

TEST_F(KernelStandIn, ScheduledFailuresHitByNameOrByFunction) {
    faults::Fail("LoadLibraryA DSOUND.DLL");
    EXPECT_EQ(LoadLibraryA("dsound.dll"), nullptr);
    EXPECT_NE(LoadLibraryA("ddraw.dll"), nullptr);
    faults::Heal("LoadLibraryA DSOUND.DLL");
    EXPECT_NE(LoadLibraryA("dsound.dll"), nullptr);

    faults::Fail("LoadLibraryA", 2, 1);  // one success, then two failures
    EXPECT_NE(LoadLibraryA("ddraw.dll"), nullptr);
    EXPECT_EQ(LoadLibraryA("dinput.dll"), nullptr);
    EXPECT_EQ(LoadLibraryA("ddraw.dll"), nullptr);
    EXPECT_NE(LoadLibraryA("ddraw.dll"), nullptr);

    faults::Fail("GetProcAddress DirectDrawCreateEx", 1);
    HMODULE dd = LoadLibraryA("ddraw.dll");
    EXPECT_EQ(GetProcAddress(dd, "DirectDrawCreateEx"), nullptr);
    EXPECT_NE(GetProcAddress(dd, "DirectDrawCreateEx"), nullptr);
}

TEST_F(KernelStandIn, RecordingKeepsTheOrderOfCalls) {
    faults::StartRecording();
    HMODULE dd = LoadLibraryA("ddraw.dll");
    HANDLE heap = HeapCreate(0, 0, 0);
    FreeLibrary(dd);
    HeapDestroy(heap);
    std::vector<std::string> calls = faults::RecordedMatching({"LoadLibraryA", "FreeLibrary", "HeapDestroy"});
    EXPECT_EQ(calls, (std::vector<std::string>{"LoadLibraryA DDRAW.DLL", "FreeLibrary DDRAW.DLL", "HeapDestroy"}));
}

TEST_F(KernelStandIn, WholeFileReading) {
    std::string path = testing::TempDir() + "kernel-file.bin";
    {
        std::FILE* f = std::fopen(path.c_str(), "wb");
        std::fputs("0123456789", f);
        std::fclose(f);
    }
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetFileSize(file, nullptr), 10u);
    char buffer[16] = {};
    DWORD read = 0;
    EXPECT_TRUE(ReadFile(file, buffer, 10, &read, nullptr));
    EXPECT_EQ(read, 10u);
    EXPECT_STREQ(buffer, "0123456789");
    EXPECT_TRUE(CloseHandle(file));
    EXPECT_FALSE(CloseHandle(file));
    EXPECT_EQ(CreateFileA((path + ".missing").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                          FILE_ATTRIBUTE_NORMAL, nullptr),
              INVALID_HANDLE_VALUE);
    std::remove(path.c_str());
}

TEST_F(KernelStandIn, ExitProcessCanBeTrappedByATest) {
    faults::TrapExit(true);
    try {
        ExitProcess(7);
        FAIL();
    } catch (const faults::ProcessExit& exit) {
        EXPECT_EQ(exit.code, 7u);
    }
}

}  // namespace
