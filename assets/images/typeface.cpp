#include "assets/images/typeface.h"

#include <ft2build.h>
#include FT_FREETYPE_H

#include <algorithm>
#include <cmath>
#include <vector>

namespace zorbrix::assets {

namespace {

const char* file_of(Face face) {
    switch (face) {
    case Face::Sans: return "DejaVuSans.ttf";
    case Face::SansBold: return "DejaVuSans-Bold.ttf";
    case Face::Mono: return "DejaVuSansMono.ttf";
    case Face::MonoBold: return "DejaVuSansMono-Bold.ttf";
    case Face::Serif: return "DejaVuSerif.ttf";
    case Face::SerifBold: return "DejaVuSerif-Bold.ttf";
    }
    return "DejaVuSans.ttf";
}

constexpr float kObliqueShear = 0.21f;

}  // namespace

struct Typesetter::FaceHandle {
    FT_Face face = nullptr;
    ~FaceHandle() {
        if (face) FT_Done_Face(face);
    }
};

std::u32string utf8_decode(const std::string& text) {
    std::u32string out;
    size_t i = 0;
    while (i < text.size()) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        const int extra = c < 0x80 ? 0 : (c & 0xe0) == 0xc0 ? 1 : (c & 0xf0) == 0xe0 ? 2 : (c & 0xf8) == 0xf0 ? 3 : -1;
        if (extra < 0 || i + size_t(extra) >= text.size() + (extra == 0 ? 1 : 0)) {
            out.push_back(0xfffd);
            ++i;
            continue;
        }
        char32_t cp = extra == 0 ? c : extra == 1 ? (c & 0x1f) : extra == 2 ? (c & 0x0f) : (c & 0x07);
        bool good = true;
        for (int k = 1; k <= extra && good; ++k) {
            const unsigned char cc = static_cast<unsigned char>(text[i + size_t(k)]);
            good = (cc & 0xc0) == 0x80;
            cp = (cp << 6) | (cc & 0x3f);
        }
        if (!good) {
            out.push_back(0xfffd);
            ++i;
            continue;
        }
        out.push_back(cp);
        i += size_t(extra) + 1;
    }
    return out;
}

Typesetter::Typesetter(std::string font_dir) : font_dir_(std::move(font_dir)) {
    FT_Library lib = nullptr;
    if (FT_Init_FreeType(&lib) != 0) {
        fail("FreeType could not be initialised");
        return;
    }
    library_ = lib;
}

Typesetter::~Typesetter() {
    faces_.clear();
    if (library_) FT_Done_FreeType(static_cast<FT_Library>(library_));
}

void Typesetter::fail(const std::string& message) {
    if (error_.empty()) error_ = message;
}

Typesetter::FaceHandle* Typesetter::face_for(const FontSpec& font) {
    if (!library_) return nullptr;
    const auto key = std::make_pair(static_cast<int>(font.face), font.pixel_size);
    auto it = faces_.find(key);
    if (it != faces_.end()) return it->second.get();
    auto handle = std::make_unique<FaceHandle>();
    const std::string path = font_dir_ + "/" + file_of(font.face);
    if (FT_New_Face(static_cast<FT_Library>(library_), path.c_str(), 0, &handle->face) != 0) {
        handle->face = nullptr;
        fail("cannot load the font " + path + " (Debian package fonts-dejavu-core)");
    } else if (FT_Set_Pixel_Sizes(handle->face, 0, FT_UInt(font.pixel_size)) != 0) {
        fail("the font " + path + " has no size " + std::to_string(font.pixel_size));
    }
    FaceHandle* raw = handle.get();
    faces_.emplace(key, std::move(handle));
    return raw->face ? raw : nullptr;
}

int Typesetter::cap_height(const FontSpec& font) {
    FaceHandle* f = face_for(font);
    if (!f) return 0;
    if (FT_Load_Char(f->face, 'H', FT_LOAD_DEFAULT) != 0) return font.pixel_size * 3 / 4;
    return int(f->face->glyph->metrics.horiBearingY >> 6);
}

int Typesetter::descent(const FontSpec& font) {
    FaceHandle* f = face_for(font);
    if (!f) return 0;
    return int(-f->face->size->metrics.descender >> 6);
}

int Typesetter::line_height(const FontSpec& font) {
    FaceHandle* f = face_for(font);
    if (!f) return font.pixel_size;
    return int(f->face->size->metrics.height >> 6);
}

namespace {

// Walks the glyphs of a line, calling emit(glyph slot, pen x in 26.6) for each; returns the advance.
template <typename Emit>
long layout(FT_Face face, const FontSpec& font, const std::u32string& text, bool render, Emit emit) {
    FT_Matrix shear{0x10000, FT_Fixed(kObliqueShear * 65536), 0, 0x10000};
    FT_Set_Transform(face, font.oblique ? &shear : nullptr, nullptr);
    const long tracking = std::lround(font.tracking * 64.0f);
    long pen = 0;
    FT_UInt previous = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        const FT_UInt index = FT_Get_Char_Index(face, FT_ULong(text[i]));
        if (previous && index && FT_HAS_KERNING(face)) {
            FT_Vector k;
            if (FT_Get_Kerning(face, previous, index, FT_KERNING_DEFAULT, &k) == 0) pen += k.x;
        }
        const FT_Int32 flags = FT_LOAD_TARGET_LIGHT | (render ? FT_LOAD_RENDER : 0);
        if (FT_Load_Glyph(face, index, flags) == 0) {
            if (render) emit(face->glyph, pen);
            pen += face->glyph->advance.x;
        }
        if (i + 1 < text.size()) pen += tracking;
        previous = index;
    }
    FT_Set_Transform(face, nullptr, nullptr);
    return pen;
}

}  // namespace

int Typesetter::measure(const FontSpec& font, const std::string& text) {
    FaceHandle* f = face_for(font);
    if (!f) return 0;
    const long pen = layout(f->face, font, utf8_decode(text), false, [](FT_GlyphSlot, long) {});
    return int((pen + 32) >> 6);
}

Mask Typesetter::render(const FontSpec& font, const std::string& text, int x, int baseline) {
    FaceHandle* f = face_for(font);
    if (!f) return Mask();
    struct Piece {
        int left, top, w, h;
        std::vector<unsigned char> cov;
    };
    std::vector<Piece> pieces;
    layout(f->face, font, utf8_decode(text), true, [&](FT_GlyphSlot g, long pen) {
        const FT_Bitmap& bm = g->bitmap;
        if (bm.width == 0 || bm.rows == 0 || bm.pixel_mode != FT_PIXEL_MODE_GRAY) return;
        Piece p{x + int((pen + 32) >> 6) + g->bitmap_left, baseline - g->bitmap_top, int(bm.width), int(bm.rows), {}};
        p.cov.resize(size_t(p.w) * p.h);
        for (int r = 0; r < p.h; ++r) std::copy_n(bm.buffer + r * bm.pitch, p.w, p.cov.begin() + ptrdiff_t(r) * p.w);
        pieces.push_back(std::move(p));
    });
    if (pieces.empty()) return Mask();
    int x0 = pieces[0].left, y0 = pieces[0].top, x1 = x0, y1 = y0;
    for (const Piece& p : pieces) {
        x0 = std::min(x0, p.left);
        y0 = std::min(y0, p.top);
        x1 = std::max(x1, p.left + p.w);
        y1 = std::max(y1, p.top + p.h);
    }
    Mask m(x0, y0, x1 - x0, y1 - y0);
    for (const Piece& p : pieces)
        for (int r = 0; r < p.h; ++r)
            for (int c = 0; c < p.w; ++c) {
                float& v = m.ref(p.left + c, p.top + r);
                v = std::max(v, float(p.cov[size_t(r) * p.w + c]) / 255.0f);
            }
    return m;
}

}  // namespace zorbrix::assets
