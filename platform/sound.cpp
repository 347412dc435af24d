#include "platform/sound.h"

#include "platform/sound_sdl.h"
#include "platform/xm_player.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

struct FMUSIC_MODULE {
    zorbrix::XmPlayer player;
    // Set on the main thread, read on the reporting thread.
    std::atomic<FMUSIC_CALLBACK> order_callback{nullptr};
    std::atomic<int> order_step{1};
    std::atomic<FMUSIC_CALLBACK> row_callback{nullptr};
    std::atomic<int> row_step{1};
    bool playing = false;
    std::atomic<int> order{-1};
    std::atomic<int> row{-1};
};

namespace {

int64_t now_ns() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// An order or row change waiting for its first sample to reach the speaker.
struct PendingEvent {
    FMUSIC_MODULE* song;
    zorbrix::MusicEvent event;
    int64_t due_ns;  // steady-clock time at which the change is heard
};

// The changes rendered ahead of what is heard, in the order they play. The audio thread appends (without
// allocating: the ring is made once); the reporter thread fires each one when it is due.
class EventSchedule {
public:
    static constexpr size_t kCapacity = 4096;  // several seconds of rows at any tempo a module can set

    void start();
    void stop();
    // Audio thread. A change that finds the ring full fires at once: early rather than lost.
    bool push(const PendingEvent& e) {
        std::lock_guard<std::mutex> lock(mutex_);
        if (count_ == ring_.size()) return false;
        ring_[(head_ + count_) % ring_.size()] = e;
        ++count_;
        wake_.notify_one();
        return true;
    }
    // Forgets the song's waiting changes; once this returns none of them fires (a firing in progress finishes
    // first, as firing holds the lock).
    void drop(const FMUSIC_MODULE* song);

private:
    void run();

    std::mutex mutex_;
    std::condition_variable wake_;
    std::vector<PendingEvent> ring_;
    size_t head_ = 0, count_ = 0;
    bool stopping_ = false;
    std::thread thread_;
};

// The layer's mixer, handed to the backend it runs on.
class Mixer : public zorbrix::SoundSource {
public:
    void fill(int16_t* out, size_t frames, bool real_time) override;
};

struct SoundState {
    bool initialised = false;
    std::unique_ptr<zorbrix::SoundBackend> backend;
    Mixer mixer;
    int rate = 44100;
    int64_t latency_ns = 0;        // from the end of an audio callback to its buffer's first sample being heard
    double latency_override = -1;  // seconds; negative: the device's own estimate
    std::vector<std::unique_ptr<FMUSIC_MODULE>> songs;  // guarded by the device lock while the device runs
    std::vector<int16_t> scratch;                       // a second song's frames, mixed into the first's
    EventSchedule schedule;
    zorbrix::BufferObserver observer = nullptr;
    void* observer_data = nullptr;
};

SoundState g_sound;

void fire(FMUSIC_MODULE* song, const zorbrix::MusicEvent& e) {
    if (e.kind == zorbrix::MusicEvent::Kind::Order) {
        song->order.store(e.value, std::memory_order_relaxed);
        const FMUSIC_CALLBACK callback = song->order_callback.load();
        if (callback && e.value % song->order_step.load() == 0) callback(song, static_cast<unsigned char>(e.value));
    } else {
        song->row.store(e.value, std::memory_order_relaxed);
        const FMUSIC_CALLBACK callback = song->row_callback.load();
        if (callback && e.value % song->row_step.load() == 0) callback(song, static_cast<unsigned char>(e.value));
    }
}

void EventSchedule::start() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (thread_.joinable()) return;
    ring_.assign(kCapacity, PendingEvent{});
    head_ = count_ = 0;
    stopping_ = false;
    thread_ = std::thread([this] { run(); });
}

void EventSchedule::stop() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
        wake_.notify_one();
    }
    if (thread_.joinable()) thread_.join();
    count_ = 0;
}

void EventSchedule::drop(const FMUSIC_MODULE* song) {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<PendingEvent> kept;
    kept.reserve(count_);
    for (size_t i = 0; i < count_; ++i) {
        const PendingEvent& e = ring_[(head_ + i) % ring_.size()];
        if (e.song != song) kept.push_back(e);
    }
    head_ = 0;
    count_ = kept.size();
    std::copy(kept.begin(), kept.end(), ring_.begin());
}

void EventSchedule::run() {
    std::unique_lock<std::mutex> lock(mutex_);
    while (!stopping_) {
        if (count_ == 0) {
            wake_.wait(lock);
            continue;
        }
        const PendingEvent e = ring_[head_];
        const int64_t wait = e.due_ns - now_ns();
        if (wait > 0) {
            wake_.wait_for(lock, std::chrono::nanoseconds(wait));
            continue;  // woken early, or a song was dropped: look again
        }
        head_ = (head_ + 1) % ring_.size();
        --count_;
        fire(e.song, e.event);
    }
}

// Renders each playing song tick by tick into out (on the backend's audio thread, or on the caller's offline).
// Offline, the events of a tick fire as its first frame is copied into the buffer. In real time they are scheduled
// for the moment that frame is heard: `heard_ns` is when the buffer's first frame reaches the speaker. Several
// playing songs are summed with saturation.
void mix_songs(int16_t* out, size_t frames, int64_t heard_ns = -1) {
    bool first = true;
    for (auto& owned : g_sound.songs) {
        FMUSIC_MODULE* song = owned.get();
        if (!song->playing) continue;
        const int64_t buffer_start = song->player.frames_rendered();
        auto sink = [song, heard_ns, buffer_start](const zorbrix::MusicEvent& e) {
            if (heard_ns < 0) {
                fire(song, e);
                return;
            }
            const int64_t due = heard_ns + (e.frame - buffer_start) * 1000000000LL / g_sound.rate;
            if (!g_sound.schedule.push({song, e, due})) fire(song, e);
        };
        if (first) {
            song->player.render(out, frames, sink);
            first = false;
            continue;
        }
        if (g_sound.scratch.size() < frames * 2) continue;  // never allocate on the audio thread
        song->player.render(g_sound.scratch.data(), frames, sink);
        for (size_t i = 0; i < frames * 2; ++i) {
            const int sum = out[i] + g_sound.scratch[i];
            out[i] = static_cast<int16_t>(std::clamp(sum, -32768, 32767));
        }
    }
    if (first) std::memset(out, 0, frames * 2 * sizeof(int16_t));
}

void Mixer::fill(int16_t* out, size_t frames, bool real_time) {
    if (!real_time) {
        // On the owner's thread: the scratch buffer may grow to what is asked.
        if (g_sound.scratch.size() < frames * 2) g_sound.scratch.resize(frames * 2);
        mix_songs(out, frames);
        return;
    }
    // The buffer filled now is heard once the device has played what it already holds.
    const int64_t called = now_ns();
    const int64_t heard = called + g_sound.latency_ns;
    const int64_t first_frame = g_sound.songs.empty() ? 0 : g_sound.songs.front()->player.frames_rendered();
    mix_songs(out, frames, heard);
    if (g_sound.observer) g_sound.observer(g_sound.observer_data, called, heard, first_frame, static_cast<int>(frames));
}

bool known(FMUSIC_MODULE* module) {
    if (module == nullptr) return false;
    return std::any_of(g_sound.songs.begin(), g_sound.songs.end(),
                       [module](const auto& s) { return s.get() == module; });
}

// Holds the backend's audio thread off while the songs or their callbacks change.
class DeviceLock {
public:
    DeviceLock() {
        if (g_sound.backend) g_sound.backend->lock();
    }
    ~DeviceLock() {
        if (g_sound.backend) g_sound.backend->unlock();
    }
    DeviceLock(const DeviceLock&) = delete;
    DeviceLock& operator=(const DeviceLock&) = delete;
};

bool set_callback(FMUSIC_MODULE* module, FMUSIC_CALLBACK callback, int step, bool order) {
    if (!known(module) || step < 1) return false;
    DeviceLock lock;
    if (order) {
        module->order_callback = callback;
        module->order_step = step;
    } else {
        module->row_callback = callback;
        module->row_step = step;
    }
    return true;
}

void update_pause() {
    if (!g_sound.backend) return;
    const bool any = std::any_of(g_sound.songs.begin(), g_sound.songs.end(), [](const auto& s) { return s->playing; });
    g_sound.backend->set_paused(!any);
}

}  // namespace

bool FSOUND_Init(int rate, int /*channels*/, unsigned /*flags*/) {
    if (g_sound.initialised) return true;
    if (rate < zorbrix::kSoundMinRate || rate > zorbrix::kSoundMaxRate) return false;
    // No device: the silent backend takes the audio at the real-time rate and discards it, so the music position
    // advances exactly as it would with sound.
    return zorbrix::sound_init(rate, std::make_unique<zorbrix::DeviceSoundBackend>()) ||
           zorbrix::sound_init(rate, std::make_unique<zorbrix::SilentSoundBackend>());
}

void FSOUND_Close() {
    if (!g_sound.initialised) return;
    g_sound.backend->close();  // once this returns, no audio thread runs
    g_sound.schedule.stop();
    g_sound.songs.clear();
    g_sound.scratch.clear();
    g_sound.backend.reset();
    g_sound.initialised = false;
}

FMUSIC_MODULE* FMUSIC_LoadSongMemory(void* data, int length) {
    if (!g_sound.initialised || data == nullptr || length <= 0) return nullptr;
    auto song = std::make_unique<FMUSIC_MODULE>();
    if (!song->player.load(data, static_cast<size_t>(length), g_sound.rate)) return nullptr;
    FMUSIC_MODULE* handle = song.get();
    DeviceLock lock;
    g_sound.songs.push_back(std::move(song));
    return handle;
}

bool FMUSIC_FreeSong(FMUSIC_MODULE* module) {
    if (!known(module)) return false;
    {
        DeviceLock lock;
        g_sound.schedule.drop(module);
        auto it = std::find_if(g_sound.songs.begin(), g_sound.songs.end(),
                               [module](const auto& s) { return s.get() == module; });
        g_sound.songs.erase(it);
    }
    update_pause();
    return true;
}

bool FMUSIC_SetOrderCallback(FMUSIC_MODULE* module, FMUSIC_CALLBACK callback, int step) {
    return set_callback(module, callback, step, true);
}

bool FMUSIC_SetRowCallback(FMUSIC_MODULE* module, FMUSIC_CALLBACK callback, int step) {
    return set_callback(module, callback, step, false);
}

bool FMUSIC_PlaySong(FMUSIC_MODULE* module) { return zorbrix::sound_play_song_from(module, 0) >= 0; }

bool FMUSIC_StopSong(FMUSIC_MODULE* module) {
    if (!known(module)) return false;
    {
        DeviceLock lock;
        module->playing = false;
        g_sound.schedule.drop(module);
    }
    update_pause();
    return true;
}

int FMUSIC_GetOrder(FMUSIC_MODULE* module) {
    if (!known(module) || !module->playing) return -1;
    return module->order.load(std::memory_order_relaxed);
}

int FMUSIC_GetRow(FMUSIC_MODULE* module) {
    if (!known(module) || !module->playing) return -1;
    return module->row.load(std::memory_order_relaxed);
}

namespace zorbrix {
bool sound_init(int rate, std::unique_ptr<SoundBackend> backend) {
    if (g_sound.initialised || !backend) return false;
    if (rate < kSoundMinRate || rate > kSoundMaxRate) return false;
    g_sound.rate = rate;
    if (!backend->open(rate, g_sound.mixer)) return false;
    g_sound.backend = std::move(backend);
    // Mixing a second song never allocates on the audio thread: the scratch buffer holds the largest buffer asked.
    g_sound.scratch.assign(static_cast<size_t>(std::max(g_sound.backend->buffer_frames(), 1024)) * 4, 0);
    g_sound.latency_ns = g_sound.latency_override >= 0 ? static_cast<int64_t>(g_sound.latency_override * 1e9)
                                                       : g_sound.backend->latency_ns();
    g_sound.schedule.start();
    g_sound.initialised = true;
    return true;
}

const char* sound_driver_name() {
    if (!g_sound.initialised) return nullptr;
    return g_sound.backend->driver_name();
}

double sound_play_song_from(FMUSIC_MODULE* module, int order) {
    if (!known(module)) return -1;
    double seconds;
    {
        DeviceLock lock;
        g_sound.schedule.drop(module);
        seconds = module->player.restart_at(order);
        if (seconds < 0) return -1;
        module->order.store(-1, std::memory_order_relaxed);
        module->row.store(-1, std::memory_order_relaxed);
        module->playing = true;
    }
    update_pause();
    return seconds;
}

double sound_order_time(FMUSIC_MODULE* module, int order) {
    if (!known(module) || module->playing) return -1;
    DeviceLock lock;
    const double seconds = module->player.restart_at(order);
    module->player.restart();
    return seconds;
}

double sound_output_latency() {
    if (!g_sound.initialised) return -1;
    return static_cast<double>(g_sound.latency_ns) / 1e9;
}

void sound_set_output_latency(double seconds) {
    g_sound.latency_override = seconds;
    if (g_sound.initialised) {
        DeviceLock lock;
        g_sound.latency_ns = seconds >= 0 ? static_cast<int64_t>(seconds * 1e9) : g_sound.latency_ns;
    }
}

void sound_set_buffer_observer(BufferObserver observer, void* data) {
    DeviceLock lock;
    g_sound.observer = observer;
    g_sound.observer_data = data;
}

bool sound_render_offline(int16_t* out, int frames) {
    if (!g_sound.initialised) return false;
    return g_sound.backend->render(out, frames);
}
}  // namespace zorbrix
