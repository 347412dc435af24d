#include "platform/ptc.h"

#include "platform/message_box.h"
#include "platform/ptc_backend.h"
#include "platform/ptc_sdl.h"

#include <atomic>
#include <cstdio>
#include <cstring>

namespace ptc {
namespace {

std::atomic<ReportSink> g_report_sink{nullptr};

// Surfaces and consoles larger than this on a side are refused rather than allocated.
constexpr int kMaxSide = 16384;

void default_report(const char* message) {
    // One line on standard error, whatever the message holds.
    std::string line = message;
    for (char& c : line) {
        if (c == '\n' || c == '\r') {
            c = ' ';
        }
    }
    std::fprintf(stderr, "zorbrix: %s\n", line.c_str());
    std::fflush(stderr);
    zorbrix::show_message_box("Error", message, zorbrix::MessageIcon::Error, /*print_if_unavailable=*/false);
}

}  // namespace

void Error::report() const {
    ReportSink sink = g_report_sink.load();
    (sink ? sink : default_report)(message_.c_str());
}

ReportSink set_report_sink(ReportSink sink) { return g_report_sink.exchange(sink); }

// ---------------------------------------------------------------------------------------------------------------
// Format

Format::Format(int bits, uint32_t r, uint32_t g, uint32_t b, uint32_t a) : bits_(bits), r_(r), g_(g), b_(b), a_(a) {
    if (bits != 32 || r != 0xff0000u || g != 0x00ff00u || b != 0x0000ffu || a != 0) {
        char text[160];
        std::snprintf(
            text, sizeof text,
            "unsupported pixel format (%d bits, masks %06x %06x %06x %x); only 32-bit 0x00RRGGBB is supported", bits, r,
            g, b, a);
        throw DynamicError(text);
    }
}

// ---------------------------------------------------------------------------------------------------------------
// Console

Console::Console() : Console(std::make_unique<SdlBackend>()) {}

Console::Console(std::unique_ptr<ConsoleBackend> backend) : backend_(std::move(backend)) {
    if (!backend_) {
        throw DynamicError("console created without a display backend");
    }
}

Console::~Console() {
    if (open_) {
        backend_->close();
    }
}

bool Console::option(const std::string& text) {
    if (text == "windowed output") {
        windowed_ = true;
        return true;
    }
    return text == "DirectX";
}

void Console::open(const char* title, int width, int height, const Format&, int pages) {
    if (quit_) {
        throw DynamicError("quit");
    }
    if (width <= 0 || height <= 0 || width > kMaxSide || height > kMaxSide) {
        throw DynamicError("cannot open a console of " + std::to_string(width) + " x " + std::to_string(height) +
                           " pixels");
    }
    if (pages < 0) {
        throw DynamicError("negative page count for the console");
    }
    if (open_) {
        close();
    }
    title_ = title ? title : "";
    backend_->open(title_, width, height, windowed_);
    width_ = width;
    height_ = height;
    buffer_.assign(size_t(width) * size_t(height), 0);
    keys_.clear();
    open_ = true;
}

void Console::close() {
    if (open_) {
        open_ = false;
        backend_->close();
    }
}

void Console::check_usable(const char* operation) {
    if (quit_) {
        throw DynamicError("quit");
    }
    if (!open_) {
        throw DynamicError(std::string(operation) + " on a console that is not open");
    }
}

void Console::pump(bool wait) {
    if (backend_->poll(keys_, wait)) {
        quit_ = true;
        throw DynamicError("quit");
    }
}

bool Console::key() {
    check_usable("key test");
    if (keys_.empty()) {
        pump(false);
    }
    return !keys_.empty();
}

Key Console::read() {
    check_usable("key read");
    while (keys_.empty()) {
        pump(true);
    }
    const Key key = keys_.front();
    keys_.pop_front();
    return key;
}

void Console::update() {
    check_usable("update");
    backend_->present(buffer_.data(), width_, height_);
    // Presses and a close request that arrived during the frame are seen by the next call at the latest.
    pump(false);
}

void Console::load(const void* pixels, int width, int height, int pitch) {
    check_usable("surface copy");
    if (width != width_ || height != height_) {
        throw DynamicError("surface copy: the surface is " + std::to_string(width) + " x " + std::to_string(height) +
                           ", the console " + std::to_string(width_) + " x " + std::to_string(height_));
    }
    const auto* src = static_cast<const unsigned char*>(pixels);
    for (int y = 0; y < height; ++y) {
        std::memcpy(buffer_.data() + size_t(y) * size_t(width), src + size_t(y) * size_t(pitch), size_t(width) * 4);
    }
}

// ---------------------------------------------------------------------------------------------------------------
// Surface

Surface::Surface(int width, int height, const Format& format) : width_(width), height_(height), format_(format) {
    // An empty surface is allowed (a picture that failed to load has no pixels); negative or absurd sizes are not.
    if (width < 0 || height < 0 || width > kMaxSide || height > kMaxSide) {
        throw DynamicError("cannot create a surface of " + std::to_string(width) + " x " + std::to_string(height) +
                           " pixels");
    }
    pixels_.assign(size_t(width) * size_t(height), 0);
}

void* Surface::lock() {
    if (locked_) {
        throw DynamicError("surface is already locked");
    }
    locked_ = true;
    return pixels_.data();
}

void Surface::unlock() {
    if (!locked_) {
        throw DynamicError("surface is not locked");
    }
    locked_ = false;
}

void Surface::clear() { std::fill(pixels_.begin(), pixels_.end(), 0u); }

void Surface::copy(Console& console) {
    if (locked_) {
        throw DynamicError("surface copy while the surface is locked");
    }
    console.load(pixels_.data(), width_, height_, pitch());
}

}  // namespace ptc
