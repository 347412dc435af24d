#pragma once
// The display layer: a console (a window or the full screen), off-screen surfaces in a 32-bit pixel format, key
// input and the display's error type. Pixels are 32-bit words 0x00RRGGBB, rows contiguous, pitch = width * 4.
//
// The console draws through a replaceable backend (platform/ptc_backend.h): the SDL2 display by default, or an
// off-screen one that takes scripted key presses and hands every presented frame to its owner.

#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

namespace ptc {

class ConsoleBackend;

// An error of the display layer. report() tells the user: a line on standard error and, where a display is
// available, a message box.
class Error {
public:
    Error() = default;
    explicit Error(std::string message) : message_(std::move(message)) {}
    virtual ~Error() = default;

    const char* message() const { return message_.c_str(); }
    void report() const;

private:
    std::string message_;
};

// What every display operation throws. The message "quit" means the user closed the display.
class DynamicError : public Error {
public:
    using Error::Error;
};

// Where report() sends an error. The default writes "zorbrix: <message>" to standard error and shows a message
// box when it can. Tests and headless tools replace it; returns the previous sink (null means the default).
using ReportSink = void (*)(const char* message);
ReportSink set_report_sink(ReportSink sink);

// A direct-colour pixel format. Only the one the program draws in is supported: 32 bits, red 0xff0000,
// green 0x00ff00, blue 0x0000ff, no alpha; any other throws DynamicError.
class Format {
public:
    Format(int bits, uint32_t r, uint32_t g, uint32_t b, uint32_t a = 0);

    int bits() const { return bits_; }
    uint32_t r() const { return r_; }
    uint32_t g() const { return g_; }
    uint32_t b() const { return b_; }
    uint32_t a() const { return a_; }
    int bytes() const { return bits_ / 8; }
    bool operator==(const Format&) const = default;

private:
    int bits_;
    uint32_t r_, g_, b_, a_;
};

// A key press: a code and the Alt, Shift and Control states at the time of the press.
class Key {
public:
    // Codes of the keys the program reacts to by name. Every other key has a code different from these.
    static constexpr int ESCAPE = 27;
    static constexpr int PAGEUP = 33;
    static constexpr int PAGEDOWN = 34;
    static constexpr int UP = 38;
    static constexpr int DOWN = 40;
    // A key the display does not name.
    static constexpr int UNDEFINED = 0;

    Key() = default;
    explicit Key(int code, bool alt = false, bool shift = false, bool control = false)
        : code_(code), alt_(alt), shift_(shift), control_(control) {}

    int code() const { return code_; }
    bool alt() const { return alt_; }
    bool shift() const { return shift_; }
    bool control() const { return control_; }

    // Equal when the code and all three modifier states are equal.
    bool operator==(const Key&) const = default;

private:
    int code_ = UNDEFINED;
    bool alt_ = false;
    bool shift_ = false;
    bool control_ = false;
};

// The display. Options are set before open; open shows the window (or takes the full screen); each update shows
// what the last surface copy put into the console's buffer.
//
// Once the user has closed the display, every later key, read, update and copy throws DynamicError("quit").
class Console {
public:
    // The SDL2 display. Throws DynamicError with a plain message when no display is available.
    Console();
    // Any backend, for example ptc::OffscreenBackend.
    explicit Console(std::unique_ptr<ConsoleBackend> backend);
    ~Console();
    Console(const Console&) = delete;
    Console& operator=(const Console&) = delete;

    // "windowed output" selects a window instead of the full screen (its size is the backend's: the SDL display
    // opens it at a whole multiple of the console's size); "DirectX" is accepted and changes
    // nothing. Returns false for an option the display does not know (it is ignored).
    bool option(const std::string& text);

    // Opens the display with a buffer of width x height pixels. pages: 0 for the default; accepted for
    // compatibility, the backend decides its own buffering. Opening an open console closes it first.
    void open(const char* title, int width, int height, const Format& format, int pages = 0);
    void close();
    bool is_open() const { return open_; }

    // True when a key press is waiting; the press stays queued.
    bool key();
    // Takes the next key press, waiting for one when none is queued.
    Key read();

    // Shows the console's buffer.
    void update();

    // Copies width x height pixels (pitch bytes per row) into the console's buffer; the size must be the
    // console's.
    void load(const void* pixels, int width, int height, int pitch);

    int width() const { return width_; }
    int height() const { return height_; }
    int pitch() const { return width_ * 4; }
    bool windowed() const { return windowed_; }
    const std::string& title() const { return title_; }
    ConsoleBackend& backend() { return *backend_; }

private:
    void check_usable(const char* operation);
    void pump(bool wait);

    std::unique_ptr<ConsoleBackend> backend_;
    std::deque<Key> keys_;
    std::vector<uint32_t> buffer_;
    std::string title_;
    int width_ = 0;
    int height_ = 0;
    bool windowed_ = false;
    bool open_ = false;
    bool quit_ = false;
};

// An off-screen block of pixels, black when created. Drawing happens between lock and unlock; copy puts the whole
// surface into the console's buffer.
class Surface {
public:
    Surface(int width, int height, const Format& format);
    Surface(const Surface&) = delete;
    Surface& operator=(const Surface&) = delete;

    // The address of the first pixel. Locking a locked surface throws.
    void* lock();
    void unlock();
    bool locked() const { return locked_; }

    // Every pixel black.
    void clear();
    // Copies the whole surface into the console's buffer; the sizes must be equal.
    void copy(Console& console);

    int width() const { return width_; }
    int height() const { return height_; }
    int pitch() const { return width_ * 4; }
    const Format& format() const { return format_; }

private:
    int width_;
    int height_;
    Format format_;
    std::vector<uint32_t> pixels_;
    bool locked_ = false;
};

}  // namespace ptc
