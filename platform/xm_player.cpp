#include "platform/xm_player.h"

#include <xmp.h>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace zorbrix {

namespace {

xmp_context ctx(char* c) { return c; }

const char* xmp_error_text(int code) {
    switch (-code) {
    case XMP_ERROR_FORMAT: return "not a module format the player knows";
    case XMP_ERROR_LOAD: return "the module data is damaged or truncated";
    case XMP_ERROR_DEPACK: return "the module could not be unpacked";
    case XMP_ERROR_SYSTEM: return "system error while loading the module";
    case XMP_ERROR_INVALID: return "invalid module data";
    default: return "the module could not be loaded";
    }
}

}  // namespace

XmPlayer::XmPlayer() : context_(xmp_create_context()) {}

XmPlayer::~XmPlayer() {
    if (context_ == nullptr) return;
    if (loaded_) {
        xmp_end_player(ctx(context_));
        xmp_release_module(ctx(context_));
    }
    xmp_free_context(ctx(context_));
}

bool XmPlayer::load(const void* data, size_t size, int rate, std::string* error) {
    auto fail = [&](const char* why) {
        if (error) *error = why;
        return false;
    };
    if (context_ == nullptr) return fail("out of memory");
    if (loaded_) {
        xmp_end_player(ctx(context_));
        xmp_release_module(ctx(context_));
        loaded_ = false;
    }
    if (data == nullptr || size == 0) return fail("no module data");
    if (rate < XMP_MIN_SRATE || rate > XMP_MAX_SRATE) return fail("output rate out of range");
    // libxmp takes a long and reads at most that much; it never keeps a pointer to our bytes.
    const int loaded = xmp_load_module_from_memory(ctx(context_), data, static_cast<long>(size));
    if (loaded != 0) return fail(xmp_error_text(loaded));
    if (xmp_start_player(ctx(context_), rate, 0) != 0) {
        xmp_release_module(ctx(context_));
        return fail("the player could not start");
    }
    // Spline interpolation: the soundtrack's synthesised samples are played far from their recorded pitch.
    xmp_set_player(ctx(context_), XMP_PLAYER_INTERP, XMP_INTERP_SPLINE);
    loaded_ = true;
    rate_ = rate;
    frames_rendered_ = 0;
    tick_.clear();
    tick_.reserve(XMP_MAX_FRAMESIZE);  // the longest tick at the slowest tempo: no allocation on the audio thread
    tick_pos_ = 0;
    last_order_ = -1;
    last_loop_count_ = 0;
    started_ = false;
    return true;
}

void XmPlayer::restart() {
    if (!loaded_) return;
    // Ending and starting the player again resets every channel, envelope and effect memory, unlike a position jump.
    xmp_end_player(ctx(context_));
    xmp_start_player(ctx(context_), rate_, 0);
    xmp_set_player(ctx(context_), XMP_PLAYER_INTERP, XMP_INTERP_SPLINE);
    frames_rendered_ = 0;
    tick_.clear();
    tick_pos_ = 0;
    last_order_ = -1;
    last_loop_count_ = 0;
    started_ = false;
}

double XmPlayer::restart_at(int order) {
    if (!loaded_ || order < 0 || order >= order_count()) return -1;
    restart();
    if (order == 0) return 0.0;
    // libxmp knows when each order starts; it tells after playing the order's first tick, so ask, then start over.
    if (xmp_set_position(ctx(context_), order) < 0 || xmp_play_frame(ctx(context_)) != 0) {
        restart();
        return -1;
    }
    xmp_frame_info info;
    xmp_get_frame_info(ctx(context_), &info);
    const double seconds = (info.time - info.frame_time / 1000.0) / 1000.0;
    restart();
    xmp_set_position(ctx(context_), order);
    return std::max(0.0, std::round(seconds * 1000.0) / 1000.0);
}

void XmPlayer::next_tick(const EventSink& on_event) {
    tick_.clear();
    tick_pos_ = 0;
    if (xmp_play_frame(ctx(context_)) != 0) {
        // The player stopped (a song whose order list ends in nothing playable): start over from the top.
        xmp_restart_module(ctx(context_));
        if (xmp_play_frame(ctx(context_)) != 0) return;
    }
    xmp_frame_info info;
    xmp_get_frame_info(ctx(context_), &info);
    if (info.buffer != nullptr && info.buffer_size > 0) {
        const auto* samples = static_cast<const int16_t*>(info.buffer);
        tick_.assign(samples, samples + info.buffer_size / static_cast<int>(sizeof(int16_t)));
        if (tick_.size() % 2 != 0) tick_.pop_back();
    }
    // A tick whose frame counter is 0 starts a row. The order is reported when the pattern sequence moved, and also
    // when the song wrapped around onto the same order it ended on.
    if (info.frame == 0) {
        const bool wrapped = info.loop_count != last_loop_count_;
        if (!started_ || info.pos != last_order_ || wrapped) {
            if (on_event) on_event({MusicEvent::Kind::Order, info.pos & 0xff, frames_rendered_});
            last_order_ = info.pos;
        }
        if (on_event) on_event({MusicEvent::Kind::Row, info.row & 0xff, frames_rendered_});
        started_ = true;
    }
    last_loop_count_ = info.loop_count;
}

void XmPlayer::render(int16_t* out, size_t frames, const EventSink& on_event) {
    if (!loaded_) {
        std::memset(out, 0, frames * 2 * sizeof(int16_t));
        frames_rendered_ += static_cast<int64_t>(frames);
        return;
    }
    size_t done = 0;
    int empty_ticks = 0;
    while (done < frames) {
        if (tick_pos_ * 2 >= tick_.size()) {
            next_tick(on_event);
            if (tick_.empty()) {
                // A player that yields no audio at all must not hang the audio thread: pad with silence.
                if (++empty_ticks > 4) {
                    std::memset(out + done * 2, 0, (frames - done) * 2 * sizeof(int16_t));
                    frames_rendered_ += static_cast<int64_t>(frames - done);
                    return;
                }
                continue;
            }
            empty_ticks = 0;
        }
        const size_t available = tick_.size() / 2 - tick_pos_;
        const size_t n = std::min(available, frames - done);
        std::memcpy(out + done * 2, tick_.data() + tick_pos_ * 2, n * 2 * sizeof(int16_t));
        tick_pos_ += n;
        done += n;
        frames_rendered_ += static_cast<int64_t>(n);
    }
}

void XmPlayer::render_until(int64_t end_frame, std::vector<int16_t>* audio, std::vector<MusicEvent>* events) {
    if (end_frame <= frames_rendered_) return;
    const auto frames = static_cast<size_t>(end_frame - frames_rendered_);
    std::vector<int16_t> scratch;
    int16_t* out;
    if (audio) {
        const size_t old = audio->size();
        audio->resize(old + frames * 2);
        out = audio->data() + old;
    } else {
        scratch.resize(frames * 2);
        out = scratch.data();
    }
    render(out, frames, [events](const MusicEvent& e) {
        if (events) events->push_back(e);
    });
}

int XmPlayer::order_count() const {
    if (!loaded_) return 0;
    xmp_module_info mi;
    xmp_get_module_info(ctx(context_), &mi);
    return mi.mod ? mi.mod->len : 0;
}

int XmPlayer::channel_count() const {
    if (!loaded_) return 0;
    xmp_module_info mi;
    xmp_get_module_info(ctx(context_), &mi);
    return mi.mod ? mi.mod->chn : 0;
}

int XmPlayer::duration_ms() const {
    if (!loaded_) return 0;
    xmp_module_info mi;
    xmp_get_module_info(ctx(context_), &mi);
    if (mi.seq_data == nullptr || mi.num_sequences < 1) return 0;
    return mi.seq_data[0].duration;
}

}  // namespace zorbrix
