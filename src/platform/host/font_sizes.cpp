// GDI's font sizes and weights, the same whichever rasteriser draws the glyphs.
#include <algorithm>
#include <cctype>
#include <cmath>

#include "platform/host/fonts.h"
#include "platform/kernel.h"
#include "platform/standin.h"

namespace standin {

namespace host {

int EffectiveWeight(const std::string& faceName, int weight) {
    int w = weight <= 0 ? 400 : std::min(weight, 1000);
    std::string name = faceName;
    for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (name.find("black") != std::string::npos || name.find("heavy") != std::string::npos) w = std::max(w, 900);
    return w;
}

}  // namespace host

namespace {

int Scale(double fontUnits, double pixelsPerUnit) { return static_cast<int>(std::lround(fontUnits * pixelsPerUnit)); }

}  // namespace

GdiSize SizeFor(const FaceUnits& face, int height) {
    // GDI's cell is the OS/2 "Windows" ascent and descent; the em square is
    // the character height. Faces with neither get a generic cell.
    const double units = face.unitsPerEm;
    double winAscent = face.winAscent, winDescent = face.winDescent;
    if (winAscent + winDescent <= 0) {
        winAscent = units * 0.9;
        winDescent = units * 0.2;
    }

    GdiSize size;
    TextMetrics& m = size.metrics;
    double em;  // pixels per em, possibly fractional for a cell height
    if (height > 0) {
        // A cell height: the em is what is left of it after the leading.
        em = height * units / (winAscent + winDescent);
        m.height = height;
        m.ascent = static_cast<int>(std::lround(winAscent * height / (winAscent + winDescent)));
        m.descent = m.height - m.ascent;
    } else {
        em = height < 0 ? -static_cast<double>(height) : MulDiv(12, DisplayDpi(), 72);
        m.ascent = static_cast<int>(std::ceil(winAscent * em / units - 1e-6));
        m.descent = Scale(winDescent, em / units);
        m.height = m.ascent + m.descent;
    }
    em = std::clamp(em, 1.0, 4096.0);
    size.em = em;
    size.emPixels = static_cast<int>(std::lround(em));
    m.internalLeading = std::max(0, m.height - size.emPixels);

    const double perUnit = em / units;
    m.underlineThickness = std::max(1, Scale(face.underlineThickness, perUnit));
    m.underlinePosition = std::max(1, Scale(-face.underlinePosition, perUnit) - m.underlineThickness / 2);
    m.strikeoutThickness = std::max(1, face.strikeoutSize > 0 ? Scale(face.strikeoutSize, perUnit) : m.underlineThickness);
    m.strikeoutPosition = face.strikeoutPosition > 0 ? Scale(face.strikeoutPosition, perUnit) : size.emPixels * 3 / 10;
    return size;
}

}  // namespace standin
