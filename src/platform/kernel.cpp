// The kernel half of the stand-in: heaps that know their blocks, a registry
// of the by-name DirectX libraries, whole-file reading on stdio, MulDiv with
// Windows' rounding, and ExitProcess.
#include "platform/kernel.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unordered_map>
#include <unordered_set>

#include "platform/faults.h"
#include "platform/host/host.h"
#include "platform/standin.h"

namespace {

struct Heap {
    std::unordered_map<void*, size_t> blocks;
};

std::unordered_set<Heap*> liveHeaps;

struct Library {
    const char* name;
    std::unordered_map<std::string, FARPROC> entries;
    int loads = 0;
};

// The libraries the stand-in can "load". Built on first use so that its
// entry points are referenced from here and always linked in.
std::unordered_map<std::string, Library>& Libraries() {
    static std::unordered_map<std::string, Library> libraries = {
        {"DDRAW.DLL", {"DDRAW.DLL", {{"DirectDrawCreateEx", reinterpret_cast<FARPROC>(&DirectDrawCreateEx)}}}},
        {"DINPUT.DLL", {"DINPUT.DLL", {{"DirectInputCreateEx", reinterpret_cast<FARPROC>(&DirectInputCreateEx)}}}},
        {"DSOUND.DLL", {"DSOUND.DLL", {{"DirectSoundCreate", reinterpret_cast<FARPROC>(&DirectSoundCreate)}}}},
    };
    return libraries;
}

struct File {
    std::FILE* stream;
};
std::unordered_set<File*> openFiles;

char moduleAnchor;

Heap* HeapOf(HANDLE heap) {
    auto* h = static_cast<Heap*>(heap);
    return liveHeaps.count(h) ? h : nullptr;
}

// Windows names libraries case-insensitively and adds ".DLL" to a bare name.
std::string LibraryKey(const char* fileName) {
    std::string key;
    for (const char* p = fileName; *p; ++p) key += static_cast<char>(std::toupper(static_cast<unsigned char>(*p)));
    size_t slash = key.find_last_of("\\/");
    if (slash != std::string::npos) key.erase(0, slash + 1);
    if (key.find('.') == std::string::npos) key += ".DLL";
    return key;
}

}  // namespace

namespace standin {

void ResetKernel() {
    for (Heap* h : liveHeaps) {
        for (auto& block : h->blocks) std::free(block.first);
        delete h;
    }
    liveHeaps.clear();
    for (auto& entry : Libraries()) entry.second.loads = 0;
    for (File* f : openFiles) {
        std::fclose(f->stream);
        delete f;
    }
    openFiles.clear();
}

bool TraceOn() {
    static const bool on = [] {
        const char* v = std::getenv("RINGSCROLLER_TRACE");
        return v && *v && std::string(v) != "0";
    }();
    return on;
}

void TraceFailure(const std::string& call, HRESULT result) {
    if (TraceOn()) std::fprintf(stderr, "ringscroller: %s failed (0x%08X)\n", call.c_str(), static_cast<unsigned>(result));
}

}  // namespace standin

HANDLE WINAPI HeapCreate(DWORD, SIZE_T, SIZE_T) {
    if (faults::Hit("HeapCreate")) return nullptr;
    Heap* h = new Heap;
    liveHeaps.insert(h);
    return h;
}

LPVOID WINAPI HeapAlloc(HANDLE heap, DWORD flags, SIZE_T bytes) {
    Heap* h = HeapOf(heap);
    if (!h || faults::Hit("HeapAlloc")) return nullptr;
    void* p = (flags & HEAP_ZERO_MEMORY) ? std::calloc(1, bytes ? bytes : 1) : std::malloc(bytes ? bytes : 1);
    if (!p) return nullptr;
    h->blocks[p] = bytes;
    return p;
}

LPVOID WINAPI HeapReAlloc(HANDLE heap, DWORD flags, LPVOID block, SIZE_T bytes) {
    Heap* h = HeapOf(heap);
    if (!h || faults::Hit("HeapReAlloc")) return nullptr;
    auto it = h->blocks.find(block);
    if (it == h->blocks.end()) return nullptr;
    size_t old = it->second;
    void* p = std::realloc(block, bytes ? bytes : 1);
    if (!p) return nullptr;  // the old block stays valid, as on Windows
    h->blocks.erase(it);
    h->blocks[p] = bytes;
    if ((flags & HEAP_ZERO_MEMORY) && bytes > old) std::memset(static_cast<char*>(p) + old, 0, bytes - old);
    return p;
}

BOOL WINAPI HeapFree(HANDLE heap, DWORD, LPVOID block) {
    Heap* h = HeapOf(heap);
    if (!h) return FALSE;
    if (!block) return TRUE;
    auto it = h->blocks.find(block);
    if (it == h->blocks.end()) return FALSE;
    std::free(block);
    h->blocks.erase(it);
    return TRUE;
}

BOOL WINAPI HeapDestroy(HANDLE heap) {
    Heap* h = HeapOf(heap);
    faults::Record("HeapDestroy");
    if (!h) return FALSE;
    for (auto& block : h->blocks) std::free(block.first);
    liveHeaps.erase(h);
    delete h;
    return TRUE;
}

SIZE_T WINAPI HeapSize(HANDLE heap, DWORD, LPCVOID block) {
    Heap* h = HeapOf(heap);
    if (!h) return static_cast<SIZE_T>(-1);
    auto it = h->blocks.find(const_cast<LPVOID>(block));
    return it == h->blocks.end() ? static_cast<SIZE_T>(-1) : it->second;
}

HMODULE WINAPI GetModuleHandleA(LPCSTR moduleName) {
    if (moduleName) return nullptr;
    return reinterpret_cast<HMODULE>(&moduleAnchor);
}

HMODULE WINAPI LoadLibraryA(LPCSTR fileName) {
    if (!fileName) return nullptr;
    std::string key = LibraryKey(fileName);
    if (faults::Hit("LoadLibraryA " + key)) {
        standin::TraceFailure("LoadLibraryA " + key, E_FAIL);
        return nullptr;
    }
    auto it = Libraries().find(key);
    if (it == Libraries().end()) {
        standin::TraceFailure("LoadLibraryA " + key, E_FAIL);
        return nullptr;
    }
    ++it->second.loads;
    return reinterpret_cast<HMODULE>(&it->second);
}

FARPROC WINAPI GetProcAddress(HMODULE module, LPCSTR procName) {
    if (!module || !procName) return nullptr;
    for (auto& entry : Libraries()) {
        Library& lib = entry.second;
        if (reinterpret_cast<HMODULE>(&lib) != module || lib.loads == 0) continue;
        if (faults::Hit(std::string("GetProcAddress ") + procName)) {
            standin::TraceFailure(std::string("GetProcAddress ") + procName, E_FAIL);
            return nullptr;
        }
        auto found = lib.entries.find(procName);
        return found == lib.entries.end() ? nullptr : found->second;
    }
    return nullptr;
}

BOOL WINAPI FreeLibrary(HMODULE module) {
    for (auto& entry : Libraries()) {
        Library& lib = entry.second;
        if (reinterpret_cast<HMODULE>(&lib) == module && lib.loads > 0) {
            --lib.loads;
            faults::Record(std::string("FreeLibrary ") + lib.name);
            return TRUE;
        }
    }
    return FALSE;
}

HANDLE WINAPI CreateFileA(LPCSTR fileName, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE) {
    if (!fileName || faults::Hit(std::string("CreateFileA ") + fileName)) return INVALID_HANDLE_VALUE;
    // Only a regular file is a file here. Opening a FIFO would wait for a
    // writer, in a call no signal interrupts (SA_RESTART), and a device has
    // no size; both are refused, and the open itself never waits.
    int fd = ::open(fileName, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    struct stat info;
    if (fd >= 0 && (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode))) {
        ::close(fd);
        standin::TraceFailure(std::string("CreateFileA ") + fileName + " (not a regular file)", E_ACCESSDENIED);
        return INVALID_HANDLE_VALUE;
    }
    std::FILE* stream = fd >= 0 ? ::fdopen(fd, "rb") : nullptr;
    if (!stream) {
        if (fd >= 0) ::close(fd);
        standin::TraceFailure(std::string("CreateFileA ") + fileName, E_FAIL);
        return INVALID_HANDLE_VALUE;
    }
    File* f = new File{stream};
    openFiles.insert(f);
    return f;
}

DWORD WINAPI GetFileSize(HANDLE file, LPDWORD fileSizeHigh) {
    auto* f = static_cast<File*>(file);
    if (!openFiles.count(f)) return INVALID_FILE_SIZE;
    long at = std::ftell(f->stream);
    std::fseek(f->stream, 0, SEEK_END);
    long size = std::ftell(f->stream);
    std::fseek(f->stream, at, SEEK_SET);
    if (fileSizeHigh) *fileSizeHigh = 0;
    if (size < 0 || static_cast<unsigned long>(size) >= 0xFFFFFFFFul) return INVALID_FILE_SIZE;
    return static_cast<DWORD>(size);
}

BOOL WINAPI ReadFile(HANDLE file, LPVOID buffer, DWORD bytesToRead, LPDWORD bytesRead, LPOVERLAPPED) {
    auto* f = static_cast<File*>(file);
    if (bytesRead) *bytesRead = 0;
    if (!openFiles.count(f) || faults::Hit("ReadFile")) return FALSE;
    // A read can succeed with fewer bytes than asked (a file cut short while
    // it is read); a test asks for one by name.
    if (faults::Hit("ReadFileShort")) bytesToRead /= 2;
    size_t n = std::fread(buffer, 1, bytesToRead, f->stream);
    if (bytesRead) *bytesRead = static_cast<DWORD>(n);
    return std::ferror(f->stream) ? FALSE : TRUE;
}

BOOL WINAPI CloseHandle(HANDLE object) {
    auto* f = static_cast<File*>(object);
    if (!openFiles.count(f)) return FALSE;
    std::fclose(f->stream);
    openFiles.erase(f);
    delete f;
    return TRUE;
}

HGLOBAL WINAPI GlobalAlloc(UINT flags, SIZE_T bytes) {
    if (faults::Hit("GlobalAlloc")) return nullptr;
    return (flags & GMEM_ZEROINIT) ? std::calloc(1, bytes ? bytes : 1) : std::malloc(bytes ? bytes : 1);
}

HGLOBAL WINAPI GlobalFree(HGLOBAL memory) {
    std::free(memory);
    return nullptr;
}

int WINAPI MulDiv(int number, int numerator, int denominator) {
    if (denominator == 0) return -1;
    int64_t a = number, d = denominator;
    if (d < 0) {
        a = -a;
        d = -d;
    }
    // Halves round away from zero, as Windows does.
    int64_t product = a * numerator;
    int64_t result = product >= 0 ? (product + d / 2) / d : (product - d / 2) / d;
    if (result > 2147483647 || result < -2147483647) return -1;
    return static_cast<int>(result);
}

namespace {
bool trapExit = false;
}

namespace faults {
void TrapExit(bool on) { trapExit = on; }
}  // namespace faults

void WINAPI ExitProcess(UINT exitCode) {
    faults::Record("ExitProcess");
    if (trapExit) throw faults::ProcessExit{exitCode};
    // No drawing thread may be left waiting while the process goes.
    standin::EndDrawingThreads();
    standin::host::Shutdown();
    std::fflush(nullptr);
    std::exit(static_cast<int>(exitCode));
}

DWORD WINAPI GetLastError() { return 0; }
