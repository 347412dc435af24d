// zorbrix-assets OUTDIR: writes every data file the intro loads into OUTDIR: the pictures (Targa), the soundtrack
// "ambient3.xm" and the backdrop video "zorbrix.nvd". The build then packs them into zorbrix.kf with kftool.
#include "assets/images/images.h"
#include "assets/music/soundtrack.h"
#include "assets/video/backdrop.h"

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>

#include "platform/tool_main.h"

namespace {

constexpr const char* kUsage = "usage: zorbrix-assets OUTDIR\n";

int run(int argc, char** argv) {
    if (argc == 2 && (!std::strcmp(argv[1], "--help") || !std::strcmp(argv[1], "-h"))) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    // An option is never taken for the folder's name (a folder called "-x" is given as "./-x").
    if (argc != 2 || argv[1][0] == '-') {
        std::fputs(kUsage, stderr);
        return 2;
    }
    const std::filesystem::path out = argv[1];
    std::error_code ec;
    std::filesystem::create_directories(out, ec);
    if (ec) {
        std::fprintf(stderr, "zorbrix-assets: cannot create %s: %s\n", out.c_str(), ec.message().c_str());
        return 1;
    }
    std::string error;
    if (!zorbrix::assets::write_all_images(out.string(), &error)) {
        std::fprintf(stderr, "zorbrix-assets: pictures: %s\n", error.c_str());
        return 1;
    }
    if (!zorbrix::music::write_soundtrack((out / "ambient3.xm").string(), &error)) {
        std::fprintf(stderr, "zorbrix-assets: soundtrack: %s\n", error.c_str());
        return 1;
    }
    if (!zorbrix::assets::write_backdrop((out / "zorbrix.nvd").string(), &error)) {
        std::fprintf(stderr, "zorbrix-assets: backdrop video: %s\n", error.c_str());
        return 1;
    }
    return 0;
}

}  // namespace

// Each file appears whole or not at all, so a failed run leaves the ones before it complete and no partial one.
int main(int argc, char** argv) { return zorbrix::run_tool("zorbrix-assets", run, argc, argv); }
