#pragma once
// A display without a screen: the same console operations, with key presses scripted by the owner and every
// presented frame handed to the owner instead of a window. The offline capture runs the intro through it, and tests
// drive the key layer with it.

#include "platform/ptc_backend.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <string>

namespace ptc {

class OffscreenBackend : public ConsoleBackend {
public:
    // Receives every presented frame: pixels 0x00RRGGBB, width x height, and the frame's number from 0.
    // It may script more key presses or a close request through the backend.
    using FrameSink = std::function<void(const uint32_t* pixels, int width, int height, long frame)>;

    OffscreenBackend() = default;
    explicit OffscreenBackend(FrameSink sink) : sink_(std::move(sink)) {}

    // Queues a key press; the console sees it at its next key test or read.
    void press(const Key& key) { pending_.push_back(key); }
    // The user closes the display: the console's next call throws DynamicError("quit").
    void request_close() { close_requested_ = true; }
    // Called when the console waits for a key and none is scripted; it may script one. If it does not (or is not
    // set), the wait fails with a DynamicError instead of hanging.
    void on_wait(std::function<void(OffscreenBackend&)> idle) { idle_ = std::move(idle); }

    bool is_open() const { return open_; }
    bool windowed() const { return windowed_; }
    const std::string& title() const { return title_; }
    int width() const { return width_; }
    int height() const { return height_; }
    long frames_presented() const { return frames_; }

    void open(const std::string& title, int width, int height, bool windowed) override;
    void close() override { open_ = false; }
    void present(const uint32_t* pixels, int width, int height) override;
    bool poll(std::deque<Key>& keys, bool wait) override;

private:
    FrameSink sink_;
    std::function<void(OffscreenBackend&)> idle_;
    std::deque<Key> pending_;
    std::string title_;
    int width_ = 0;
    int height_ = 0;
    long frames_ = 0;
    bool open_ = false;
    bool windowed_ = false;
    bool close_requested_ = false;
};

}  // namespace ptc
