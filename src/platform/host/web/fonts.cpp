// The web host's fonts. A page carries one face, the one the SDL host picks
// for the program's "Arial Black": Lato Black, preloaded beside the program.
// Its glyphs are rasterised by stb_truetype at GDI's sizes, with the metrics
// FreeType reads from the same tables, so the glyph table matches the native
// build's but for the hinting FreeType applies there.
#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <map>

#include "platform/host/fonts.h"
#include "platform/standin.h"

#define STB_TRUETYPE_IMPLEMENTATION
#define STBTT_STATIC
#include <stb/stb_truetype.h>

namespace standin {

namespace {

constexpr const char* kFontFile = "/Lato-Black.ttf";

struct OpenFace {
    std::vector<unsigned char> data;
    stbtt_fontinfo info;
};

// Faces stay loaded for the life of the page, one per file.
std::map<std::string, OpenFace> openFaces;

OpenFace* SharedFace(const std::string& file) {
    auto it = openFaces.find(file);
    if (it != openFaces.end()) return &it->second;
    std::ifstream in(file, std::ios::binary);
    std::vector<unsigned char> data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (data.empty()) return nullptr;
    OpenFace& face = openFaces[file];
    face.data = std::move(data);
    const int offset = stbtt_GetFontOffsetForIndex(face.data.data(), 0);
    if (offset < 0 || !stbtt_InitFont(&face.info, face.data.data(), offset)) {
        openFaces.erase(file);
        return nullptr;
    }
    return &face;
}

int U16(const stbtt_fontinfo& f, stbtt_uint32 table, int at) { return table ? ttUSHORT(f.data + table + at) : 0; }
int S16(const stbtt_fontinfo& f, stbtt_uint32 table, int at) { return table ? ttSHORT(f.data + table + at) : 0; }

struct Size {
    float scale = 0;  // pixels per font unit
};

}  // namespace

namespace host {

FaceChoice ResolveFace(const std::string& faceName, int weight, bool italic) {
    FaceChoice choice;
    choice.found = SharedFace(kFontFile) != nullptr;
    choice.file = kFontFile;
    choice.family = "Lato";
    choice.style = "Black";
    choice.weight = 900;
    std::string name = faceName;
    for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    choice.substituted = name != "lato" && name != "lato black";
    if (TraceOn()) {
        std::fprintf(stderr, "ringscroller: font \"%s\" weight %d%s -> %s %s (%s)%s\n", faceName.c_str(),
                     EffectiveWeight(faceName, weight), italic ? " italic" : "", choice.family.c_str(),
                     choice.style.c_str(), choice.found ? choice.file.c_str() : "missing",
                     choice.substituted ? ", substituted" : "");
    }
    return choice;
}

}  // namespace host

std::unique_ptr<FontRenderer> FontRenderer::Open(const FontRequest& request) {
    host::FaceChoice choice = host::ResolveFace(request.faceName, request.weight, request.italic);
    OpenFace* face = choice.found ? SharedFace(choice.file) : nullptr;
    if (!face) return nullptr;
    const stbtt_fontinfo& f = face->info;
    const stbtt_uint32 os2 = stbtt__find_table(f.data, f.fontstart, "OS/2");
    const stbtt_uint32 post = stbtt__find_table(f.data, f.fontstart, "post");

    FaceUnits units;
    units.unitsPerEm = U16(f, f.head, 18);
    if (units.unitsPerEm <= 0) return nullptr;
    int ascent = 0, descent = 0, gap = 0;
    stbtt_GetFontVMetrics(&f, &ascent, &descent, &gap);
    units.winAscent = ascent;
    units.winDescent = -descent;
    if (os2 && U16(f, os2, 74) + U16(f, os2, 76) > 0) {
        units.winAscent = U16(f, os2, 74);
        units.winDescent = U16(f, os2, 76);
    }
    units.strikeoutSize = S16(f, os2, 26);
    units.strikeoutPosition = S16(f, os2, 28);
    // FreeType gives the underline's centre as its position; so do we.
    units.underlineThickness = S16(f, post, 10);
    units.underlinePosition = S16(f, post, 8) - S16(f, post, 10) / 2;
    const GdiSize gdi = SizeFor(units, request.height);

    std::unique_ptr<FontRenderer> r(new FontRenderer());
    // FreeType sizes in 26.6 fixed point; the same em here.
    r->size = new Size{static_cast<float>(std::lround(gdi.em * 64) / 64.0 / units.unitsPerEm)};
    r->face = face;
    r->choice = choice;
    r->antialiased = request.antialiased;
    // The page's one face has no lighter or slanted sibling, and stb_truetype
    // does not make them up: such fonts are drawn upright and black.
    r->embolden = host::EffectiveWeight(request.faceName, request.weight) >= 600 && choice.weight < 600;
    r->slant = request.italic;
    if ((r->embolden || r->slant) && TraceOn())
        std::fprintf(stderr, "ringscroller: font \"%s\": no synthetic bold or italic here\n", request.faceName.c_str());
    r->metrics = gdi.metrics;
    r->emPixels = gdi.emPixels;
    return r;
}

FontRenderer::~FontRenderer() { delete static_cast<Size*>(size); }

const GlyphImage& FontRenderer::Glyph(uint32_t codePoint) {
    auto it = glyphs.find(codePoint);
    if (it != glyphs.end()) return it->second;
    GlyphImage& g = glyphs[codePoint];

    const stbtt_fontinfo& f = static_cast<OpenFace*>(face)->info;
    const float scale = static_cast<Size*>(size)->scale;
    const int index = stbtt_FindGlyphIndex(&f, static_cast<int>(codePoint));
    int advance = 0, bearing = 0;
    stbtt_GetGlyphHMetrics(&f, index, &advance, &bearing);
    g.advance = static_cast<int>(std::lround(advance * scale));
    int x0 = 0, y0 = 0, x1 = 0, y1 = 0;
    stbtt_GetGlyphBitmapBox(&f, index, scale, scale, &x0, &y0, &x1, &y1);
    g.left = x0;
    g.top = -y0;
    g.width = std::max(0, x1 - x0);
    g.rows = std::max(0, y1 - y0);
    g.coverage.assign(static_cast<size_t>(g.width) * g.rows, 0);
    if (g.coverage.empty()) return g;
    stbtt_MakeGlyphBitmap(&f, g.coverage.data(), g.width, g.rows, g.width, scale, scale, index);
    if (!antialiased) {
        for (BYTE& c : g.coverage) c = c >= 128 ? 255 : 0;
    }
    return g;
}

}  // namespace standin
