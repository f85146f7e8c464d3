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

#include "platform/d3d.h"
#include "platform/surface.h"

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
};

// Draws `count` vertices as a triangle strip into `target`, sampling
// `texture` (null: the texture reads as opaque white). Writes only inside the
// target. Bumps the target's version when anything may have changed.
void DrawTriangleStrip(Surface& target, const Surface* texture, const RasterState& state,
                       const D3DTLVERTEX* vertices, size_t count);

// The fast-path switch and counter are declared in standin.h.
// Forgets every cached stretched texture and the counters.
void ResetRaster();

}  // namespace standin
