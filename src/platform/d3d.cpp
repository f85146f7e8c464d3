// Stand-in Direct3D 7: the Direct3D object handed out by DirectDraw's
// QueryInterface, and a HAL device drawing pre-transformed triangle strips
// through the software rasteriser into the surface it was created on.
//
// Like Direct3D, the device holds a reference on its render target and on
// the texture set at stage 0, so neither can vanish under it while set.
//
// Like the software devices of the time, it records a scene's draws and
// rasterises them when it must be done (EndScene, or before ddraw lets
// anything else at a surface's pixels), in bands of rows on a few threads
// of its own. The bytes are the same as drawing each at once.
#include <cstdio>
#include <cstring>
#include <memory>
#include <set>
#include <vector>

#include "platform/api.h"
#include "platform/faults.h"
#include "platform/raster.h"
#include "platform/standin.h"
#include "platform/surface.h"

namespace {

constexpr DWORD kStages = 8;
constexpr DWORD kMaxVertices = 0xFFFF;  // one DrawPrimitive call's limit

class Device;
class Direct3D;
std::set<Device*> liveDevices;
std::set<Direct3D*> liveDirect3Ds;
std::vector<D3DTLVERTEX> lastDrawn;

HRESULT Failed(const char* call, HRESULT result) {
    standin::TraceFailure(call, result);
    return result;
}

class Device final : public IDirect3DDevice7 {
public:
    explicit Device(IDirectDrawSurface7* targetSurface)
        : target(targetSurface), workers(new standin::Workers(standin::DrawingThreads())) {
        target->AddRef();
        liveDevices.insert(this);
    }
    ~Device() override { liveDevices.erase(this); }

    // Draws what is recorded, then gives back the surfaces this device
    // holds (releasing them may ask the devices to finish) and goes.
    void Destroy() {
        Finish();
        workers.reset();
        liveDevices.erase(this);
        if (texture) texture->Release();
        target->Release();
        delete this;
    }

    void Finish() { queue.Finish(workers.get()); }
    void EndThreads() {
        Finish();
        workers->Stop();
    }

    HRESULT QueryInterface(REFIID riid, void** object) override {
        return standin::QueryOwnInterface(static_cast<IDirect3DDevice7*>(this), riid, &IID_IDirect3DDevice7, object);
    }
    ULONG AddRef() override { return ++refs; }
    ULONG Release() override {
        faults::Record("IDirect3DDevice7::Release");
        if (--refs) return refs;
        Destroy();
        return 0;
    }

    HRESULT BeginScene() override {
        if (faults::Hit("IDirect3DDevice7::BeginScene"))
            return Failed("IDirect3DDevice7::BeginScene (scheduled)", D3DERR_SCENE_BEGIN_FAILED);
        if (inScene) return Failed("IDirect3DDevice7::BeginScene", D3DERR_SCENE_IN_SCENE);
        // Resolved once a scene: the target's memory stays with its interface.
        targetSurface = standin::SurfaceOf(target);
        if (!targetSurface) return Failed("IDirect3DDevice7::BeginScene (no target)", D3DERR_SCENE_BEGIN_FAILED);
        if (targetSurface->lost) return Failed("IDirect3DDevice7::BeginScene", DDERR_SURFACELOST);
        inScene = true;
        return D3D_OK;
    }

    HRESULT EndScene() override {
        faults::Record("IDirect3DDevice7::EndScene");
        if (!inScene) return Failed("IDirect3DDevice7::EndScene", D3DERR_SCENE_NOT_IN_SCENE);
        inScene = false;
        Finish();
        return D3D_OK;
    }

    HRESULT GetViewport(LPD3DVIEWPORT7 viewport) override {
        if (faults::Hit("IDirect3DDevice7::GetViewport"))
            return Failed("IDirect3DDevice7::GetViewport (scheduled)", DDERR_GENERIC);
        if (!viewport) return Failed("IDirect3DDevice7::GetViewport", DDERR_INVALIDPARAMS);
        standin::Surface* s = standin::SurfaceOf(target);
        if (!s) return Failed("IDirect3DDevice7::GetViewport (no target)", D3DERR_INVALID_DEVICE);
        *viewport = D3DVIEWPORT7{0, 0, static_cast<DWORD>(s->width), static_cast<DWORD>(s->height), 0.0f, 1.0f};
        return D3D_OK;
    }

    HRESULT SetRenderState(D3DRENDERSTATETYPE type, DWORD value) override {
        faults::Record("IDirect3DDevice7::SetRenderState " + std::to_string(type) + " " + std::to_string(value));
        switch (type) {
            case D3DRENDERSTATE_SRCBLEND: state.srcBlend = value; break;
            case D3DRENDERSTATE_DESTBLEND: state.destBlend = value; break;
            case D3DRENDERSTATE_ALPHABLENDENABLE: state.alphaBlend = value != 0; break;
            case D3DRENDERSTATE_COLORKEYENABLE: state.colorKey = value != 0; break;
            default: break;  // states the rasteriser does not model are accepted and ignored
        }
        return D3D_OK;
    }

    HRESULT SetTexture(DWORD stage, IDirectDrawSurface7* surface) override {
        if (stage >= kStages) return Failed("IDirect3DDevice7::SetTexture", DDERR_INVALIDPARAMS);
        if (stage != 0) return D3D_OK;  // only stage 0 is rasterised
        if (surface == texture) return D3D_OK;
        standin::Surface* s = nullptr;
        if (surface) {
            s = standin::SurfaceOf(surface);
            if (!s || !(s->caps & DDSCAPS_TEXTURE)) return Failed("IDirect3DDevice7::SetTexture", DDERR_INVALIDPARAMS);
            surface->AddRef();
        }
        if (texture) texture->Release();
        texture = surface;
        textureSurface = s;
        return D3D_OK;
    }

    HRESULT SetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE type, DWORD value) override {
        if (stage >= kStages) return Failed("IDirect3DDevice7::SetTextureStageState", DDERR_INVALIDPARAMS);
        if (stage != 0) return D3D_OK;
        switch (type) {
            case D3DTSS_COLOROP: state.colorOp = value; break;
            case D3DTSS_COLORARG1: state.colorArg1 = value; break;
            case D3DTSS_COLORARG2: state.colorArg2 = value; break;
            case D3DTSS_ALPHAOP: state.alphaOp = value; break;
            case D3DTSS_ALPHAARG1: state.alphaArg1 = value; break;
            case D3DTSS_ALPHAARG2: state.alphaArg2 = value; break;
            default: break;  // filters: point sampling is the only one rasterised
        }
        return D3D_OK;
    }

    HRESULT DrawPrimitive(D3DPRIMITIVETYPE type, DWORD format, LPVOID vertices, DWORD count, DWORD flags) override {
        if (type != D3DPT_TRIANGLESTRIP || format != D3DFVF_TLVERTEX || !vertices || count > kMaxVertices)
            return Failed("IDirect3DDevice7::DrawPrimitive", D3DERR_INVALIDCALL);
        const auto* v = static_cast<const D3DTLVERTEX*>(vertices);
        HRESULT result = D3D_OK;
        if (!inScene) {
            result = Failed("IDirect3DDevice7::DrawPrimitive", D3DERR_SCENE_NOT_IN_SCENE);
        } else if (targetSurface->lost) {
            result = Failed("IDirect3DDevice7::DrawPrimitive", DDERR_SURFACELOST);
        } else {
            // Another device's recorded draws may write what this one reads
            // or read what it writes: theirs come first, as if each had been
            // drawn at once.
            if (liveDevices.size() > 1) {
                for (Device* other : liveDevices)
                    if (other != this) other->Finish();
            }
            if (targetSurface->busy || (textureSurface && (textureSurface->busy || textureSurface == targetSurface))) {
                // The program is at these pixels itself (a lock or a device
                // context), or the draw samples the surface it draws into:
                // drawn now, in order, from the texture as it is this moment
                // (the texture's copies made for earlier draws are stale).
                Finish();
                if (textureSurface) textureSurface->Touch();
                standin::DrawTriangleStrip(*targetSurface, textureSurface, state, v, count);
            } else {
                queue.Add(*targetSurface, textureSurface, state, v, count);
            }
        }
        // Copied last: the caller has only just written the vertices, in
        // pieces, and wide reads of them right away would wait for those.
        if (count == 4 && lastDrawn.size() == 4) std::memcpy(lastDrawn.data(), v, 4 * sizeof *v);
        else lastDrawn.assign(v, v + count);
        return result;
    }

private:
    ULONG refs = 1;
    IDirectDrawSurface7* target;
    standin::Surface* targetSurface = nullptr;  // valid while in a scene
    IDirectDrawSurface7* texture = nullptr;
    standin::Surface* textureSurface = nullptr;
    standin::RasterState state;
    bool inScene = false;
    std::unique_ptr<standin::Workers> workers;
    standin::DrawQueue queue;
};

class Direct3D final : public IDirect3D7 {
public:
    Direct3D() { liveDirect3Ds.insert(this); }
    ~Direct3D() override { liveDirect3Ds.erase(this); }

    HRESULT QueryInterface(REFIID riid, void** object) override {
        return standin::QueryOwnInterface(static_cast<IDirect3D7*>(this), riid, &IID_IDirect3D7, object);
    }
    ULONG AddRef() override { return ++refs; }
    ULONG Release() override {
        faults::Record("IDirect3D7::Release");
        if (--refs) return refs;
        delete this;
        return 0;
    }

    HRESULT CreateDevice(REFCLSID deviceClass, IDirectDrawSurface7* target, IDirect3DDevice7** device) override {
        if (!device) return Failed("IDirect3D7::CreateDevice", DDERR_INVALIDPARAMS);
        *device = nullptr;
        if (faults::Hit("IDirect3D7::CreateDevice")) return Failed("IDirect3D7::CreateDevice (scheduled)", DDERR_GENERIC);
        if (deviceClass != IID_IDirect3DHALDevice)
            return Failed("IDirect3D7::CreateDevice (only the HAL device)", D3DERR_INVALID_DEVICE);
        if (!target) {
            // A program that hands over no surface has lost track of its
            // screen; said always, and recorded for the tests.
            faults::Record("IDirect3D7::CreateDevice (no render target)");
            std::fprintf(stderr, "ringscroller: IDirect3D7::CreateDevice was given no render target\n");
            return Failed("IDirect3D7::CreateDevice (no render target)", DDERR_INVALIDPARAMS);
        }
        standin::Surface* s = standin::SurfaceOf(target);
        if (!s || !(s->caps & DDSCAPS_3DDEVICE))
            return Failed("IDirect3D7::CreateDevice (target without DDSCAPS_3DDEVICE)", DDERR_INVALIDPARAMS);
        *device = new Device(target);
        return D3D_OK;
    }

private:
    ULONG refs = 1;
};

}  // namespace

namespace standin {

IDirect3D7* CreateDirect3D(IDirectDraw7*) {
    // Needs nothing from DirectDraw beyond what SurfaceOf finds, so it keeps
    // no reference that would hold the DirectDraw object alive.
    return new Direct3D;
}

const std::vector<D3DTLVERTEX>& LastDrawnVertices() { return lastDrawn; }

void FinishDrawing() {
    for (Device* d : liveDevices) d->Finish();
}

void EndDrawingThreads() {
    for (Device* d : liveDevices) d->EndThreads();
}

void ResetD3D() {
    std::vector<Device*> devices(liveDevices.begin(), liveDevices.end());
    for (Device* d : devices) d->Destroy();
    std::vector<Direct3D*> objects(liveDirect3Ds.begin(), liveDirect3Ds.end());
    for (Direct3D* o : objects) delete o;
    lastDrawn.clear();
    ResetRaster();
}

}  // namespace standin
