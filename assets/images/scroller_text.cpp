// The end scroller's text: the invitation itself, laid out as six screen-high pages of 512 x 384 so that
// every Page Down shows one whole page. Two columns per page, each on a soft dark backing so it reads
// over the video and the cream object turning behind it.
#include <algorithm>
#include <cmath>
#include <sstream>
#include <string>
#include <vector>

#include "assets/images/pictures.h"
#include "assets/images/style.h"

namespace zorbrix::assets {

using namespace palette;

namespace {

constexpr int kWidth = 512;
constexpr int kPage = 384;
constexpr int kPages = 6;
constexpr int kMargin = 30;
constexpr int kGutter = 20;
constexpr int kColumnWidth = (kWidth - 2 * kMargin - kGutter) / 2;

const FontSpec kBody{Face::Sans, 12, 0, false};
const FontSpec kBodyBold{Face::SansBold, 12, 0, false};
const FontSpec kHeading{Face::SansBold, 12, 2.4f, false};
const FontSpec kLabel{Face::SansBold, 10, 1.2f, false};
const FontSpec kSmall{Face::Sans, 10, 0.6f, false};
constexpr int kLineHeight = 16;

const Halo kTextHalo{1.5f, 2.4f, 0.85f, 0, 1, kInk};

struct Block {
    float x0, y0, x1, y1;
};

class Page {
public:
    Page(Painter& painter, std::vector<Block>& blocks, int index)
        : p_(painter), type_(painter.type()), blocks_(blocks), top_(index * kPage) {}

    int top() const { return top_; }

    // A column starting `y` rows below the top of the page.
    struct Column {
        int x, w, y;
        int start;
    };
    Column left(int y) const { return {kMargin, kColumnWidth, top_ + y, top_ + y}; }
    Column right(int y) const { return {kMargin + kColumnWidth + kGutter, kColumnWidth, top_ + y, top_ + y}; }
    Column full(int y, int width = kWidth - 2 * kMargin) const {
        return {(kWidth - width) / 2, width, top_ + y, top_ + y};
    }

    void heading(Column& c, const std::string& text) {
        c.y += 13;
        p_.text(kHeading, text, c.x, c.y, kAmber, mix(kAmber, kCopper, 0.4f), kTextHalo);
        const float ly = float(c.y) + 5.5f;
        const float x0 = float(c.x), x1 = float(c.x + c.w);
        Mask line = shape_mask(c.x - 2, int(ly) - 3, c.w + 4, 7,
                               [=](float x, float y) { return dist_segment(x, y, x0, ly, x1, ly) - 0.5f; });
        for (int y = 0; y < line.h; ++y)
            for (int x = 0; x < line.w; ++x) line.a[size_t(y) * line.w + x] *= 1.0f - 0.85f * float(x) / float(line.w);
        p_.add(std::move(line), kSteel, Halo{1.0f, 2.0f, 0.6f, 0, 0, kInk});
        c.y += 10;
    }

    // A heading centred over the column, with short rules either side, for the centred last page.
    void heading_centred(Column& c, const std::string& text) {
        c.y += 13;
        const int w = type_.measure(kHeading, text);
        const int cx = c.x + c.w / 2;
        p_.text_centred(kHeading, text, cx, c.y, kAmber, mix(kAmber, kCopper, 0.4f), kTextHalo);
        for (int side = -1; side <= 1; side += 2) {
            const float a = float(cx) + float(side) * (float(w) / 2 + 10), b = a + float(side) * 50;
            const float ly = float(c.y) - 4.5f;
            Mask line = shape_mask(int(std::min(a, b)) - 2, int(ly) - 3, 55, 7,
                                   [=](float x, float y) { return dist_segment(x, y, a, ly, b, ly) - 0.5f; });
            for (int y = 0; y < line.h; ++y)
                for (int x = 0; x < line.w; ++x) {
                    const float px = float(line.x0 + x) + 0.5f;
                    line.a[size_t(y) * line.w + x] *= 1.0f - std::clamp(std::fabs(px - a) / 50.0f, 0.0f, 1.0f);
                }
            p_.add(std::move(line), kSteel, Halo{1.0f, 2.0f, 0.6f, 0, 0, kInk});
        }
        c.y += 6;
    }

    // Names separated by middle dots, wrapped so that no line starts or ends with a dot.
    void centred_list(Column& c, const std::vector<std::string>& items, const FontSpec& font, int line_height) {
        const std::string dot = "  \u00b7  ";
        std::string line;
        auto flush = [&] {
            c.y += line_height;
            p_.text_centred(font, line, c.x + c.w / 2, c.y, kIvory, kCream, kTextHalo);
            line.clear();
        };
        for (const std::string& item : items) {
            const std::string candidate = line.empty() ? item : line + dot + item;
            if (!line.empty() && type_.measure(font, candidate) > c.w) {
                flush();
                line = item;
            } else {
                line = candidate;
            }
        }
        if (!line.empty()) flush();
    }

    // Word-wrapped text; a line starting with a label "Name:" shows the label bold.
    void para(Column& c, const std::string& text, const FontSpec& font = kBody, int indent = 0) {
        for (const std::string& line : wrap(font, text, c.w - indent)) {
            c.y += kLineHeight;
            p_.text(font, line, c.x + indent, c.y, kIvory, kCream, kTextHalo);
        }
    }

    void centred(Column& c, const std::string& text, const FontSpec& font, Rgb top, Rgb bottom, int line_height) {
        for (const std::string& line : wrap(font, text, c.w)) {
            c.y += line_height;
            p_.text_centred(font, line, c.x + c.w / 2, c.y, top, bottom, kTextHalo);
        }
    }

    void bullet(Column& c, const std::string& text) {
        const int y = c.y + kLineHeight;
        p_.add(shape_mask(c.x, y - 9, 8, 8,
                          [=](float px, float py) {
                              return std::fabs(px - (c.x + 3.5f)) + std::fabs(py - (y - 4.5f)) - 2.6f;
                          }),
               kAmber, kTextHalo);
        para(c, text, kBody, 12);
    }

    // A small label in the cool accent, then the text on the lines below it.
    void item(Column& c, const std::string& label, const std::string& text) {
        c.y += kLineHeight;
        c.y += 3;
        p_.text(kLabel, label, c.x, c.y - 1, kIce, mix(kIce, kSteel, 0.3f), kTextHalo);
        para(c, text);
    }

    // Label and value on one line, the value right-aligned: prices, times.
    void row(Column& c, const std::string& label, const std::string& value) {
        c.y += kLineHeight;
        p_.text(kBody, label, c.x, c.y, kIvory, kCream, kTextHalo);
        p_.text_right(kBodyBold, value, c.x + c.w, c.y, kIvory, mix(kCream, kAmber, 0.4f), kTextHalo);
    }

    void gap(Column& c, int rows) { c.y += rows; }

    // Closes the column: a soft dark backing behind what it holds.
    void finish(const Column& c) {
        blocks_.push_back({float(c.x - 14), float(c.start - 10), float(c.x + c.w + 14), float(c.y + 13)});
    }

    std::vector<std::string> wrap(const FontSpec& font, const std::string& text, int width) {
        std::vector<std::string> lines;
        std::istringstream words(text);
        std::string word, line;
        while (words >> word) {
            const std::string candidate = line.empty() ? word : line + " " + word;
            if (!line.empty() && type_.measure(font, candidate) > width) {
                lines.push_back(line);
                line = word;
            } else {
                line = candidate;
            }
        }
        if (!line.empty()) lines.push_back(line);
        return lines;
    }

private:
    Painter& p_;
    Typesetter& type_;
    std::vector<Block>& blocks_;
    int top_;
};

// A page title between two ornamental rules, in the display style of the logo.
void page_title(Painter& p, const Page& page, const std::string& title, int y, int size) {
    const FontSpec font{Face::SansBold, size, 2.0f, false};
    Typesetter& type = p.type();
    const int w = type.measure(font, title);
    const int baseline = page.top() + y;
    const int cap = type.cap_height(font);
    Mask letters = type.render(font, title, kWidth / 2 - w / 2, baseline);
    p.add(glow(letters, 0.8f, 5.0f), kInk, Halo{2.5f, 1.6f, 0.9f, 0, 1, kInk}, 0.95f);
    p.add(std::move(letters), vertical(kIvory, kAmber, baseline - cap, baseline), Halo{0, 0, 0, 0, 0, kInk});
    const float ry = float(baseline - cap / 2);
    const float gap = float(w) / 2 + 14;
    // The rules stop short of the corner frames.
    const float len = std::min(70.0f, kWidth / 2.0f - gap - 78.0f);
    for (int side = -1; side <= 1 && len > 12.0f; side += 2) {
        const float a = kWidth / 2.0f + side * gap, b = kWidth / 2.0f + side * (gap + len);
        Mask line = shape_mask(int(std::min(a, b)) - 2, int(ry) - 3, int(len) + 5, 7,
                               [=](float x, float y) { return dist_segment(x, y, a, ry, b, ry) - 0.6f; });
        for (int yy = 0; yy < line.h; ++yy)
            for (int xx = 0; xx < line.w; ++xx) {
                const float px = float(line.x0 + xx) + 0.5f;
                line.a[size_t(yy) * line.w + xx] *= 1.0f - std::clamp(std::fabs(px - a) / len, 0.0f, 1.0f);
            }
        p.add(std::move(line), kAmber, Halo{1.2f, 2.0f, 0.7f, 0, 0, kInk});
    }
}

}  // namespace

Canvas draw_scroller_text(Typesetter& type) {
    Canvas canvas(kWidth, kPage * kPages);
    Painter p(type);
    std::vector<Block> blocks;

    // Page 1: the title, what and when, where.
    {
        Page page(p, blocks, 0);
        page_title(p, page, "ZORBRIX 2027", 78, 46);
        p.text_centred({Face::Serif, 18, 0.5f, true}, "the invitation", kWidth / 2, page.top() + 108,
                       mix(kIvory, kIce, 0.4f), kIce, Halo{2.0f, 3.0f, 0.95f, 0, 1, kInk});
        auto intro = page.full(122, 400);
        page.centred(intro,
                     "Hollowmoor and Ellerdahl invite you to three days of demos, music, graphics and games. "
                     "Bring your computer, your friends and your best production: we bring the network, "
                     "the big screen and the barbecue.",
                     kBody, kIvory, kCream, kLineHeight);
        page.finish(intro);
        auto l = page.left(206);
        page.heading(l, "WHEN");
        page.row(l, "Doors open", "Fri 16 Apr, 16:00");
        page.row(l, "Party starts", "Fri 16 Apr, 18:00");
        page.row(l, "Prize giving", "Sun 18 Apr, 12:00");
        page.row(l, "Party ends", "Sun 18 Apr, 14:00");
        page.finish(l);
        auto r = page.right(206);
        page.heading(r, "WHERE");
        page.para(r, "Vindhallen, the big hall of Ravnsby sports centre:");
        page.para(r, "S\u00f8lvk\u00e6rvej 12, 4870 Ravnsby", kBodyBold);
        page.para(r, "Room for 240 people and their computers.");
        page.finish(r);
        p.text_centred(kSmall, "\u2193 \u2191  scroll      PgDn PgUp  page      Esc  leave", kWidth / 2,
                       page.top() + 352, kIce, mix(kIce, kSteel, 0.3f), kTextHalo);
    }

    // Page 2: getting there, what to bring, the entry fee.
    {
        Page page(p, blocks, 1);
        auto l = page.left(30);
        page.heading(l, "GETTING THERE");
        page.item(l, "BY TRAIN",
                  "Regional trains stop at Ravnsby station twice an hour. From the station it is a 12 minute walk: "
                  "follow the signs to the sports centre.");
        page.item(l, "BY BUS", "Line 7 from the station to the stop \u201cVindhallen\u201d, every 20 minutes.");
        page.item(l, "BY CAR",
                  "Leave the motorway at exit 14 and follow the signs to Ravnsby. Free parking beside the hall.");
        page.item(l, "PICK-UP", "Arriving late at night? Mail us and we fetch you from the station.");
        page.finish(l);
        auto r = page.right(30);
        page.heading(r, "WHAT TO BRING");
        page.bullet(r, "Your computer, monitor, keyboard and mouse");
        page.bullet(r, "A network cable, at least 5 metres");
        page.bullet(r, "A power strip with 3 sockets");
        page.bullet(r, "Headphones: no speakers in the hall");
        page.bullet(r, "Sleeping bag and mattress");
        page.bullet(r, "Photo ID, and a good mood");
        page.gap(r, 14);
        page.heading(r, "ENTRY FEE");
        page.row(r, "Whole weekend", "200 kr");
        page.row(r, "Prepaid on the web", "160 kr");
        page.row(r, "Visitors, no computer", "60 kr");
        page.para(r, "Pay at the door, cash or card.", kSmall);
        page.finish(r);
    }

    // Page 3: the demo and music competitions.
    {
        Page page(p, blocks, 2);
        page_title(p, page, "THE COMPETITIONS", 42, 24);
        auto l = page.left(62);
        page.heading(l, "PC / AMIGA DEMO");
        page.para(l,
                  "At most 8 minutes and 64 MB. Shown on Windows or Linux (fast PC), or on an Amiga 1200 with 68060.");
        page.gap(l, 8);
        page.heading(l, "C64 DEMO");
        page.para(l, "Runs on a real PAL C64 from one 1541 disk side. At most 8 minutes.");
        page.gap(l, 8);
        page.heading(l, "WILD DEMO");
        page.para(l, "Anything goes: hardware, video, oscilloscopes. Bring it on a USB stick, at most 6 minutes.");
        page.finish(l);
        auto r = page.right(62);
        page.heading(r, "TRACKED MUSIC");
        page.para(r, "MOD, XM, S3M or IT, at most 4 minutes. Played from the tracker on the compo PC.");
        page.gap(r, 8);
        page.heading(r, "C64 MUSIC");
        page.para(r, "A SID file for a PAL C64, at most 4 minutes.");
        page.gap(r, 8);
        page.heading(r, "FOR EVERY COMPO");
        page.bullet(r, "Hand in by Saturday 18:00");
        page.bullet(r, "New work only, not shown before");
        page.bullet(r, "The visitors vote, one vote each");
        page.finish(r);
    }

    // Page 4: the graphics competitions and the game tournaments.
    {
        Page page(p, blocks, 3);
        auto l = page.left(30);
        page.heading(l, "RENDERED GRAPHICS");
        page.para(l, "Any 3D program, up to 1920 x 1080, PNG or JPEG. Bring the scene file.");
        page.gap(l, 8);
        page.heading(l, "PIXELED GRAPHICS");
        page.para(l, "Drawn pixel by pixel, no scans, no filters. Hand in work stages.");
        page.gap(l, 8);
        page.heading(l, "C64 GRAPHICS");
        page.para(l, "Koala or hires picture shown on a real C64. Hand in work stages.");
        page.gap(l, 8);
        page.heading(l, "PRIZES");
        page.para(l,
                  "Hardware and gift cards for the top three of every competition and tournament, and the "
                  "Zorbrix trophy for each winner. Prize giving on Sunday at 12:00.");
        page.finish(l);
        auto r = page.right(30);
        page.heading(r, "TOURNAMENTS");
        page.item(r, "COUNTER-STRIKE 4 VS 4", "Teams of four, best of three maps. Sign up by Saturday 12:00.");
        page.item(r, "QUAKE 3", "One on one, 10 minutes a map, knock-out from the quarter finals.");
        page.item(r, "STARCRAFT: BROOD WAR", "One on one, fastest speed, best of three.");
        page.item(r, "XBILL", "Keep the computers free of Wingdows: the highest level on the big screen wins.");
        page.finish(r);
    }

    // Page 5: facilities, house rules, contact.
    {
        Page page(p, blocks, 4);
        auto l = page.left(30);
        page.heading(l, "FACILITIES");
        page.item(l, "100 MBIT LAN", "Switched, with a port at every seat. DHCP, no static addresses.");
        page.item(l, "34 MBIT INTERNET", "Shared by everyone: please, no big downloads.");
        page.item(l, "BARBECUE", "Saturday from 19:00 outside the hall. Meat, sausages and vegetables at cost.");
        page.item(l, "AND MORE", "Big screen, quiet sleeping hall, showers, and a kiosk open day and night.");
        page.finish(l);
        auto r = page.right(30);
        page.heading(r, "HOUSE RULES");
        page.bullet(r, "No smoking in the building");
        page.bullet(r, "No alcohol for anyone under 18");
        page.bullet(r, "Look after your own things");
        page.bullet(r, "Be kind to the hall: we want to come back");
        page.gap(r, 14);
        page.heading(r, "CONTACT");
        page.item(r, "WEB", "www.zorbrix.example.org");
        page.item(r, "MAIL", "orga@zorbrix.example.org");
        page.item(r, "IRC", "#zorbrix");
        page.finish(r);
    }

    // Page 6: greetings, credits, farewell.
    {
        Page page(p, blocks, 5);
        auto g = page.full(22, 420);
        page.heading_centred(g, "GREETINGS");
        page.centred_list(
            g,
            {"Brinefold", "Cinderloom", "Duskwater", "Fernhollow", "Gloamwright", "Kestrel Ink", "Lowtide", "Mirefield",
             "Nightjar", "Oxbow", "Quillmark", "Saltmarsh", "Tessellate", "Velvetgrit", "Wrenfall"},
            kBody, 18);
        page.centred(g, "and everyone who ever carried a computer to a party", {Face::Serif, 13, 0.3f, true},
                     mix(kIvory, kIce, 0.4f), kIce, 20);
        page.finish(g);
        auto c = page.full(150, 420);
        page.heading_centred(c, "CREDITS");
        page.centred(c, "code & gfx: vyrn / hollowmoor", {Face::SansBold, 14, 0.5f, false}, kIvory, kCream, 22);
        page.centred(c, "music: trokk / ellerdahl", {Face::SansBold, 14, 0.5f, false}, kIvory, kCream, 22);
        page.finish(c);
        page_title(p, page, "SEE YOU AT ZORBRIX!", 290, 26);
        p.text_centred(kSmall, "16\u201318 April 2027  \u00b7  Vindhallen, Ravnsby  \u00b7  Esc to leave", kWidth / 2,
                       page.top() + 340, kIce, mix(kIce, kSteel, 0.3f), kTextHalo);
    }

    // Columns side by side share one backing, so no bright seam runs between them.
    std::vector<Block> merged;
    for (const Block& b : blocks) {
        bool joined = false;
        for (Block& m : merged)
            if (b.y0 < m.y1 && m.y0 < b.y1) {
                m = {std::min(m.x0, b.x0), std::min(m.y0, b.y0), std::max(m.x1, b.x1), std::max(m.y1, b.y1)};
                joined = true;
                break;
            }
        if (!joined) merged.push_back(b);
    }
    // A dense panel: the blob turns behind the text, and the body text keeps a contrast of well over 4.5:1 against
    // it (the panel reaches full strength before the text begins; its soft edge lies outside).
    for (const Block& b : merged) backing(canvas, b.x0, b.y0, b.x1, b.y1, 10, 8, 0.86f);
    p.paint(canvas);
    return canvas;
}

}  // namespace zorbrix::assets
