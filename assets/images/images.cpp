#include "assets/images/images.h"

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "assets/images/pictures.h"
#include "assets/images/tga_writer.h"

namespace zorbrix::assets {

std::vector<std::string> caption_file_names() {
    return {"text_100_mbit_lan.tga",
            "text_34_mbit_internet.tga",
            "text_barbeque.tga",
            "text_web_address.tga",
            "text_pc_amiga_demo.tga",
            "text_c64_demo.tga",
            "text_wild_demo.tga",
            "text_tracked_music.tga",
            "text_rendered_graphics.tga",
            "text_pixeled_graphics.tga",
            "text_c64_graphics.tga",
            "text_c64_music.tga",
            "text_counterstrike_4_vs_4.tga",
            "text_quake_3.tga",
            "text_starcraft_broodwar.tga",
            "text_xbill.tga"};
}

std::vector<std::string> image_file_names() {
    std::vector<std::string> names = {"tekst.tga",
                                      "corner_upper_left.tga",
                                      "corner_upper_right.tga",
                                      "corner_lower_right.tga",
                                      "corner_lower_left.tga",
                                      "zorbrixlogo_stor.tga",
                                      "intro_1.tga",
                                      "intro_2.tga"};
    for (const std::string& c : caption_file_names()) names.push_back(c);
    for (int d = 0; d <= 9; ++d) names.push_back(std::to_string(d) + ".tga");
    names.push_back("kolon.tga");
    return names;
}

bool render_all_images(std::vector<Picture>* out, std::string* error, const std::string& font_dir) {
    Typesetter type(font_dir);
    std::vector<Picture> pictures;
    pictures.push_back(make_picture("tekst.tga", draw_scroller_text(type)));
    const Canvas corner = draw_corner(type);
    pictures.push_back(make_picture("corner_upper_left.tga", corner));
    pictures.push_back(make_picture("corner_upper_right.tga", corner.mirrored(true, false)));
    pictures.push_back(make_picture("corner_lower_right.tga", corner.mirrored(true, true)));
    pictures.push_back(make_picture("corner_lower_left.tga", corner.mirrored(false, true)));
    pictures.push_back(make_picture("zorbrixlogo_stor.tga", draw_logo(type)));
    pictures.push_back(make_picture("intro_1.tga", draw_intro_presents(type)));
    pictures.push_back(make_picture("intro_2.tga", draw_intro_invitation(type)));
    const std::vector<std::string> captions = caption_file_names();
    for (int i = 0; i < int(captions.size()); ++i)
        pictures.push_back(make_picture(captions[size_t(i)], draw_caption(type, i)));
    for (int d = 0; d <= 9; ++d) pictures.push_back(make_picture(std::to_string(d) + ".tga", draw_digit(type, d)));
    pictures.push_back(make_picture("kolon.tga", draw_colon(type)));
    if (!type.ok()) {
        if (error) *error = type.error();
        return false;
    }
    *out = std::move(pictures);
    return true;
}

bool write_all_images(const std::string& outdir, std::string* error) {
    std::error_code ec;
    std::filesystem::create_directories(outdir, ec);
    if (ec) {
        if (error) *error = "cannot create the folder " + outdir + ": " + ec.message();
        return false;
    }
    std::vector<Picture> pictures;
    if (!render_all_images(&pictures, error)) return false;
    for (const Picture& p : pictures) {
        const std::string path = (std::filesystem::path(outdir) / p.name).string();
        if (!write_tga(path, p.pixels.data(), p.width, p.height, error)) return false;
    }
    return true;
}

}  // namespace zorbrix::assets
