#pragma once
// The video backdrop: an .nvd file (header, then one record per coded frame) played in a loop. Frames are
// decoded strictly in file order; asking for an earlier frame restarts decoding from the first record.
//
// .nvd layout (little-endian): frame count (int32), width (int32), height (int32), frames per second (float32),
// then frame count records of a 32-bit length L followed by L bytes of one coded frame.
#include <cstdint>

namespace zorbrix {

class VideoStream {
public:
    VideoStream() = default;
    ~VideoStream();
    VideoStream(const VideoStream&) = delete;
    VideoStream& operator=(const VideoStream&) = delete;

    // Loads the file and initialises the decoder for 32-bit output. A missing or malformed file gives a stream of
    // 0 x 0 without frames (returns false); frame_at then delivers nothing. The picture size is the stream's own
    // (its layer header in the first record) when the file header disagrees with it; a size the decoder does not
    // take (not a multiple of 16, over 720 x 576) is refused like a malformed file.
    bool open(const char* name, int postproc_level);
    // Writes the frame for the time into dst (width x height pixels 0x00RRGGBB, bottom picture row first).
    // Always returns 1.
    int frame_at(uint32_t* dst, float seconds);
    // Decodes the next record into dst and moves on; returns the decoder's result.
    int decode_next(uint32_t* dst);
    // Releases the decoder and the buffers; safe to call twice.
    void close();

    int width() const { return width_; }
    int height() const { return height_; }
    int frame_count() const { return frame_count_; }
    float fps() const { return fps_; }
    // Records decoded since open (for tests and tools).
    long decoded_records() const { return decoded_records_; }
    // True when the file header's size disagreed with the stream's and the stream's was taken.
    bool size_corrected() const { return size_corrected_; }
    // The handle of this stream's own decoder (video/decoder.h), for callers that send it further options, such
    // as another output format. Any number of streams play side by side, each with its decoder.
    void* decoder_handle() const { return handle_; }

private:
    int width_ = 0;
    int height_ = 0;
    float fps_ = 0.0f;
    int frame_count_ = 0;
    int postproc_level_ = 0;
    unsigned char* file_ = nullptr;
    int file_size_ = 0;
    const unsigned char* first_record_ = nullptr;
    const unsigned char* next_record_ = nullptr;
    uint32_t* frame_cache_ = nullptr;
    int cached_index_ = -1;
    void* handle_ = this;  // names this stream's decoder
    bool decoder_ready_ = false;
    long decoded_records_ = 0;
    bool size_corrected_ = false;
};

// Parses an .nvd image in memory: header values and whether every record lies inside it. Shared by VideoStream
// and nvdtool.
struct NvdInfo {
    int frame_count = 0;
    int width = 0;
    int height = 0;
    float fps = 0.0f;
    bool valid = false;        // header present and every record inside the data
    int complete_records = 0;  // records that lie wholly inside the data
};
NvdInfo inspect_nvd(const unsigned char* data, long size);

}  // namespace zorbrix
