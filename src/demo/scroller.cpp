// The particle ring and the scroll: the text enters at the last spoke one
// glyph column a frame and every spoke takes the brightness of the next.
#include "demo/scroller.h"

#include <cmath>

#include "core/arrays.h"
#include "core/convert.h"
#include "core/strings.h"

ScrollerState scroller;

const char kScrollText[] =
    "  HI! EVERYBODY, THIS IS A MORVELANTIQUASHBERTON BY KESTRAVON FOR U...... SEE U SOON.....  ";

namespace {
constexpr int32_t kGlyphColumnEnd = 832;  // 26 of a glyph's 32 columns are shown
constexpr float kPi = 3.14f;              // the ring's own "pi", single precision
}  // namespace

void AllocParticles() {
    FreeArray(scroller.particles);
    ArrayBlock* block = AllocArray(sizeof(Particle), kParticleHighIndex);
    if (block) block->typeCode = kTypeParticle;
    scroller.particles = static_cast<Particle*>(ArrayElements(block));
}

void AllocGlyphTable() {
    FreeArray(scroller.glyphs);
    scroller.glyphStrides[0] = kGlyphRows;
    scroller.glyphStrides[1] = kGlyphCells;
    ArrayBlock* block = AllocArrayN(sizeof(int32_t), 2, scroller.glyphStrides);
    if (block) block->typeCode = kTypeInteger;
    scroller.glyphs = static_cast<int32_t*>(ArrayElements(block));
}

void LayOutRing() {
    if (!scroller.particles) return;
    int32_t n = 0;
    for (int32_t a = 260; a >= -79; --a) {
        for (int32_t j = 0; j < kSpokeLength; ++j) {
            int32_t r = j * 3 + 100;
            double t = a * 1.0 * static_cast<double>(kPi) / 180;
            float sx = static_cast<float>(std::cos(t) * r + 320);
            float sy = static_cast<float>(240 - std::sin(t) * r);
            Particle& p = scroller.particles[n];
            p.x = static_cast<float>(FloatToInt(sx));
            p.y = static_cast<float>(FloatToInt(sy));
            p.brightness = 0;
            ++n;
        }
    }
    scroller.particleCount = n;
}

void StartScroll() {
    AssignString(&scroller.scrollText, kScrollText);
    scroller.textPos = 0;
    scroller.column = 0;
}

void AdvanceScroll() {
    if (!scroller.particles || scroller.particleCount < kSpokeLength) return;

    scroller.column += 32;
    if (scroller.column >= kGlyphColumnEnd) {
        scroller.column = 0;
        ++scroller.textPos;
        if (scroller.textPos > StringLength(scroller.scrollText) - 1) scroller.textPos = 0;
    }

    int32_t code;
    {
        TempScope statement;
        code = CharCode(statement.Keep(SubString(scroller.scrollText, scroller.textPos, 1)));
    }
    int32_t row = code - 32;
    // A character without a glyph row shows as blank rather than reading
    // outside the table.
    bool hasRow = scroller.glyphs && row >= 0 && row < kGlyphRows;

    Particle* particles = scroller.particles;
    int32_t last = scroller.particleCount - kSpokeLength;
    for (int32_t i = 0; i < kSpokeLength; ++i) {
        particles[last + i].brightness = hasRow ? static_cast<float>(GlyphCell(row, scroller.column + i)) : 0.0f;
    }
    for (int32_t i = 0; i < last; ++i) particles[i].brightness = particles[i + kSpokeLength].brightness;
}
