#include "io/DirectDecoder.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

#include <cmath>
#include <mutex>

namespace {

using Clock = std::chrono::steady_clock;

// As OpenCV's reader: packets of other streams, and failed decodes, are
// passed over this many times before a read gives up.
constexpr int maxOtherPackets = 4096;
constexpr int maxDecodeFailures = 64;

// Up to this many pixels per second (1920x1080 at 30 frames per second) one
// decoding thread keeps up; more threads would only add their own cost.
constexpr double oneThreadPixelRate = 1920.0 * 1080.0 * 30.0;

double ratio(AVRational r) {
    return r.num == 0 || r.den == 0 ? 0.0 : double(r.num) / double(r.den);
}

} // namespace

// The conversion to BGR of one coded size and pixel format, shared by the
// pictures that need it; swscale's context is not to be used by two threads
// at once, hence the mutex.
struct DecodedPicture::Conversion {
    Conversion(int codedWidth, int codedHeight, int format)
        : codedWidth(codedWidth), codedHeight(codedHeight), format(format),
          context(sws_getContext(codedWidth, codedHeight, AVPixelFormat(format), codedWidth, codedHeight,
                                 AV_PIX_FMT_BGR24, SWS_BICUBIC, nullptr, nullptr, nullptr)) {}
    ~Conversion() { sws_freeContext(context); }
    bool fits(int w, int h, int f) const { return w == codedWidth && h == codedHeight && f == format; }

    const int codedWidth, codedHeight, format;
    SwsContext* const context;
    std::mutex mutex;
};

SourcePackets::Stream::Stream(const AVCodecParameters* from, int timeBaseNum, int timeBaseDen, double fps)
    : parameters(avcodec_parameters_alloc()), timeBaseNum(timeBaseNum), timeBaseDen(timeBaseDen), fps(fps) {
    if (parameters != nullptr) avcodec_parameters_copy(parameters, from);
}

SourcePackets::Stream::~Stream() {
    avcodec_parameters_free(&parameters);
}

SourcePackets::SourcePackets(std::shared_ptr<const Stream> stream, std::vector<AVPacket*> packets)
    : from(std::move(stream)), held(std::move(packets)) {}

SourcePackets::~SourcePackets() {
    for (AVPacket*& packet : held) av_packet_free(&packet);
}

bool SourcePackets::holdsKeyframe() const {
    for (const AVPacket* packet : held)
        if (packet->flags & AV_PKT_FLAG_KEY) return true;
    return false;
}

size_t SourcePackets::bytes() const {
    size_t sum = 0;
    for (const AVPacket* packet : held) sum += size_t(packet->size) + sizeof(AVPacket);
    return sum;
}

DecodedPicture::DecodedPicture(AVFrame* frame, std::shared_ptr<Conversion> conversion,
                               std::shared_ptr<const SourcePackets> source)
    : frame(frame), conversion(std::move(conversion)), source(std::move(source)) {}

DecodedPicture::~DecodedPicture() {
    av_frame_free(&frame);
}

int DecodedPicture::width() const {
    return frame->width;
}

int DecodedPicture::height() const {
    return frame->height;
}

cv::Mat DecodedPicture::colour() const {
    // Converted at the coded size, as OpenCV's reader converts, so that every
    // pixel comes out the same. The row of slack takes what the vector
    // conversions may write past the last row's end.
    cv::Mat buffer(conversion->codedHeight + 1, conversion->codedWidth, CV_8UC3);
    uint8_t* const planes[4] = {buffer.data, nullptr, nullptr, nullptr};
    const int strides[4] = {int(buffer.step), 0, 0, 0};
    {
        std::lock_guard<std::mutex> lock(conversion->mutex);
        if (conversion->context == nullptr) return {};
        sws_scale(conversion->context, frame->data, frame->linesize, 0, frame->height, planes, strides);
    }
    return buffer(cv::Rect(0, 0, frame->width, frame->height));
}

cv::Mat DecodedPicture::luma() const {
    const AVPixFmtDescriptor* format = av_pix_fmt_desc_get(AVPixelFormat(frame->format));
    const auto notLuma = AV_PIX_FMT_FLAG_RGB | AV_PIX_FMT_FLAG_PAL | AV_PIX_FMT_FLAG_HWACCEL | AV_PIX_FMT_FLAG_BITSTREAM;
    if (format == nullptr || (format->flags & notLuma) != 0 || format->comp[0].plane != 0 ||
        format->comp[0].step != 1 || format->comp[0].offset != 0 || format->comp[0].depth != 8)
        return {};
    return cv::Mat(frame->height, frame->width, CV_8UC1, frame->data[0], size_t(frame->linesize[0]));
}

struct DirectDecoder::State {
    ~State() {
        for (AVPacket*& taken : packetsTaken) av_packet_free(&taken);
        av_packet_free(&packet);
        avcodec_free_context(&codec);
        avformat_close_input(&format);
    }

    static int interrupted(void* opaque) {
        const State* s = static_cast<const State*>(opaque);
        return Clock::now() > s->deadline ? 1 : 0;
    }

    bool openDecoder();
    std::shared_ptr<const DecodedPicture> picture(AVFrame* frame);

    AVFormatContext* format = nullptr;
    AVCodecContext* codec = nullptr;
    AVPacket* packet = av_packet_alloc();
    AVStream* stream = nullptr;
    Clock::time_point deadline = Clock::time_point::max();
    bool draining = false;
    int64_t pictureTime = AV_NOPTS_VALUE;
    std::shared_ptr<DecodedPicture::Conversion> conversion;
    // With packets kept: the stream, and the packets taken since the last picture.
    std::shared_ptr<const SourcePackets::Stream> source;
    std::vector<AVPacket*> packetsTaken;
};

DirectDecoder::DirectDecoder() = default;
DirectDecoder::~DirectDecoder() = default;

bool DirectDecoder::open(const std::string& name, std::chrono::milliseconds timeout, bool keepPackets) {
    auto s = std::make_unique<State>();
    s->deadline = Clock::now() + timeout;
    s->format = avformat_alloc_context();
    if (s->format == nullptr || s->packet == nullptr) return false;
    s->format->interrupt_callback = {&State::interrupted, s.get()};
    if (avformat_open_input(&s->format, name.c_str(), nullptr, nullptr) < 0) return false; // frees the context
    if (avformat_find_stream_info(s->format, nullptr) < 0) return false;
    for (unsigned i = 0; i < s->format->nb_streams && s->stream == nullptr; ++i)
        if (s->format->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_VIDEO) s->stream = s->format->streams[i];
    if (s->stream == nullptr || !s->openDecoder()) return false;
    if (keepPackets)
        s->source = std::make_shared<const SourcePackets::Stream>(
            s->stream->codecpar, s->stream->time_base.num, s->stream->time_base.den,
            ratio(av_guess_frame_rate(s->format, s->stream, nullptr)));
    s->deadline = Clock::time_point::max();
    state = std::move(s);
    return true;
}

bool DirectDecoder::State::openDecoder() {
    const AVCodec* decoder = avcodec_find_decoder(stream->codecpar->codec_id);
    if (decoder == nullptr) return false;
    codec = avcodec_alloc_context3(decoder);
    if (codec == nullptr || avcodec_parameters_to_context(codec, stream->codecpar) < 0) return false;
    const double pixelRate = double(codec->width) * codec->height * ratio(av_guess_frame_rate(format, stream, nullptr));
    codec->thread_count = pixelRate <= oneThreadPixelRate ? 1 : 0; // 0: as many as the machine has
    return avcodec_open2(codec, decoder, nullptr) >= 0;
}

int DirectDecoder::width() const {
    return state->codec->width;
}

int DirectDecoder::height() const {
    return state->codec->height;
}

double DirectDecoder::fps() const {
    return ratio(av_guess_frame_rate(state->format, state->stream, nullptr));
}

long long DirectDecoder::frameCount() const {
    if (state->stream->nb_frames != 0) return state->stream->nb_frames;
    double seconds = double(state->format->duration) / AV_TIME_BASE;
    if (seconds < 0.000025) seconds = double(state->stream->duration) * ratio(state->stream->time_base);
    return static_cast<long long>(std::floor(seconds * fps() + 0.5));
}

double DirectDecoder::position() const {
    if (state->pictureTime == AV_NOPTS_VALUE) return 0.0;
    const double seconds = double(state->pictureTime - state->stream->start_time) * ratio(state->stream->time_base);
    return seconds * 1000 / 1000.0; // through milliseconds, as OpenCV's reader reports it
}

std::shared_ptr<const DecodedPicture> DirectDecoder::read(std::chrono::milliseconds timeout) {
    State& s = *state;
    s.deadline = Clock::now() + timeout;
    AVFrame* frame = av_frame_alloc();
    int otherPackets = 0, decodeFailures = 0;
    for (;;) {
        const int received = avcodec_receive_frame(s.codec, frame);
        if (received >= 0) return s.picture(frame);
        if (s.draining) break;
        if (received != AVERROR(EAGAIN) && ++decodeFailures > maxDecodeFailures) break;
        if (av_read_frame(s.format, s.packet) < 0) {
            // The end (or a failure): what the decoder still holds comes out.
            s.draining = true;
            if (avcodec_send_packet(s.codec, nullptr) < 0) break;
            continue;
        }
        const bool ours = s.packet->stream_index == s.stream->index;
        const int sent = ours ? avcodec_send_packet(s.codec, s.packet) : 0;
        if (ours && sent >= 0 && s.source)
            if (AVPacket* kept = av_packet_clone(s.packet)) s.packetsTaken.push_back(kept);
        av_packet_unref(s.packet);
        if (!ours && ++otherPackets > maxOtherPackets) break;
        if (sent < 0 && sent != AVERROR(EAGAIN)) break;
    }
    av_frame_free(&frame);
    s.deadline = Clock::time_point::max();
    return nullptr;
}

std::shared_ptr<const DecodedPicture> DirectDecoder::State::picture(AVFrame* frame) {
    deadline = Clock::time_point::max();
    // OpenCV's reader tells no position for what the decoder gives out after
    // the last packet, and so neither does this.
    if (draining) pictureTime = AV_NOPTS_VALUE;
    else pictureTime = frame->pts != AV_NOPTS_VALUE && frame->pts != 0 ? frame->pts : frame->pkt_dts;
    if (!conversion || !conversion->fits(codec->coded_width, codec->coded_height, frame->format))
        conversion = std::make_shared<DecodedPicture::Conversion>(codec->coded_width, codec->coded_height,
                                                                  frame->format);
    std::shared_ptr<const SourcePackets> packets;
    if (source && !packetsTaken.empty()) packets = std::make_shared<const SourcePackets>(source, std::move(packetsTaken));
    packetsTaken.clear();
    return std::shared_ptr<const DecodedPicture>(new DecodedPicture(frame, conversion, std::move(packets)));
}
