#pragma once
// The song player under the sound layer: an XM module played from memory by libxmp, rendered tick by tick into
// 16-bit stereo frames. Every tick that starts a row (and, when the pattern changes, an order) is reported with the
// exact output frame at which its first sample lies, so the same player serves the live audio device and offline
// rendering (the capture tool places every row change on the right video frame).

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace zorbrix {

struct MusicEvent {
    enum class Kind {
        Order,
        Row
    };
    Kind kind;
    int value;      // the new order (position in the pattern sequence) or row, 0..255
    int64_t frame;  // output frame (one left/right pair) at which the tick starts, counted from the song's start
};

class XmPlayer {
public:
    XmPlayer();
    ~XmPlayer();
    XmPlayer(const XmPlayer&) = delete;
    XmPlayer& operator=(const XmPlayer&) = delete;

    // Parses the module (the bytes are copied; the caller may free them afterwards) and prepares playback from the
    // start at the given output rate. False, with a reason in *error when given, on data libxmp cannot read.
    bool load(const void* data, size_t size, int rate = 44100, std::string* error = nullptr);
    bool loaded() const { return loaded_; }

    // Back to order 0, row 0, frame counter 0.
    void restart();
    // Back to the first row of order `order`, frame counter 0: the song plays on from there. Returns the time in
    // seconds at which that order starts when the song is played from its beginning (to the millisecond), or -1,
    // changing nothing, for an order the song does not have.
    double restart_at(int order);

    // Writes exactly `frames` stereo frames (interleaved left, right) into out. Each row or order change whose tick
    // starts inside this stretch is passed to on_event, in play order, before the call returns; order changes come
    // before the row of the same tick. The song repeats at its end. Without a loaded song the output is silence.
    using EventSink = std::function<void(const MusicEvent&)>;
    void render(int16_t* out, size_t frames, const EventSink& on_event);

    // Convenience for offline use: renders up to (not including) the absolute frame `end_frame`, appending the audio
    // to *audio (may be null) and the events to *events (may be null). Does nothing when already past end_frame.
    void render_until(int64_t end_frame, std::vector<int16_t>* audio, std::vector<MusicEvent>* events);

    int64_t frames_rendered() const { return frames_rendered_; }
    int rate() const { return rate_; }

    // What libxmp reports about the loaded module: the number of orders, the channel count, the estimated length of
    // one pass through the song in milliseconds.
    int order_count() const;
    int channel_count() const;
    int duration_ms() const;

private:
    void next_tick(const EventSink& on_event);

    char* context_ = nullptr;  // xmp_context
    bool loaded_ = false;
    int rate_ = 44100;
    int64_t frames_rendered_ = 0;
    std::vector<int16_t> tick_;  // the current tick's frames
    size_t tick_pos_ = 0;        // frames of tick_ already handed out
    int last_order_ = -1;
    int last_loop_count_ = 0;
    bool started_ = false;
};

}  // namespace zorbrix
