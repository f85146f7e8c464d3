// The software rasteriser behind the stand-in Direct3D device. It knows
// nothing of DirectDraw: it draws pre-transformed triangle strips from one
// memory surface (the texture) into another (the render target), following
// Direct3D 7's rules:
//  - pixel centres at integer coordinates, top-left fill convention, vertices
//    snapped to 1/256 pixel;
//  - counter-clockwise triangles culled (the device's default cull mode);
//  - attributes interpolated across each triangle (affine: the runtime only
//    sends rhw = 1 vertices), Gouraud diffuse colour;
//  - point sampling at the pixel centre: texel floor(u * width), wrapped;
//  - the texture's source colour key, stage-0 colour and alpha operations,
//    and the blend factors ZERO .. SRCALPHASAT with saturation;
//  - a target without an alpha channel reads destination alpha as 1.0.
// Colour arithmetic is 8 bits a channel: surface fields widen by bit
// replication, products round to nearest (a * b / 255), results narrow by
// truncation. The fast paths follow exactly the same arithmetic.
#pragma once

#include <cstddef>
#include <memory>

#include "platform/d3d.h"
#include "platform/raster_add.h"
#include "platform/surface.h"
#include "platform/workers.h"

namespace standin {

// The device state the rasteriser reads; defaults are Direct3D 7's.
struct RasterState {
    bool alphaBlend = false;
    DWORD srcBlend = D3DBLEND_ONE;
    DWORD destBlend = D3DBLEND_ZERO;
    bool colorKey = false;
    DWORD colorOp = D3DTOP_MODULATE;
    DWORD colorArg1 = D3DTA_TEXTURE;
    DWORD colorArg2 = D3DTA_CURRENT;
    DWORD alphaOp = D3DTOP_SELECTARG1;
    DWORD alphaArg1 = D3DTA_TEXTURE;
    DWORD alphaArg2 = D3DTA_CURRENT;
    bool operator==(const RasterState& o) const {
        return alphaBlend == o.alphaBlend && srcBlend == o.srcBlend && destBlend == o.destBlend &&
               colorKey == o.colorKey && colorOp == o.colorOp && colorArg1 == o.colorArg1 && colorArg2 == o.colorArg2 &&
               alphaOp == o.alphaOp && alphaArg1 == o.alphaArg1 && alphaArg2 == o.alphaArg2;
    }
};

// Draws `count` vertices as a triangle strip into `target`, sampling
// `texture` (null: the texture reads as opaque white). Writes only inside the
// target. Bumps the target's version when anything may have changed.
void DrawTriangleStrip(Surface& target, const Surface* texture, const RasterState& state,
                       const D3DTLVERTEX* vertices, size_t count);

// Draws into one target recorded now and rasterised later, as a device does
// between the points where it must be done. The pixels come out exactly as
// DrawTriangleStrip would have made them one by one, provided that until
// Finish nothing else reads or writes the target and no texture recorded
// changes or goes.
class DrawQueue {
public:
    DrawQueue();
    ~DrawQueue();
    DrawQueue(const DrawQueue&) = delete;
    DrawQueue& operator=(const DrawQueue&) = delete;

    // Records a draw, taking DrawTriangleStrip's arguments.
    void Add(Surface& target, const Surface* texture, const RasterState& state, const D3DTLVERTEX* vertices,
             size_t count);
    bool Empty() const;
    // Rasterises everything recorded, in bands of rows shared out among
    // `workers` (null: on the calling thread), each band's draws in the order
    // they were recorded; then forgets them. One of `workers`' threads then
    // starts on the next scene's draws while they are being recorded: they
    // must stay until the next Finish or Discard, or the queue's end, unless
    // they are stopped (Workers::Stop) before anything more is recorded.
    void Finish(Workers* workers);
    // Forgets what was recorded without drawing it.
    void Discard();

private:
    struct Recorded;
    std::unique_ptr<Recorded> recorded;
};

// The fast-path switch, counter and kernel choice are declared in standin.h.
// Forgets every cached stretched texture, the counters and the choice.
void ResetRaster();

// Since the last ResetRaster: draws a helper added while their scene was
// still being recorded, and scenes whose helper went on to finish its rows.
struct RasterHelp {
    unsigned long drawsWhileRecording = 0;
    unsigned long scenesFinished = 0;
};
RasterHelp RasterHelped();

}  // namespace standin
