#include "io/FragmentedMp4Writer.h"

#include <opencv2/core.hpp>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/imgutils.h>
#include <libavutil/opt.h>
#include <libswscale/swscale.h>
}

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <fstream>
#include <optional>
#include <sstream>

namespace {

// x264's fastest preset, on one thread so that the detector keeps the other
// cores: a recording camera's processor time goes mostly into encoding (at
// 1920x1080, 9 ms a frame against 36 for "veryfast"). The quality step
// keeps such a clip at about 30 MB per minute of full motion at 1920x1080
// 10 fps, and a few MB for a usual event.
constexpr const char* encoderPreset = "ultrafast";
constexpr const char* encoderQuality = "26"; // x264's constant rate factor

std::string describe(int averror) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(averror, text, sizeof text);
    return text;
}

int even(int n) {
    return n + (n & 1);
}

// A fragment's header lists its frames; more than this is no header of ours.
constexpr uint64_t maxFragmentHeader = 16 << 20;

uint64_t bigEndian(const unsigned char* bytes, int count) {
    uint64_t value = 0;
    for (int i = 0; i < count; ++i) value = value << 8 | bytes[i];
    return value;
}

// Flushes a file written through another descriptor to the disk.
void syncFile(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return;
    fdatasync(fd);
    ::close(fd);
}

// Prefers x264; any other H.264 encoder the library was built with will do.
const AVCodec* findH264Encoder() {
    const AVCodec* codec = avcodec_find_encoder_by_name("libx264");
    return codec != nullptr ? codec : avcodec_find_encoder(AV_CODEC_ID_H264);
}

} // namespace

struct FragmentedMp4Writer::Encoder {
    AVFormatContext* format = nullptr;
    AVCodecContext* codec = nullptr;
    AVStream* stream = nullptr;
    SwsContext* converter = nullptr;
    AVFrame* picture = nullptr;
    AVPacket* packet = nullptr;
    cv::Size frameSize;
    long long frames = 0;

    ~Encoder() {
        av_packet_free(&packet);
        av_frame_free(&picture);
        sws_freeContext(converter);
        avcodec_free_context(&codec);
        if (format != nullptr) avio_closep(&format->pb);
        avformat_free_context(format);
    }

    // Sets up everything; "" on success, else what failed.
    std::string open(const std::string& path, double fps, cv::Size size);

    // Hands a frame (or, with null, the end) to the encoder and writes every
    // packet it gives back; "" on success.
    std::string encode(const AVFrame* frame);

    std::string convert(const cv::Mat& bgr);

    // The muxer's side, shared by both kinds of file.
    std::string startFile(const std::string& path);

    // Copying the source's packets: the file is made with the first
    // keyframe, which brings the stream.
    std::string startCopy(const std::string& path, std::shared_ptr<const SourcePackets::Stream> from);
    std::string copy(const SourcePackets& packets, const std::string& path);

    bool copying = false;
    std::shared_ptr<const SourcePackets::Stream> source; // null until the first keyframe
    AVRational sourceTimeBase{1, 1};
    int64_t frameTicks = 1; // one frame period in the source's time base
    int64_t firstDts = AV_NOPTS_VALUE, lastDts = AV_NOPTS_VALUE;
};

std::string FragmentedMp4Writer::Encoder::open(const std::string& path, double fps, cv::Size size) {
    frameSize = size;
    const AVCodec* h264 = findH264Encoder();
    if (h264 == nullptr) return "no H.264 encoder in this FFmpeg";
    int status = avformat_alloc_output_context2(&format, nullptr, "mp4", path.c_str());
    if (status < 0) return describe(status);
    codec = avcodec_alloc_context3(h264);
    stream = avformat_new_stream(format, nullptr);
    packet = av_packet_alloc();
    picture = av_frame_alloc();
    if (codec == nullptr || stream == nullptr || packet == nullptr || picture == nullptr) return "out of memory";

    codec->width = even(size.width);
    codec->height = even(size.height);
    codec->pix_fmt = AV_PIX_FMT_YUV420P;
    codec->time_base = av_inv_q(av_d2q(fps, 100000));
    codec->framerate = av_d2q(fps, 100000);
    // A keyframe every second at the latest: each fragment starts with one.
    codec->gop_size = std::max(1, static_cast<int>(std::lround(fps)));
    codec->thread_count = 1;
    codec->color_range = AVCOL_RANGE_MPEG;
    codec->colorspace = AVCOL_SPC_SMPTE170M;
    if (format->oformat->flags & AVFMT_GLOBALHEADER) codec->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    av_opt_set(codec->priv_data, "preset", encoderPreset, 0);
    av_opt_set(codec->priv_data, "crf", encoderQuality, 0);
    // The encoder's report (its options, its statistics) is not for the
    // program's standard error, whatever FFmpeg's log level: failures come
    // back as results.
    codec->log_level_offset = AV_LOG_TRACE;
    if ((status = avcodec_open2(codec, h264, nullptr)) < 0) return "cannot open the encoder: " + describe(status);
    if ((status = avcodec_parameters_from_context(stream->codecpar, codec)) < 0) return describe(status);
    stream->time_base = codec->time_base;

    picture->format = codec->pix_fmt;
    picture->width = codec->width;
    picture->height = codec->height;
    if ((status = av_frame_get_buffer(picture, 0)) < 0) return describe(status);
    converter = sws_getContext(codec->width, codec->height, AV_PIX_FMT_BGR24, codec->width, codec->height,
                               codec->pix_fmt, SWS_BILINEAR, nullptr, nullptr, nullptr);
    if (converter == nullptr) return "cannot convert BGR to YUV 4:2:0";

    return startFile(path);
}

std::string FragmentedMp4Writer::Encoder::startFile(const std::string& path) {
    int status = avio_open(&format->pb, path.c_str(), AVIO_FLAG_WRITE);
    if (status < 0) return describe(status);
    // Every finished fragment goes to the file at once, not when a buffer fills.
    format->flags |= AVFMT_FLAG_FLUSH_PACKETS;
    AVDictionary* options = nullptr;
    av_dict_set(&options, "movflags", "frag_keyframe+empty_moov+default_base_moof", 0);
    // A camera's keyframes may be seconds apart; a fragment still ends
    // after a second, so that a clip cut short loses no more.
    if (source) av_dict_set(&options, "frag_duration", "1000000", 0);
    status = avformat_write_header(format, &options);
    av_dict_free(&options);
    return status < 0 ? describe(status) : "";
}

std::string FragmentedMp4Writer::Encoder::startCopy(const std::string& path,
                                                     std::shared_ptr<const SourcePackets::Stream> from) {
    source = std::move(from);
    sourceTimeBase = AVRational{source->timeBaseNum, source->timeBaseDen};
    const double fps = source->fps > 0.0 ? source->fps : 25.0;
    frameTicks = std::max<int64_t>(1, std::llround(1.0 / fps / av_q2d(sourceTimeBase)));
    int status = avformat_alloc_output_context2(&format, nullptr, "mp4", path.c_str());
    if (status < 0) return describe(status);
    stream = avformat_new_stream(format, nullptr);
    if (stream == nullptr || source->parameters == nullptr) return "out of memory";
    if ((status = avcodec_parameters_copy(stream->codecpar, source->parameters)) < 0) return describe(status);
    stream->codecpar->codec_tag = 0; // the MP4's own tag for the codec, not the source container's
    stream->time_base = sourceTimeBase;
    return startFile(path);
}

// The packets go into the file as they are; only their timestamps move, so
// that the clip starts at 0. A copy starts at a keyframe (what comes before
// one cannot be decoded on its own); packets without timestamps get one
// frame period each, and packets of a source opened again (another stream)
// or that go back in time are left out.
std::string FragmentedMp4Writer::Encoder::copy(const SourcePackets& packets, const std::string& path) {
    for (const AVPacket* in : packets.packets()) {
        if (!source) {
            if (!(in->flags & AV_PKT_FLAG_KEY)) continue;
            if (std::string failure = startCopy(path, packets.stream()); !failure.empty()) return failure;
        }
        if (packets.stream() != source) return "";
        int64_t dts = in->dts != AV_NOPTS_VALUE ? in->dts : in->pts;
        int64_t pts = in->pts != AV_NOPTS_VALUE ? in->pts : dts;
        if (dts == AV_NOPTS_VALUE) pts = dts = lastDts == AV_NOPTS_VALUE ? 0 : lastDts + frameTicks;
        if (lastDts != AV_NOPTS_VALUE && dts <= lastDts) continue;
        if (firstDts == AV_NOPTS_VALUE) firstDts = dts;
        lastDts = dts;
        if (av_packet_ref(packet, in) < 0) return "out of memory";
        packet->pts = pts - firstDts;
        packet->dts = dts - firstDts;
        if (packet->duration <= 0) packet->duration = frameTicks;
        av_packet_rescale_ts(packet, sourceTimeBase, stream->time_base);
        packet->stream_index = stream->index;
        const int status = av_interleaved_write_frame(format, packet); // takes the packet's data
        if (status < 0) return describe(status);
        ++frames;
    }
    return "";
}

std::string FragmentedMp4Writer::Encoder::convert(const cv::Mat& bgr) {
    if (bgr.type() != CV_8UC3 || bgr.size() != frameSize) return "frame of another size or type";
    cv::Mat padded = bgr;
    if (bgr.cols != codec->width || bgr.rows != codec->height)
        cv::copyMakeBorder(bgr, padded, 0, codec->height - bgr.rows, 0, codec->width - bgr.cols, cv::BORDER_REPLICATE);
    const int status = av_frame_make_writable(picture);
    if (status < 0) return describe(status);
    const uint8_t* planes[1] = {padded.data};
    const int strides[1] = {static_cast<int>(padded.step[0])};
    sws_scale(converter, planes, strides, 0, padded.rows, picture->data, picture->linesize);
    picture->pts = frames;
    return "";
}

std::string FragmentedMp4Writer::Encoder::encode(const AVFrame* frame) {
    int status = avcodec_send_frame(codec, frame);
    if (status < 0) return describe(status);
    while ((status = avcodec_receive_packet(codec, packet)) >= 0) {
        if (packet->duration == 0) packet->duration = 1; // one frame: the fragment's end is then known
        av_packet_rescale_ts(packet, codec->time_base, stream->time_base);
        packet->stream_index = stream->index;
        status = av_interleaved_write_frame(format, packet); // takes the packet's data
        if (status < 0) return describe(status);
    }
    return status == AVERROR(EAGAIN) || status == AVERROR_EOF ? "" : describe(status);
}

FragmentedMp4Writer::FragmentedMp4Writer() = default;

FragmentedMp4Writer::~FragmentedMp4Writer() {
    close();
}

bool FragmentedMp4Writer::open(const std::string& filePath, double fps, cv::Size frameSize) {
    close();
    lastError.clear();
    path = filePath;
    if (!(fps > 0.0) || frameSize.width <= 0 || frameSize.height <= 0) {
        lastError = "invalid frame rate or size";
        return false;
    }
    encoder = std::make_unique<Encoder>();
    lastError = encoder->open(path, fps, frameSize);
    if (lastError.empty()) return true;
    encoder.reset();
    unlink(path.c_str());
    return false;
}

bool FragmentedMp4Writer::openCopy(const std::string& filePath) {
    close();
    lastError.clear();
    path = filePath;
    encoder = std::make_unique<Encoder>();
    encoder->copying = true;
    encoder->packet = av_packet_alloc();
    if (encoder->packet != nullptr) return true;
    lastError = "out of memory";
    encoder.reset();
    return false;
}

bool FragmentedMp4Writer::write(const SourcePackets& packets) {
    if (!encoder || !encoder->copying || !lastError.empty()) return false;
    lastError = encoder->copy(packets, path);
    return lastError.empty();
}

bool FragmentedMp4Writer::isOpen() const {
    return encoder != nullptr;
}

bool FragmentedMp4Writer::write(const cv::Mat& bgr) {
    if (!encoder || encoder->copying || !lastError.empty()) return false;
    std::string failure = encoder->convert(bgr);
    if (failure.empty()) failure = encoder->encode(encoder->picture);
    if (!failure.empty()) {
        lastError = failure;
        return false;
    }
    ++encoder->frames;
    return true;
}

long long FragmentedMp4Writer::close() {
    if (!encoder) return 0;
    // The frames the encoder still holds go out even after a failure: what
    // the file takes of them is counted below.
    const std::string flushed = encoder->copying ? "" : encoder->encode(nullptr);
    if (lastError.empty()) lastError = flushed;
    const int status = encoder->format != nullptr ? av_write_trailer(encoder->format) : 0;
    if (status < 0 && lastError.empty()) lastError = describe(status);
    long long frames = encoder->frames;
    encoder.reset(); // closes the file
    struct stat file {};
    if (stat(path.c_str(), &file) != 0) {
        if (lastError.empty()) lastError = "it was deleted while it was written";
        return 0;
    }
    if (lastError.empty()) {
        syncFile(path);
    } else {
        // What the failure left: the whole fragments before it.
        std::string ignored;
        frames = std::max(0LL, repairFragmentedMp4(path, ignored));
    }
    if (frames == 0) unlink(path.c_str());
    return frames;
}

namespace {

struct Box {
    uint64_t start = 0; // of its header
    uint64_t size = 0;  // header included
    uint64_t header = 0;
    std::string type;
};

// The box at `at` of a file `end` bytes long; nothing when it does not fit.
std::optional<Box> readBox(std::istream& in, uint64_t at, uint64_t end) {
    unsigned char bytes[16];
    if (at + 8 > end || !in.seekg(static_cast<std::streamoff>(at)) || !in.read(reinterpret_cast<char*>(bytes), 8))
        return std::nullopt;
    Box box{at, bigEndian(bytes, 4), 8, std::string(reinterpret_cast<char*>(bytes) + 4, 4)};
    if (box.size == 1) { // a 64-bit size follows
        if (at + 16 > end || !in.read(reinterpret_cast<char*>(bytes) + 8, 8)) return std::nullopt;
        box.size = bigEndian(bytes + 8, 8);
        box.header = 16;
    } else if (box.size == 0) { // up to the end of the file
        box.size = end - at;
    }
    if (box.size < box.header || box.size > end - at) return std::nullopt;
    return box;
}

// The samples (frames) a movie fragment's track runs hold: each 'trun' in
// each 'traf' gives its count after its version and flags.
uint64_t fragmentSamples(const std::string& moof) {
    uint64_t samples = 0;
    std::istringstream in(moof);
    std::optional<Box> traf;
    for (uint64_t at = 0; (traf = readBox(in, at, moof.size())); at += traf->size) {
        if (traf->type != "traf") continue;
        const uint64_t end = traf->start + traf->size;
        std::optional<Box> trun;
        for (uint64_t inner = traf->start + traf->header; (trun = readBox(in, inner, end)); inner += trun->size) {
            unsigned char count[4];
            if (trun->type == "trun" && trun->size >= trun->header + 8 &&
                in.seekg(static_cast<std::streamoff>(trun->start + trun->header + 4)) &&
                in.read(reinterpret_cast<char*>(count), 4))
                samples += bigEndian(count, 4);
        }
        in.clear();
    }
    return samples;
}

} // namespace

long long repairFragmentedMp4(const std::string& path, std::string& error) {
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    if (!in) {
        error = std::strerror(errno);
        return -1;
    }
    const uint64_t end = static_cast<uint64_t>(in.tellg());
    uint64_t at = 0;
    uint64_t wholeEnd = 0; // after the movie header or the last whole fragment
    uint64_t pendingSamples = 0;
    bool moov = false;
    bool fragmentOpen = false;
    long long frames = 0;
    std::optional<Box> box;
    for (; (box = readBox(in, at, end)); at += box->size) {
        if (at == 0 && box->type != "ftyp") break;
        if (box->type == "moov") {
            moov = true;
            wholeEnd = at + box->size;
        } else if (box->type == "moof" && box->size <= maxFragmentHeader) {
            std::string moof(box->size - box->header, '\0');
            in.seekg(static_cast<std::streamoff>(at + box->header));
            if (!in.read(moof.data(), static_cast<std::streamsize>(moof.size()))) break;
            pendingSamples = fragmentSamples(moof);
            fragmentOpen = true;
        } else if (box->type == "mdat" && fragmentOpen) {
            frames += static_cast<long long>(pendingSamples);
            wholeEnd = at + box->size;
            fragmentOpen = false;
        }
    }
    if (!moov) {
        error = "not a fragmented MP4";
        return -1;
    }
    if (frames == 0) {
        unlink(path.c_str());
        return 0;
    }
    // A box cut short, or a fragment header without its frames: cut there.
    if ((at < end || fragmentOpen) && truncate(path.c_str(), static_cast<off_t>(wholeEnd)) != 0) {
        error = std::strerror(errno);
        return -1;
    }
    return frames;
}
