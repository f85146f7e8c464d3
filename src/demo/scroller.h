// The demo's data: the particle ring, the glyph table, the scroll text.
#pragma once

#include <cstdint>

struct Particle {
    float x;           // screen column, a whole number
    float y;           // screen row, a whole number
    float brightness;  // 255 lit, 0 dark
};
static_assert(sizeof(Particle) == 12, "particles are three packed floats");

constexpr int32_t kParticleHighIndex = 11601;
constexpr int32_t kGlyphRows = 61;
constexpr int32_t kGlyphCells = 1029;
constexpr int32_t kSpokes = 340;
constexpr int32_t kSpokeLength = 32;

struct ScrollerState {
    Particle* particles;     // element 0 of the particle array
    int32_t particleCount;   // 10880 once laid out
    int32_t* glyphs;         // element 0 of the glyph table
    int32_t glyphStrides[2]; // the glyph table's dimension table
    char* scrollText;
    int32_t textPos;
    int32_t column;
};

extern ScrollerState scroller;

extern const char kScrollText[];

void AllocParticles();
void AllocGlyphTable();
void LayOutRing();
void StartScroll();
void AdvanceScroll();

// Cell k of glyph row `row` (row = code - 32).
inline int32_t& GlyphCell(int32_t row, int32_t k) { return scroller.glyphs[row * scroller.glyphStrides[0] + k]; }
