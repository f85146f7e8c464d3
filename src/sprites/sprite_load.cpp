// Sprite loading: a bitmap file read whole into memory, decoded into a new
// surface (or raw block) in a numbered slot of the sprite table.
#include "sprites/sprite_load.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "core/runtime.h"
#include "screen/screen.h"
#include "sprites/bitmap.h"

namespace {

DWORD CapsForMode(int32_t mode) {
    switch (mode) {
    case kModeSystemMemory:
        return DDSCAPS_OFFSCREENPLAIN | DDSCAPS_SYSTEMMEMORY;
    case kModeTexture:
        return DDSCAPS_TEXTURE;
    default:
        return DDSCAPS_OFFSCREENPLAIN;
    }
}

// The copy converts for the screen's depth and layout into rows `pitch`
// bytes apart. A surface whose lock says otherwise (one made while DirectDraw
// was in another mode than the screen records) or is smaller than the picture
// is not written: the rows would run past its memory.
bool LockFitsCopy(const DDSURFACEDESC2& lock, const BitmapInfo& info) {
    if (!lock.lpSurface) return false;
    if ((lock.dwFlags & DDSD_WIDTH) && lock.dwWidth < static_cast<DWORD>(info.width)) return false;
    if ((lock.dwFlags & DDSD_HEIGHT) && info.height > 0 && lock.dwHeight < static_cast<DWORD>(info.height)) return false;
    if (lock.dwFlags & DDSD_PIXELFORMAT) {
        const DDPIXELFORMAT& format = lock.ddpfPixelFormat;
        if (format.dwRGBBitCount != static_cast<DWORD>(screen.depth)) return false;
        // 16 bits are either 5-6-5 or 5-5-5, told apart as the screen was.
        if (screen.depth == 16 && (format.dwGBitMask != 0x07E0) != (screen.pixelFormat == kPixel555)) return false;
    }
    const int64_t rowBytes = static_cast<int64_t>(info.width) * ((screen.depth + 7) / 8);
    return lock.lPitch >= rowBytes;
}

// Reads the whole of file `name` into a GlobalAlloc buffer and hands it to
// `use`, in the order the loader keeps: open, size, buffer, read, use, free,
// close. Only a file read whole is used: a short or failed read is treated
// like a file that cannot be opened. Null when `use` was not called.
template <class Use>
void* WithFileBytes(const char* name, Use use) {
    HANDLE file = CreateFileA(name, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                              nullptr);
    if (file == INVALID_HANDLE_VALUE) return nullptr;

    void* result = nullptr;
    DWORD size = GetFileSize(file, nullptr);
    if (size != INVALID_FILE_SIZE) {
        BYTE* buffer = static_cast<BYTE*>(GlobalAlloc(GMEM_FIXED, size));
        if (buffer) {
            DWORD read = 0;
            if (ReadFile(file, buffer, size, &read, nullptr) && read == size) result = use(buffer, size);
            GlobalFree(buffer);
        }
    }
    CloseHandle(file);
    return result;
}

enum class Copied { lockFailed, refused, done };

// The picture into the surface's memory, for the screen's depth and layout.
Copied LockAndCopy(IDirectDrawSurface7* surface, const BitmapInfo& info) {
    DDSURFACEDESC2 description;
    std::memset(&description, 0, sizeof(description));
    description.dwSize = sizeof(description);
    if (surface->Lock(nullptr, &description, DDLOCK_WAIT, nullptr) != DD_OK) return Copied::lockFailed;
    bool copied = LockFitsCopy(description, info) &&
                  CopyBitmapToSurface(info, static_cast<BYTE*>(description.lpSurface), description.lPitch);
    surface->Unlock(nullptr);
    return copied ? Copied::done : Copied::refused;
}

char* CopyName(const char* name) {
    if (!name) name = "";
    size_t size = std::strlen(name) + 1;
    char* copy = static_cast<char*>(std::malloc(size));
    if (copy) std::memcpy(copy, name, size);
    return copy;
}

}  // namespace

void* LoadSpriteFromFile(int32_t number, const char* name, int32_t mode) {
    // A file that cannot be read whole leaves the slot as it was.
    return WithFileBytes(name, [&](const BYTE* data, DWORD size) { return BuildSprite(number, data, size, mode, name); });
}

void* RefillSpriteFromFile(int32_t number) {
    if (number < 0 || number >= sprites.spriteCapacity || !sprites.spriteTable) return nullptr;
    const SpriteRecord& record = sprites.spriteTable[number];
    if (!record.surface || record.bitDepth == kRawBlockDepth || !record.fileName) return nullptr;
    IDirectDrawSurface7* surface = SpriteSurface(record);
    return WithFileBytes(record.fileName, [&](const BYTE* data, DWORD size) -> void* {
        // Only the picture the surface was made for fits it: a file that has
        // changed its size or depth since is left alone.
        BitmapInfo info;
        if (!ReadBitmapHeader(data, size, &info) || info.width != record.width || info.height != record.height ||
            info.bitCount != static_cast<uint16_t>(record.bitDepth))
            return nullptr;
        return LockAndCopy(surface, info) == Copied::done ? surface : nullptr;
    });
}

void* BuildSprite(int32_t number, const BYTE* data, size_t length, int32_t mode, const char* name) {
    if (!GrowSpriteTable(number)) return nullptr;
    // The copy comes first: when the presentation reloads a sprite, `name` is
    // this very slot's file name, which freeing the slot releases.
    char* copy = CopyName(name);
    if (!copy) return nullptr;
    FreeSprite(number);
    SpriteRecord* record = &sprites.spriteTable[number];

    BitmapInfo info;
    int32_t copyDepth = mode == kModeRawBlock ? 8 : screen.depth;
    if (!ReadBitmapHeader(data, length, &info) ||
        !BitmapRowsPresent(info, BitmapSourceBytesPerPixel(info.bitCount, copyDepth)) ||
        !CreateSpriteSurface(record, info.width, info.height, info.bitCount, mode)) {
        std::free(copy);
        return nullptr;
    }
    record->fileName = copy;

    if (mode == kModeRawBlock) {
        CopyBitmapToBlock(info, static_cast<BYTE*>(record->surface));
        return record->surface;
    }

    IDirectDrawSurface7* surface = SpriteSurface(*record);
    Copied copied = LockAndCopy(surface, info);
    if (copied == Copied::lockFailed) return nullptr;
    surface->SetColorKey(DDCKEY_SRCBLT, &SpriteColorKey);
    return copied == Copied::done ? record->surface : nullptr;
}

void* CreateSpriteSurface(SpriteRecord* record, int32_t width, int32_t height, int32_t depth, int32_t mode) {
    if (!record) return nullptr;
    record->surface = nullptr;
    record->width = static_cast<int16_t>(width);
    record->height = static_cast<int16_t>(height);
    record->bitDepth = static_cast<int16_t>(depth);
    record->mode = static_cast<int16_t>(mode);
    record->fileName = nullptr;

    if (mode == kModeRawBlock) {
        if (depth != 0 && depth != 8) return nullptr;
        // A negative or empty size, or one past 32 bits, is no block.
        int64_t bytes = static_cast<int64_t>(width) * height;
        if (width <= 0 || height <= 0 || bytes > INT32_MAX) return nullptr;
        void* block = HeapAlloc(runtime.heap, 0, static_cast<SIZE_T>(bytes));
        if (block) {
            record->surface = block;
            record->bitDepth = kRawBlockDepth;
        }
        return record->surface;
    }

    // 8-bit pictures only on 8-bit screens; deeper ones only on deeper screens.
    if (depth != 0 && depth != screen.depth && (depth < 16 || screen.depth < 16)) return nullptr;
    if (!screen.directDraw) return nullptr;

    DDSURFACEDESC2 description;
    std::memset(&description, 0, sizeof(description));
    description.dwSize = sizeof(description);
    description.dwFlags = DDSD_CAPS | DDSD_HEIGHT | DDSD_WIDTH;
    description.dwHeight = static_cast<DWORD>(height);
    description.dwWidth = static_cast<DWORD>(width);
    description.ddsCaps.dwCaps = CapsForMode(mode);
    IDirectDrawSurface7* created = nullptr;
    if (screen.directDraw->CreateSurface(&description, &created, nullptr) == DD_OK) record->surface = created;
    return record->surface;
}
