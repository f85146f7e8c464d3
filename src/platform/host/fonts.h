// The machine's fonts behind GDI's CreateFontA: a face name is resolved the way
// a user expects (the named family where it is installed, else a look-alike),
// and glyphs are rasterised at GDI's sizes and metrics: by FreeType on the SDL
// host, by stb_truetype on the web host, from the same font file.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/wintypes.h"

namespace standin {

namespace host {

// The installed face chosen for a GDI face name.
struct FaceChoice {
    bool found = false;
    std::string file;        // font file
    int index = 0;           // face index inside the file
    std::string family;      // the chosen face's family and style, as installed
    std::string style;
    int weight = 400;        // the chosen face's own weight (100..1000, OpenType scale)
    bool italic = false;     // the chosen face is itself italic or oblique
    bool substituted = false;  // a look-alike, not the named family
};

// The weight GDI should draw a face name at: the requested weight (0 meaning
// normal), raised to black for names like "Arial Black" whose family is heavy.
int EffectiveWeight(const std::string& faceName, int weight);

// Resolves a face name through fontconfig: the named family where installed,
// else the first installed family of its substitution list, else fontconfig's
// own best match. Answers are cached; RINGSCROLLER_TRACE prints each new choice.
FaceChoice ResolveFace(const std::string& faceName, int weight, bool italic);

}  // namespace host

// GDI's text metrics of a font, in pixels.
struct TextMetrics {
    int ascent = 0;           // baseline to the top of the cell
    int descent = 0;          // baseline to the bottom of the cell
    int height = 0;           // cell height: ascent + descent
    int internalLeading = 0;  // cell height minus the em size
    int underlinePosition = 0;  // below the baseline, top of the line
    int underlineThickness = 1;
    int strikeoutPosition = 0;  // above the baseline, top of the line
    int strikeoutThickness = 1;
};

// A face's design metrics in font units: what GDI's sizes are made of.
struct FaceUnits {
    double unitsPerEm = 0;
    double winAscent = 0, winDescent = 0;  // OS/2 "Windows" metrics, else hhea; 0 if neither
    double underlinePosition = 0;          // post table, below the baseline when negative
    double underlineThickness = 0;
    double strikeoutPosition = 0, strikeoutSize = 0;  // OS/2; 0 where the face has none
};

// A GDI font's size on a face: its text metrics and the em, in pixels, that
// its glyphs are rasterised at (fractional for a cell height).
struct GdiSize {
    TextMetrics metrics;
    double em = 0;
    int emPixels = 0;
};

// CreateFontA's height (negative = em size, positive = cell height, 0 = the
// default) on a face, the way GDI sizes it. Every host's text uses this.
GdiSize SizeFor(const FaceUnits& face, int height);

// One rasterised glyph: coverage 0..255 per pixel (0 or 255 when drawn mono).
struct GlyphImage {
    int left = 0;     // from the pen position to the bitmap's left column
    int top = 0;      // from the baseline up to the bitmap's top row
    int width = 0;
    int rows = 0;
    int advance = 0;  // whole pixels, as GDI advances
    std::vector<BYTE> coverage;
};

struct FontRequest {
    std::string faceName;
    int height = 0;  // CreateFontA's: negative = em size, positive = cell height, 0 = default
    int weight = 400;
    bool italic = false;
    bool antialiased = true;
};

// The rasterising state of one GDI font: its face at its size and the glyphs
// drawn so far. Made on the font's first use and freed with the font.
struct FontRenderer {
    // Null when no face could be opened (no fonts on the machine at all).
    static std::unique_ptr<FontRenderer> Open(const FontRequest& request);
    ~FontRenderer();

    const TextMetrics& Metrics() const { return metrics; }
    const host::FaceChoice& Choice() const { return choice; }
    int EmPixels() const { return emPixels; }
    // The glyph of a Unicode code point (the face's missing-glyph box when it
    // has none); cached, so repeated characters cost a look-up.
    const GlyphImage& Glyph(uint32_t codePoint);

private:
    FontRenderer() = default;
    // The host rasteriser's own objects: its face, shared by every font of
    // the same file, and this font's size on it.
    void* size = nullptr;
    void* face = nullptr;
    host::FaceChoice choice;
    TextMetrics metrics;
    int emPixels = 0;
    bool embolden = false;  // the face is lighter than asked: thicken outlines
    bool slant = false;     // italic asked, face upright: shear outlines
    bool antialiased = true;
    std::unordered_map<uint32_t, GlyphImage> glyphs;
};

}  // namespace standin
