// Stand-in DirectDraw 7: the DirectDraw object, display modes, the flip
// chain, sprite surfaces, locks, device contexts, colour fills, flips,
// colour keys and lost surfaces, over memory surfaces. The host display
// shows the primary surface after every flip.
//
// Each interface object keeps its own Surface (and so its id) for life: a
// flip swaps the pixel memory of the primary surface and the back buffer,
// never the objects, so the back buffer interface always names the surface
// that the next frame is drawn into.
#include <algorithm>
#include <new>
#include <set>
#include <string>
#include <vector>

#include "platform/api.h"
#include "platform/faults.h"
#include "platform/gdi_internal.h"
#include "platform/host/host.h"
#include "platform/standin.h"
#include "platform/surface.h"

namespace {

using standin::PixelLayout;
using standin::Surface;

// Larger sizes are refused rather than attempted: no card of the time made
// surfaces this big, and a corrupt bitmap header must not ask for gigabytes.
constexpr DWORD kMaxSide = 8192;
constexpr uint64_t kMaxPixels = 4096ull * 4096ull;

// The desktop the program starts on, before it sets a mode of its own.
constexpr int kDesktopWidth = 640, kDesktopHeight = 480, kDesktopBpp = 32;

constexpr DWORD kColorKeyColorSpace = 0x00000001;  // DDCKEY_COLORSPACE

enum class Kind { primary, backbuffer, offscreen, sysmem, texture };

const char* KindName(Kind k) {
    switch (k) {
        case Kind::primary: return "primary";
        case Kind::backbuffer: return "backbuffer";
        case Kind::offscreen: return "offscreen";
        case Kind::sysmem: return "sysmem";
        case Kind::texture: return "texture";
    }
    return "surface";
}

bool LayoutFor(int bpp, PixelLayout& layout) {
    layout = PixelLayout{};
    layout.bitsPerPixel = bpp;
    switch (bpp) {
        case 8: return true;
        case 15: layout.redMask = 0x7C00; layout.greenMask = 0x03E0; layout.blueMask = 0x001F; break;
        case 16: layout.redMask = 0xF800; layout.greenMask = 0x07E0; layout.blueMask = 0x001F; break;
        case 24:
        case 32: layout.redMask = 0xFF0000; layout.greenMask = 0x00FF00; layout.blueMask = 0x0000FF; break;
        default: return false;
    }
    DWORD r, g, b;
    if (standin::DisplayMasksOverride(bpp, r, g, b)) {
        layout.redMask = r;
        layout.greenMask = g;
        layout.blueMask = b;
    }
    return true;
}

DWORD PixelBits(const PixelLayout& layout) {
    int bytes = layout.BytesPerPixel();
    return bytes >= 4 ? 0xFFFFFFFFu : ((1u << (8 * bytes)) - 1u);
}

// The whole surface for a null rectangle; false for one that is empty or
// reaches outside the surface, which DirectDraw refuses.
bool AreaOf(const Surface& surface, const RECT* rect, RECT& area) {
    area = rect ? *rect : RECT{0, 0, surface.width, surface.height};
    return area.left >= 0 && area.top >= 0 && area.left < area.right && area.top < area.bottom &&
           area.right <= surface.width && area.bottom <= surface.height;
}

class DirectDraw;
class DDSurface;

std::set<DirectDraw*> liveDirectDraws;
std::set<DDSurface*> liveSurfaces;

HRESULT Failed(const std::string& call, HRESULT result) {
    standin::TraceFailure(call, result);
    return result;
}

class DDSurface final : public IDirectDrawSurface7 {
public:
    DDSurface(Kind k, DirectDraw* o) : kind(k), owner(o) { liveSurfaces.insert(this); }
    ~DDSurface() override { liveSurfaces.erase(this); }

    std::string Name(const char* method) const { return std::string("IDirectDrawSurface7::") + method + " " + KindName(kind); }

    HRESULT QueryInterface(REFIID riid, void** object) override {
        return standin::QueryOwnInterface(static_cast<IDirectDrawSurface7*>(this), riid, &IID_IDirectDrawSurface7, object);
    }
    ULONG AddRef() override { return ++refs; }
    ULONG Release() override {
        faults::Record(Name("Release"));
        return Drop();
    }
    ULONG Drop();

    HRESULT Blt(LPRECT destRect, IDirectDrawSurface7* source, LPRECT sourceRect, DWORD flags, LPDDBLTFX fx) override;
    HRESULT Flip(IDirectDrawSurface7* target, DWORD flags) override;
    HRESULT GetAttachedSurface(LPDDSCAPS2 caps, IDirectDrawSurface7** attachedOut) override;
    HRESULT GetDC(HDC* dcOut) override;
    HRESULT GetSurfaceDesc(LPDDSURFACEDESC2 description) override;
    HRESULT IsLost() override { return surface.lost ? DDERR_SURFACELOST : DD_OK; }
    HRESULT Lock(LPRECT rect, LPDDSURFACEDESC2 description, DWORD flags, HANDLE event) override;
    HRESULT ReleaseDC(HDC dcIn) override;
    HRESULT Restore() override;
    HRESULT SetColorKey(DWORD flags, LPDDCOLORKEY key) override;
    HRESULT Unlock(LPRECT rect) override;

    // Video memory goes with the display; system memory stays the program's.
    void Lose() {
        if (kind != Kind::sysmem) surface.lost = true;
    }

    // Contents are gone after a loss; what a restored surface shows is
    // undefined on Windows, black here.
    void Revive() {
        if (!surface.lost) return;
        surface.lost = false;
        std::fill(surface.pixels.begin(), surface.pixels.end(), BYTE{0});
        surface.Touch();
    }

    void Describe(DDSURFACEDESC2& d) const {
        DWORD size = d.dwSize;
        std::memset(&d, 0, sizeof d);
        d.dwSize = size;
        d.dwFlags = DDSD_CAPS | DDSD_HEIGHT | DDSD_WIDTH | DDSD_PITCH | DDSD_PIXELFORMAT;
        d.dwWidth = static_cast<DWORD>(surface.width);
        d.dwHeight = static_cast<DWORD>(surface.height);
        d.lPitch = surface.pitch;
        if (attached) {
            d.dwFlags |= DDSD_BACKBUFFERCOUNT;
            d.dwBackBufferCount = 1;
        }
        DDPIXELFORMAT& pf = d.ddpfPixelFormat;
        pf.dwSize = sizeof(DDPIXELFORMAT);
        const PixelLayout& l = surface.layout;
        if (l.bitsPerPixel == 8) {
            pf.dwFlags = DDPF_RGB | DDPF_PALETTEINDEXED8;
            pf.dwRGBBitCount = 8;
        } else {
            pf.dwFlags = DDPF_RGB;
            pf.dwRGBBitCount = static_cast<DWORD>(l.BytesPerPixel() * 8);
            pf.dwRBitMask = l.redMask;
            pf.dwGBitMask = l.greenMask;
            pf.dwBBitMask = l.blueMask;
        }
        d.ddsCaps.dwCaps = surface.caps;
        if (surface.hasColorKey) {
            d.dwFlags |= DDSD_CKSRCBLT;
            d.ddckCKSrcBlt.dwColorSpaceLowValue = surface.colorKeyLow;
            d.ddckCKSrcBlt.dwColorSpaceHighValue = surface.colorKeyHigh;
        }
    }

    bool Busy() const { return locked || dc != nullptr; }
    // The device asks at every draw whether the program is at the pixels.
    void NoteBusy() { surface.busy = Busy(); }

    ULONG refs = 1;
    Kind kind;
    Surface surface;
    DirectDraw* owner;                // null once the DirectDraw object is gone
    DDSurface* attached = nullptr;    // primary: its back buffer, holding one reference
    DDSurface* chainOwner = nullptr;  // back buffer: its primary
    bool locked = false;
    HDC dc = nullptr;
};

class DirectDraw final : public IDirectDraw7 {
public:
    DirectDraw() { liveDirectDraws.insert(this); }
    ~DirectDraw() override { liveDirectDraws.erase(this); }

    HRESULT QueryInterface(REFIID riid, void** object) override {
        if (riid != IID_IDirect3D7) {
            return standin::QueryOwnInterface(static_cast<IDirectDraw7*>(this), riid, &IID_IDirectDraw7, object);
        }
        // The Direct3D object is reached through DirectDraw, as on Windows.
        if (!object) return E_POINTER;
        *object = nullptr;
        if (faults::Hit("IDirectDraw7::QueryInterface IDirect3D7"))
            return Failed("IDirectDraw7::QueryInterface IDirect3D7", E_NOINTERFACE);
        IDirect3D7* d3d = standin::CreateDirect3D(this);
        if (!d3d) return Failed("IDirectDraw7::QueryInterface IDirect3D7", E_NOINTERFACE);
        *object = d3d;
        return S_OK;
    }
    ULONG AddRef() override { return ++refs; }
    ULONG Release() override {
        faults::Record("IDirectDraw7::Release");
        if (--refs) return refs;
        // Surfaces the program still holds stay valid memory; they just no
        // longer belong to a display.
        for (DDSurface* s : surfaces) s->owner = nullptr;
        delete this;
        return 0;
    }

    HRESULT CreateSurface(LPDDSURFACEDESC2 description, IDirectDrawSurface7** surfaceOut, IUnknown* outer) override;
    HRESULT RestoreAllSurfaces() override;
    HRESULT SetCooperativeLevel(HWND window, DWORD flags) override;
    HRESULT SetDisplayMode(DWORD width, DWORD height, DWORD bitsPerPixel, DWORD refreshRate, DWORD flags) override;

    void CurrentMode(int& width, int& height, PixelLayout& layout) const {
        if (modeSet) {
            width = modeWidth;
            height = modeHeight;
            layout = modeLayout;
        } else {
            width = kDesktopWidth;
            height = kDesktopHeight;
            LayoutFor(kDesktopBpp, layout);
        }
    }

    void LoseSurfaces() {
        for (DDSurface* s : surfaces) s->Lose();
    }

    ULONG refs = 1;
    HWND window = nullptr;
    bool exclusive = false;
    bool modeSet = false;
    int modeWidth = 0, modeHeight = 0, modeBpp = 0;
    PixelLayout modeLayout;
    std::set<DDSurface*> surfaces;
    DDSurface* primary = nullptr;
};

ULONG DDSurface::Drop() {
    if (--refs) return refs;
    standin::FinishDrawing();
    if (dc) standin::DeleteSurfaceDC(dc);
    if (owner) {
        owner->surfaces.erase(this);
        if (owner->primary == this) owner->primary = nullptr;
    }
    if (chainOwner) chainOwner->attached = nullptr;
    DDSurface* back = attached;
    attached = nullptr;
    if (back) {
        // The chain's back buffer goes with its primary surface.
        back->chainOwner = nullptr;
        back->Drop();
    }
    delete this;
    return 0;
}

HRESULT DDSurface::Blt(LPRECT destRect, IDirectDrawSurface7* source, LPRECT, DWORD flags, LPDDBLTFX fx) {
    standin::FinishDrawing();
    std::string call = Name("Blt");
    if (faults::Hit(call)) return Failed(call + " (scheduled)", DDERR_GENERIC);
    if (surface.lost) return Failed(call, DDERR_SURFACELOST);
    if (locked) return Failed(call, DDERR_SURFACEBUSY);
    if (!(flags & DDBLT_COLORFILL)) return Failed(call + " (only colour fills)", DDERR_UNSUPPORTED);
    if (!fx || fx->dwSize != sizeof(DDBLTFX) || source) return Failed(call, DDERR_INVALIDPARAMS);
    RECT r;
    if (!AreaOf(surface, destRect, r)) return Failed(call + " (rectangle)", DDERR_INVALIDPARAMS);
    DWORD value = fx->dwFillColor & PixelBits(surface.layout);
    int bytes = surface.layout.BytesPerPixel();
    size_t span = static_cast<size_t>(r.right - r.left) * bytes;
    BYTE* first = surface.Row(r.top) + static_cast<size_t>(r.left) * bytes;
    const BYTE low = static_cast<BYTE>(value);
    bool sameBytes = true;  // black, white: the demo clears every frame
    for (int i = 1; i < bytes; ++i) sameBytes = sameBytes && static_cast<BYTE>(value >> (8 * i)) == low;
    if (sameBytes) {
        for (int y = r.top; y < r.bottom; ++y) std::memset(surface.Row(y) + static_cast<size_t>(r.left) * bytes, low, span);
    } else {
        for (int x = r.left; x < r.right; ++x) surface.WriteRaw(x, r.top, value);
        for (int y = r.top + 1; y < r.bottom; ++y)
            std::memcpy(surface.Row(y) + static_cast<size_t>(r.left) * bytes, first, span);
    }
    surface.Touch();
    return DD_OK;
}

HRESULT DDSurface::Flip(IDirectDrawSurface7* target, DWORD) {
    standin::FinishDrawing();
    if (faults::Hit("IDirectDrawSurface7::Flip")) return Failed("IDirectDrawSurface7::Flip (scheduled)", DDERR_GENERIC);
    if (kind != Kind::primary || !attached) return Failed("IDirectDrawSurface7::Flip", DDERR_NOTFLIPPABLE);
    if (target && target != static_cast<IDirectDrawSurface7*>(attached))
        return Failed("IDirectDrawSurface7::Flip (target)", DDERR_INVALIDPARAMS);
    if (!owner || !owner->exclusive) return Failed("IDirectDrawSurface7::Flip", DDERR_NOEXCLUSIVEMODE);
    if (surface.lost || attached->surface.lost) return Failed("IDirectDrawSurface7::Flip", DDERR_SURFACELOST);
    if (Busy() || attached->Busy()) return Failed("IDirectDrawSurface7::Flip", DDERR_SURFACEBUSY);
    std::swap(surface.pixels, attached->surface.pixels);
    surface.Touch();
    attached->surface.Touch();
    standin::host::Present(surface);
    return DD_OK;
}

HRESULT DDSurface::GetAttachedSurface(LPDDSCAPS2 caps, IDirectDrawSurface7** attachedOut) {
    std::string call = Name("GetAttachedSurface");
    if (!attachedOut || !caps) return Failed(call, DDERR_INVALIDPARAMS);
    *attachedOut = nullptr;
    if (faults::Hit(call)) return Failed(call + " (scheduled)", DDERR_GENERIC);
    if (!attached || (attached->surface.caps & caps->dwCaps) != caps->dwCaps) return Failed(call, DDERR_NOTFOUND);
    attached->AddRef();
    *attachedOut = attached;
    return DD_OK;
}

HRESULT DDSurface::GetDC(HDC* dcOut) {
    standin::FinishDrawing();
    std::string call = Name("GetDC");
    if (!dcOut) return Failed(call, DDERR_INVALIDPARAMS);
    *dcOut = nullptr;
    if (faults::Hit(call)) return Failed(call + " (scheduled)", DDERR_GENERIC);
    if (surface.lost) return Failed(call, DDERR_SURFACELOST);
    if (dc) return Failed(call, DDERR_DCALREADYCREATED);
    if (locked) return Failed(call, DDERR_SURFACEBUSY);
    dc = standin::CreateSurfaceDC(&surface);
    NoteBusy();
    surface.Touch();
    *dcOut = dc;
    return DD_OK;
}

HRESULT DDSurface::ReleaseDC(HDC dcIn) {
    faults::Record(Name("ReleaseDC"));
    if (!dc || dcIn != dc) return Failed(Name("ReleaseDC"), DDERR_NODC);
    standin::DeleteSurfaceDC(dc);
    dc = nullptr;
    NoteBusy();
    surface.Touch();
    return DD_OK;
}

HRESULT DDSurface::GetSurfaceDesc(LPDDSURFACEDESC2 description) {
    if (!description || description->dwSize != sizeof(DDSURFACEDESC2))
        return Failed(Name("GetSurfaceDesc"), DDERR_INVALIDPARAMS);
    Describe(*description);
    return DD_OK;
}

HRESULT DDSurface::Lock(LPRECT rect, LPDDSURFACEDESC2 description, DWORD, HANDLE) {
    standin::FinishDrawing();
    std::string call = Name("Lock");
    if (!description || description->dwSize != sizeof(DDSURFACEDESC2)) return Failed(call, DDERR_INVALIDPARAMS);
    if (faults::Hit(call)) return Failed(call + " (scheduled)", DDERR_GENERIC);
    if (surface.lost) return Failed(call, DDERR_SURFACELOST);
    if (Busy()) return Failed(call, DDERR_SURFACEBUSY);
    RECT r;
    if (!AreaOf(surface, rect, r)) return Failed(call + " (rectangle)", DDERR_INVALIDPARAMS);
    Describe(*description);
    description->dwFlags |= DDSD_LPSURFACE;
    description->lpSurface = surface.Row(r.top) + static_cast<size_t>(r.left) * surface.layout.BytesPerPixel();
    locked = true;
    NoteBusy();
    surface.Touch();
    return DD_OK;
}

HRESULT DDSurface::Unlock(LPRECT) {
    faults::Record(Name("Unlock"));
    if (!locked) return Failed(Name("Unlock"), DDERR_NOTLOCKED);
    locked = false;
    NoteBusy();
    surface.Touch();
    return DD_OK;
}

HRESULT DDSurface::Restore() {
    standin::FinishDrawing();
    std::string call = Name("Restore");
    if (faults::Hit(call)) return Failed(call + " (scheduled)", DDERR_GENERIC);
    // Video memory comes back only while the program has the display.
    if (owner && owner->exclusive && !standin::HostInForeground()) return Failed(call, DDERR_NOEXCLUSIVEMODE);
    Revive();
    if (attached) attached->Revive();
    surface.Touch();
    return DD_OK;
}

HRESULT DDSurface::SetColorKey(DWORD flags, LPDDCOLORKEY key) {
    standin::FinishDrawing();
    faults::Record(Name("SetColorKey"));
    if (!(flags & DDCKEY_SRCBLT)) return Failed(Name("SetColorKey"), DDERR_UNSUPPORTED);
    if (!key) {
        surface.hasColorKey = false;
        surface.colorKeyLow = surface.colorKeyHigh = 0;
        return DD_OK;
    }
    surface.hasColorKey = true;
    surface.colorKeyLow = key->dwColorSpaceLowValue;
    surface.colorKeyHigh = (flags & kColorKeyColorSpace) ? key->dwColorSpaceHighValue : key->dwColorSpaceLowValue;
    return DD_OK;
}

HRESULT DirectDraw::SetCooperativeLevel(HWND hwnd, DWORD flags) {
    const std::string call = "IDirectDraw7::SetCooperativeLevel";
    if (faults::Hit(call)) return Failed(call + " (scheduled)", DDERR_GENERIC);
    bool wantsExclusive = (flags & DDSCL_EXCLUSIVE) != 0;
    bool wantsFull = (flags & DDSCL_FULLSCREEN) != 0;
    bool wantsNormal = (flags & DDSCL_NORMAL) != 0;
    if (wantsExclusive != wantsFull || wantsNormal == wantsExclusive) return Failed(call, DDERR_INVALIDPARAMS);
    if (wantsExclusive) {
        if (!IsWindow(hwnd)) return Failed(call + " (no window)", DDERR_INVALIDPARAMS);
        for (DirectDraw* other : liveDirectDraws) {
            if (other != this && other->exclusive) return Failed(call + " (another owner)", DDERR_NOEXCLUSIVEMODE);
        }
        exclusive = true;
        window = hwnd;
        return DD_OK;
    }
    if (exclusive && modeSet) {
        // Leaving exclusive mode gives the desktop its own mode back; what
        // was in video memory is gone.
        modeSet = false;
        LoseSurfaces();
    }
    exclusive = false;
    window = hwnd;
    return DD_OK;
}

HRESULT DirectDraw::SetDisplayMode(DWORD width, DWORD height, DWORD bpp, DWORD refreshRate, DWORD) {
    const std::string call = "IDirectDraw7::SetDisplayMode";
    if (faults::Hit(call + " " + std::to_string(width) + " " + std::to_string(height) + " " + std::to_string(bpp)))
        return Failed(call + " (scheduled)", DDERR_GENERIC);
    if (!exclusive) return Failed(call, DDERR_NOEXCLUSIVEMODE);
    PixelLayout layout;
    // Every mode here runs at the host's 60 Hz; 0 asks for the default.
    if (width == 0 || height == 0 || width > kMaxSide || height > kMaxSide || !LayoutFor(static_cast<int>(bpp), layout) ||
        (refreshRate != 0 && refreshRate != 60))
        return Failed(call + " " + std::to_string(width) + "x" + std::to_string(height) + "x" + std::to_string(bpp),
                      DDERR_INVALIDMODE);
    if (modeSet && modeWidth == static_cast<int>(width) && modeHeight == static_cast<int>(height) &&
        modeBpp == static_cast<int>(bpp))
        return DD_OK;
    bool wasSet = modeSet;
    modeSet = true;
    modeWidth = static_cast<int>(width);
    modeHeight = static_cast<int>(height);
    modeBpp = static_cast<int>(bpp);
    modeLayout = layout;
    if (wasSet) LoseSurfaces();
    return DD_OK;
}

HRESULT DirectDraw::RestoreAllSurfaces() {
    standin::FinishDrawing();
    faults::Record("IDirectDraw7::RestoreAllSurfaces");
    if (exclusive && !standin::HostInForeground())
        return Failed("IDirectDraw7::RestoreAllSurfaces", DDERR_NOEXCLUSIVEMODE);
    for (DDSurface* s : surfaces) s->Revive();
    return DD_OK;
}

HRESULT DirectDraw::CreateSurface(LPDDSURFACEDESC2 d, IDirectDrawSurface7** surfaceOut, IUnknown* outer) {
    std::string call = "IDirectDraw7::CreateSurface";
    if (surfaceOut) *surfaceOut = nullptr;
    if (!d || d->dwSize != sizeof(DDSURFACEDESC2) || !surfaceOut) return Failed(call, DDERR_INVALIDPARAMS);
    if (outer) return Failed(call, CLASS_E_NOAGGREGATION);
    DWORD caps = (d->dwFlags & DDSD_CAPS) ? d->ddsCaps.dwCaps : DDSCAPS_OFFSCREENPLAIN;

    if (caps & DDSCAPS_PRIMARYSURFACE) {
        call += " primary";
        if (faults::Hit(call)) return Failed(call + " (scheduled)", DDERR_GENERIC);
        if (primary) return Failed(call, DDERR_PRIMARYSURFACEALREADYEXISTS);
        if (d->dwFlags & (DDSD_WIDTH | DDSD_HEIGHT)) return Failed(call + " (primary has the mode's size)", DDERR_INVALIDPARAMS);
        bool flip = (caps & DDSCAPS_FLIP) != 0;
        if (flip) {
            if (!(caps & DDSCAPS_COMPLEX) || !(d->dwFlags & DDSD_BACKBUFFERCOUNT) || d->dwBackBufferCount == 0)
                return Failed(call + " (flip chain)", DDERR_INVALIDPARAMS);
            if (d->dwBackBufferCount != 1) return Failed(call + " (one back buffer only)", DDERR_UNSUPPORTED);
            if (!exclusive) return Failed(call, DDERR_NOEXCLUSIVEMODE);
        }
        int width, height;
        PixelLayout layout;
        CurrentMode(width, height, layout);
        auto* front = new DDSurface(Kind::primary, this);
        DDSurface* back = nullptr;
        try {
            standin::InitSurface(front->surface, width, height, layout,
                                 caps | DDSCAPS_FRONTBUFFER | DDSCAPS_VIDEOMEMORY | DDSCAPS_LOCALVIDMEM);
            if (flip) {
                back = new DDSurface(Kind::backbuffer, this);
                standin::InitSurface(back->surface, width, height, layout,
                                     DDSCAPS_BACKBUFFER | (caps & (DDSCAPS_FLIP | DDSCAPS_COMPLEX | DDSCAPS_3DDEVICE)) |
                                         DDSCAPS_VIDEOMEMORY | DDSCAPS_LOCALVIDMEM);
            }
        } catch (const std::bad_alloc&) {
            delete back;
            delete front;
            return Failed(call, DDERR_OUTOFMEMORY);
        }
        surfaces.insert(front);
        primary = front;
        if (back) {
            surfaces.insert(back);
            front->attached = back;
            back->chainOwner = front;
        }
        *surfaceOut = front;
        return DD_OK;
    }

    Kind kind = (caps & DDSCAPS_TEXTURE) ? Kind::texture : (caps & DDSCAPS_SYSTEMMEMORY) ? Kind::sysmem : Kind::offscreen;
    call += std::string(" ") + KindName(kind);
    if (faults::Hit(call)) return Failed(call + " (scheduled)", DDERR_GENERIC);
    if ((d->dwFlags & (DDSD_WIDTH | DDSD_HEIGHT)) != (DDSD_WIDTH | DDSD_HEIGHT))
        return Failed(call + " (no size)", DDERR_INVALIDPARAMS);
    if (caps & (DDSCAPS_FLIP | DDSCAPS_BACKBUFFER | DDSCAPS_FRONTBUFFER)) return Failed(call + " (caps)", DDERR_INVALIDPARAMS);
    // DWORDs: a negative size from a caller arrives here as a huge one.
    if (d->dwWidth == 0 || d->dwHeight == 0 || d->dwWidth > kMaxSide || d->dwHeight > kMaxSide ||
        static_cast<uint64_t>(d->dwWidth) * d->dwHeight > kMaxPixels)
        return Failed(call + " " + std::to_string(d->dwWidth) + "x" + std::to_string(d->dwHeight), DDERR_INVALIDPARAMS);

    int modeW, modeH;
    PixelLayout layout;
    CurrentMode(modeW, modeH, layout);
    if (d->dwFlags & DDSD_PIXELFORMAT) {
        const DDPIXELFORMAT& pf = d->ddpfPixelFormat;
        if (!(pf.dwFlags & DDPF_RGB)) return Failed(call + " (pixel format)", DDERR_INVALIDPARAMS);
        if (pf.dwFlags & DDPF_PALETTEINDEXED8) {
            LayoutFor(8, layout);
        } else if ((pf.dwRGBBitCount == 16 || pf.dwRGBBitCount == 24 || pf.dwRGBBitCount == 32) && pf.dwRBitMask &&
                   pf.dwGBitMask && pf.dwBBitMask) {
            layout = PixelLayout{};
            layout.redMask = pf.dwRBitMask;
            layout.greenMask = pf.dwGBitMask;
            layout.blueMask = pf.dwBBitMask;
            layout.bitsPerPixel = static_cast<int>(pf.dwRGBBitCount);
        } else {
            return Failed(call + " (pixel format)", DDERR_INVALIDPARAMS);
        }
    }
    auto* s = new DDSurface(kind, this);
    try {
        DWORD placed = (caps & DDSCAPS_SYSTEMMEMORY) ? 0 : (DDSCAPS_VIDEOMEMORY | DDSCAPS_LOCALVIDMEM);
        standin::InitSurface(s->surface, static_cast<int>(d->dwWidth), static_cast<int>(d->dwHeight), layout, caps | placed);
    } catch (const std::bad_alloc&) {
        delete s;
        return Failed(call, DDERR_OUTOFMEMORY);
    }
    if (d->dwFlags & DDSD_CKSRCBLT) {
        s->surface.hasColorKey = true;
        s->surface.colorKeyLow = d->ddckCKSrcBlt.dwColorSpaceLowValue;
        s->surface.colorKeyHigh = d->ddckCKSrcBlt.dwColorSpaceHighValue;
    }
    surfaces.insert(s);
    *surfaceOut = s;
    return DD_OK;
}

}  // namespace

namespace standin {

void ResetDDraw() {
    std::vector<DDSurface*> ss(liveSurfaces.begin(), liveSurfaces.end());
    for (DDSurface* s : ss) delete s;
    std::vector<DirectDraw*> ds(liveDirectDraws.begin(), liveDirectDraws.end());
    for (DirectDraw* d : ds) delete d;
    host::ResetDisplay();
}

void LoseAllSurfaces() {
    for (DDSurface* s : liveSurfaces) s->Lose();
}

bool ExclusiveDisplaySet() {
    for (DirectDraw* d : liveDirectDraws)
        if (d->exclusive) return true;
    return false;
}

Surface* SurfaceOf(IDirectDrawSurface7* surface) {
    auto* s = static_cast<DDSurface*>(surface);
    return surface && liveSurfaces.count(s) ? &s->surface : nullptr;
}

}  // namespace standin

HRESULT WINAPI DirectDrawCreateEx(GUID*, LPVOID* object, REFIID iid, IUnknown* outer) {
    if (!object) return DDERR_INVALIDPARAMS;
    *object = nullptr;
    if (faults::Hit("DirectDrawCreateEx")) return Failed("DirectDrawCreateEx (scheduled)", DDERR_GENERIC);
    if (outer) return Failed("DirectDrawCreateEx", CLASS_E_NOAGGREGATION);
    if (iid != IID_IDirectDraw7) return Failed("DirectDrawCreateEx (not IID_IDirectDraw7)", DDERR_INVALIDPARAMS);
    *object = static_cast<IDirectDraw7*>(new DirectDraw);
    return DD_OK;
}
