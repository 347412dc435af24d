#include "platform/ptc_offscreen.h"

namespace ptc {

void OffscreenBackend::open(const std::string& title, int width, int height, bool windowed) {
    title_ = title;
    width_ = width;
    height_ = height;
    windowed_ = windowed;
    open_ = true;
}

void OffscreenBackend::present(const uint32_t* pixels, int width, int height) {
    if (sink_) {
        sink_(pixels, width, height, frames_);
    }
    ++frames_;
}

bool OffscreenBackend::poll(std::deque<Key>& keys, bool wait) {
    if (wait && pending_.empty() && !close_requested_ && idle_) {
        idle_(*this);
    }
    const bool got_key = !pending_.empty();
    keys.insert(keys.end(), pending_.begin(), pending_.end());
    pending_.clear();
    if (wait && !got_key && !close_requested_) {
        throw DynamicError("offscreen display: waiting for a key press that nothing will make");
    }
    return close_requested_;
}

}  // namespace ptc
