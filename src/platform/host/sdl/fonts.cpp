// The SDL host's fonts: face resolution through fontconfig and glyph
// rasterising through FreeType for the stand-in's GDI text.
#include "platform/host/fonts.h"

#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_SIZES_H
#include FT_SYNTHESIS_H
#include FT_TRUETYPE_TABLES_H

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>

#include "platform/kernel.h"
#include "platform/standin.h"

namespace standin {

namespace host {

namespace {

std::string Lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// Look-alikes for the faces Windows programs ask for by name, most faithful
// first. Families on the same line differ in looks, not in kind: a grotesque
// stays a grotesque, a serif a serif, a typewriter face monospaced. The
// weight comes from the request (EffectiveWeight makes "Black" names heavy),
// so "Lato" for "Arial Black" means Lato Black.
struct Substitution {
    const char* faceName;  // lower case
    const char* families[4];
};

const Substitution kSubstitutions[] = {
    {"arial black", {"Lato", "Roboto", "DejaVu Sans", nullptr}},
    {"arial", {"Liberation Sans", "Arimo", "DejaVu Sans", nullptr}},
    {"helvetica", {"Liberation Sans", "Arimo", "DejaVu Sans", nullptr}},
    {"ms sans serif", {"Liberation Sans", "DejaVu Sans", nullptr, nullptr}},
    {"tahoma", {"DejaVu Sans", nullptr, nullptr, nullptr}},
    {"verdana", {"DejaVu Sans", nullptr, nullptr, nullptr}},
    {"system", {"DejaVu Sans", nullptr, nullptr, nullptr}},
    {"times new roman", {"Liberation Serif", "Tinos", "DejaVu Serif", nullptr}},
    {"times", {"Liberation Serif", "Tinos", "DejaVu Serif", nullptr}},
    {"courier new", {"Liberation Mono", "Cousine", "DejaVu Sans Mono", nullptr}},
    {"courier", {"Liberation Mono", "Cousine", "DejaVu Sans Mono", nullptr}},
};

bool fontconfigReady = false;

bool EnsureFontconfig() {
    if (!fontconfigReady) {
        fontconfigReady = FcInit() == FcTrue;
        // Every pattern is destroyed right after its match, so fontconfig's
        // own caches can go at exit and leak checkers see nothing left.
        if (fontconfigReady) std::atexit([] { FcFini(); });
    }
    return fontconfigReady;
}

int PatternWeight(FcPattern* match) {
    int w = 0;
    if (FcPatternGetInteger(match, FC_WEIGHT, 0, &w) == FcResultMatch) return FcWeightToOpenType(w);
    double d = 0;
    if (FcPatternGetDouble(match, FC_WEIGHT, 0, &d) == FcResultMatch)
        return static_cast<int>(FcWeightToOpenTypeDouble(d) + 0.5);
    return 400;
}

// fontconfig's best face for one family at a weight and slant. `named` tells
// whether the face really belongs to that family (fontconfig always answers
// with something, often a generic default).
bool MatchFamily(const std::string& family, int weight, bool italic, FaceChoice& out, bool& named) {
    FcPattern* pattern = FcPatternCreate();
    if (!pattern) return false;
    if (!family.empty()) FcPatternAddString(pattern, FC_FAMILY, reinterpret_cast<const FcChar8*>(family.c_str()));
    FcPatternAddInteger(pattern, FC_WEIGHT, FcWeightFromOpenType(weight));
    FcPatternAddInteger(pattern, FC_SLANT, italic ? FC_SLANT_ITALIC : FC_SLANT_ROMAN);
    FcPatternAddBool(pattern, FC_SCALABLE, FcTrue);
    FcConfigSubstitute(nullptr, pattern, FcMatchPattern);
    FcDefaultSubstitute(pattern);
    FcResult result = FcResultNoMatch;
    FcPattern* match = FcFontMatch(nullptr, pattern, &result);
    FcPatternDestroy(pattern);
    if (!match) return false;

    FcChar8* file = nullptr;
    if (FcPatternGetString(match, FC_FILE, 0, &file) != FcResultMatch || !file) {
        FcPatternDestroy(match);
        return false;
    }
    out.found = true;
    out.file = reinterpret_cast<const char*>(file);
    int index = 0;
    out.index = FcPatternGetInteger(match, FC_INDEX, 0, &index) == FcResultMatch ? index : 0;
    out.weight = PatternWeight(match);
    int slant = FC_SLANT_ROMAN;
    out.italic = FcPatternGetInteger(match, FC_SLANT, 0, &slant) == FcResultMatch && slant != FC_SLANT_ROMAN;
    FcChar8* style = nullptr;
    out.style = FcPatternGetString(match, FC_STYLE, 0, &style) == FcResultMatch ? reinterpret_cast<char*>(style) : "";

    // A face lists several family names ("Lato", "Lato Black"); any of them
    // counts as the family asked for. The first names the chosen face.
    named = false;
    out.family.clear();
    const std::string wanted = Lower(family);
    FcChar8* name = nullptr;
    for (int i = 0; FcPatternGetString(match, FC_FAMILY, i, &name) == FcResultMatch; ++i) {
        if (i == 0) out.family = reinterpret_cast<char*>(name);
        if (!wanted.empty() && Lower(reinterpret_cast<char*>(name)) == wanted) named = true;
    }
    FcPatternDestroy(match);
    return true;
}

std::map<std::string, FaceChoice> resolved;

}  // namespace

FaceChoice ResolveFace(const std::string& faceName, int weight, bool italic) {
    const int w = EffectiveWeight(faceName, weight);
    const std::string key = Lower(faceName) + '\n' + std::to_string(w) + (italic ? "i" : "");
    auto cached = resolved.find(key);
    if (cached != resolved.end()) return cached->second;

    FaceChoice choice;
    if (EnsureFontconfig()) {
        bool named = false;
        FaceChoice candidate;
        // The family the program named, where the machine has it.
        if (!faceName.empty() && MatchFamily(faceName, w, italic, candidate, named) && named) {
            choice = candidate;
        } else {
            // The substitution list: the first family close to the weight
            // asked for, else the first one installed at all.
            const std::string name = Lower(faceName);
            FaceChoice firstInstalled;
            for (const Substitution& s : kSubstitutions) {
                if (name != s.faceName) continue;
                for (const char* family : s.families) {
                    if (!family) break;
                    if (!MatchFamily(family, w, italic, candidate, named) || !named) continue;
                    if (!firstInstalled.found) firstInstalled = candidate;
                    if (std::abs(candidate.weight - w) <= 200) {
                        choice = candidate;
                        break;
                    }
                }
                break;
            }
            if (!choice.found) choice = firstInstalled;
            // Anything at all: fontconfig's own idea of the name.
            if (!choice.found) MatchFamily(faceName.empty() ? "sans-serif" : faceName, w, italic, choice, named);
            choice.substituted = true;
        }
    }

    if (TraceOn()) {
        if (choice.found) {
            std::fprintf(stderr, "ringscroller: font \"%s\" weight %d%s -> %s %s (%s)%s\n", faceName.c_str(), w,
                         italic ? " italic" : "", choice.family.c_str(), choice.style.c_str(), choice.file.c_str(),
                         choice.substituted ? ", substituted" : "");
        } else {
            std::fprintf(stderr, "ringscroller: font \"%s\": no font installed\n", faceName.c_str());
        }
    }
    resolved[key] = choice;
    return choice;
}

}  // namespace host

namespace {

FT_Library library = nullptr;
// Faces stay open for the life of the process: fonts of the same file at
// different sizes share one face, each with its own FT_Size.
std::map<std::string, FT_Face> openFaces;

FT_Face SharedFace(const std::string& file, int index) {
    if (!library && FT_Init_FreeType(&library) != 0) {
        library = nullptr;
        return nullptr;
    }
    const std::string key = file + '#' + std::to_string(index);
    auto it = openFaces.find(key);
    if (it != openFaces.end()) return it->second;
    FT_Face face = nullptr;
    if (FT_New_Face(library, file.c_str(), index, &face) != 0) return nullptr;
    FT_Select_Charmap(face, FT_ENCODING_UNICODE);
    openFaces[key] = face;
    return face;
}

}  // namespace

std::unique_ptr<FontRenderer> FontRenderer::Open(const FontRequest& request) {
    const int weight = host::EffectiveWeight(request.faceName, request.weight);
    host::FaceChoice choice = host::ResolveFace(request.faceName, request.weight, request.italic);
    if (!choice.found) return nullptr;
    FT_Face face = SharedFace(choice.file, choice.index);
    if (!face || !FT_IS_SCALABLE(face) || face->units_per_EM == 0) return nullptr;
    FT_Size size = nullptr;
    if (FT_New_Size(face, &size) != 0) return nullptr;
    FT_Activate_Size(size);

    FaceUnits units;
    units.unitsPerEm = face->units_per_EM;
    units.winAscent = face->ascender;
    units.winDescent = -face->descender;
    units.underlinePosition = face->underline_position;
    units.underlineThickness = face->underline_thickness;
    if (auto* os2 = static_cast<TT_OS2*>(FT_Get_Sfnt_Table(face, FT_SFNT_OS2)); os2 && os2->version != 0xFFFF) {
        if (os2->usWinAscent + os2->usWinDescent > 0) {
            units.winAscent = os2->usWinAscent;
            units.winDescent = os2->usWinDescent;
        }
        units.strikeoutPosition = os2->yStrikeoutPosition;
        units.strikeoutSize = os2->yStrikeoutSize;
    }
    const GdiSize gdi = SizeFor(units, request.height);

    std::unique_ptr<FontRenderer> r(new FontRenderer());
    r->size = size;
    r->face = face;
    r->choice = choice;
    r->antialiased = request.antialiased;
    r->embolden = weight >= 600 && choice.weight < 600;
    r->slant = request.italic && !choice.italic;
    r->metrics = gdi.metrics;
    r->emPixels = gdi.emPixels;

    FT_Size_RequestRec req{};
    req.type = FT_SIZE_REQUEST_TYPE_NOMINAL;
    req.height = static_cast<FT_Long>(std::lround(gdi.em * 64));
    if (FT_Request_Size(face, &req) != 0) return nullptr;  // the destructor frees the size

    return r;
}

FontRenderer::~FontRenderer() {
    if (size) FT_Done_Size(static_cast<FT_Size>(size));
}

const GlyphImage& FontRenderer::Glyph(uint32_t codePoint) {
    auto it = glyphs.find(codePoint);
    if (it != glyphs.end()) return it->second;
    GlyphImage& g = glyphs[codePoint];

    FT_Face f = static_cast<FT_Face>(face);
    FT_Activate_Size(static_cast<FT_Size>(size));
    const FT_UInt index = FT_Get_Char_Index(f, codePoint);
    const FT_Int32 target = antialiased ? FT_LOAD_TARGET_NORMAL : FT_LOAD_TARGET_MONO;
    if (FT_Load_Glyph(f, index, FT_LOAD_NO_BITMAP | target) != 0) return g;
    FT_GlyphSlot slot = f->glyph;
    if (embolden) FT_GlyphSlot_Embolden(slot);
    if (slant) FT_GlyphSlot_Oblique(slot);
    g.advance = static_cast<int>((slot->advance.x + 32) >> 6);
    if (FT_Render_Glyph(slot, antialiased ? FT_RENDER_MODE_NORMAL : FT_RENDER_MODE_MONO) != 0) return g;

    const FT_Bitmap& bm = slot->bitmap;
    g.left = slot->bitmap_left;
    g.top = slot->bitmap_top;
    g.width = static_cast<int>(bm.width);
    g.rows = static_cast<int>(bm.rows);
    g.coverage.assign(static_cast<size_t>(g.width) * g.rows, 0);
    for (int y = 0; y < g.rows; ++y) {
        const unsigned char* row = bm.buffer + static_cast<ptrdiff_t>(y) * bm.pitch;
        BYTE* out = g.coverage.data() + static_cast<size_t>(y) * g.width;
        for (int x = 0; x < g.width; ++x) {
            if (bm.pixel_mode == FT_PIXEL_MODE_MONO) {
                out[x] = (row[x >> 3] & (0x80 >> (x & 7))) ? 255 : 0;
            } else if (bm.num_grays > 1 && bm.num_grays != 256) {
                out[x] = static_cast<BYTE>(row[x] * 255 / (bm.num_grays - 1));
            } else {
                out[x] = row[x];
            }
        }
    }
    return g;
}

}  // namespace standin
