// The web host's fonts. A page carries one face, the one the SDL host picks
// for the program's "Arial Black": Lato Black, preloaded beside the program.
// stb_truetype reads its tables for GDI's sizes and advances (the values
// FreeType reads on the SDL host); the browser's own canvas text draws the
// glyphs. The browser hints its outlines much as FreeType does on the SDL
// host, so its glyphs agree with the native ones far better than an
// unhinted rasteriser's (about 200 edge pixels differ over the 58 glyphs the
// demo draws, against about 900 for stb_truetype's own rasteriser).
#include <emscripten.h>

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
    double em = 0;    // the canvas font size, pixels
};

// The file, as a font face of the page under a family name of its own.
// A second play in the same page finds the face already there.
EM_ASYNC_JS(int, LoadPageFace, (const char* file, const char* family), {
    const key = UTF8ToString(family) + ' ' + UTF8ToString(file);
    const loaded = document.fonts.ringscrollerFaces = document.fonts.ringscrollerFaces || new Set();
    if (loaded.has(key)) return 1;
    try {
        const face = new FontFace(UTF8ToString(family), FS.readFile(UTF8ToString(file)).slice().buffer);
        await face.load();
        document.fonts.add(face);
        loaded.add(key);
        return 1;
    } catch (e) {
        return 0;
    }
});

// One glyph drawn white on a transparent canvas with its origin at
// (size, 2 * size) of a 4 * size square; box gets the lit area's left and
// top (from the origin, y down), width and height, coverage its alpha.
// Bold and italic, where asked, are the browser's synthetic ones.
EM_JS(void, DrawPageGlyph, (const char* family, double em, int bold, int italic, int codePoint, int size, int* box, BYTE* coverage), {
    const canvas = Module.glyphCanvas = Module.glyphCanvas || document.createElement('canvas');
    if (canvas.width !== 4 * size) canvas.width = canvas.height = 4 * size;
    const context = canvas.getContext('2d', {willReadFrequently: true});
    context.clearRect(0, 0, canvas.width, canvas.height);
    context.font = (italic ? "italic " : "") + (bold ? "bold " : "") + em + 'px "' + UTF8ToString(family) + '"';
    context.fillStyle = '#fff';
    context.fillText(String.fromCodePoint(codePoint), size, 2 * size);
    const alpha = context.getImageData(0, 0, canvas.width, canvas.height).data;
    let left = canvas.width, top = canvas.height, right = -1, bottom = -1;
    for (let y = 0; y < canvas.height; ++y) {
        for (let x = 0; x < canvas.width; ++x) {
            if (!alpha[(y * canvas.width + x) * 4 + 3]) continue;
            left = Math.min(left, x); right = Math.max(right, x);
            top = Math.min(top, y); bottom = Math.max(bottom, y);
        }
    }
    const width = right < 0 ? 0 : right - left + 1, rows = bottom < 0 ? 0 : bottom - top + 1;
    HEAP32.set([left - size, top - 2 * size, width, rows], box >> 2);
    for (let y = 0; y < rows; ++y) {
        for (let x = 0; x < width; ++x) HEAPU8[coverage + y * width + x] = alpha[((top + y) * canvas.width + left + x) * 4 + 3];
    }
});

std::map<std::string, bool> pageFaces;  // file -> loaded as a page face

const char* PageFamily() { return "ringscroller face"; }

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
    auto loaded = pageFaces.find(choice.file);
    if (loaded == pageFaces.end()) loaded = pageFaces.emplace(choice.file, LoadPageFace(choice.file.c_str(), PageFamily()) != 0).first;
    if (!loaded->second) return nullptr;

    std::unique_ptr<FontRenderer> r(new FontRenderer());
    // FreeType sizes in 26.6 fixed point; the same em here.
    const double em = std::lround(gdi.em * 64) / 64.0;
    r->size = new Size{static_cast<float>(em / units.unitsPerEm), em};
    r->face = face;
    r->choice = choice;
    r->antialiased = request.antialiased;
    r->embolden = host::EffectiveWeight(request.faceName, request.weight) >= 600 && choice.weight < 600;
    r->slant = request.italic && !choice.italic;
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
    const Size& sz = *static_cast<Size*>(size);
    const int square = static_cast<int>(std::ceil(sz.em)) + 2;
    std::vector<BYTE> canvas(static_cast<size_t>(16) * square * square);
    int box[4] = {0, 0, 0, 0};
    DrawPageGlyph(PageFamily(), sz.em, embolden, slant, static_cast<int>(codePoint), square, box, canvas.data());
    g.left = box[0];
    g.top = -box[1];
    g.width = box[2];
    g.rows = box[3];
    g.coverage.assign(canvas.begin(), canvas.begin() + static_cast<ptrdiff_t>(g.width) * g.rows);
    if (!antialiased) {
        for (BYTE& c : g.coverage) c = c >= 128 ? 255 : 0;
    }
    return g;
}

}  // namespace standin
