#include "io/MjpegAvi.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace {

constexpr uint32_t superIndexEntries = 256; // pieces of a file: 256 GiB
constexpr uint32_t hasIndexFlag = 0x10;     // AVIF_HASINDEX in the main header
constexpr uint32_t keyFrameFlag = 0x10;     // AVIIF_KEYFRAME in 'idx1'
constexpr uint8_t indexOfIndexes = 0;       // AVI_INDEX_OF_INDEXES
constexpr uint8_t indexOfChunks = 1;        // AVI_INDEX_OF_CHUNKS
constexpr uint64_t listHeader = 12;         // 'LIST', size, type (also 'RIFF')
constexpr uint64_t chunkHeader = 8;         // tag, size

void put16(std::string& b, uint32_t v) {
    b.push_back(char(v & 0xff));
    b.push_back(char((v >> 8) & 0xff));
}
void put32(std::string& b, uint32_t v) {
    put16(b, v & 0xffff);
    put16(b, v >> 16);
}
void put64(std::string& b, uint64_t v) {
    put32(b, uint32_t(v));
    put32(b, uint32_t(v >> 32));
}
void putTag(std::string& b, const char* tag) {
    b.append(tag, 4);
}
std::string le32(uint64_t v) {
    std::string b;
    put32(b, uint32_t(v));
    return b;
}

// Opens a list (or chunk) whose size is filled in by closeList().
size_t openList(std::string& b, const char* list, const char* type) {
    putTag(b, list);
    const size_t sizeAt = b.size();
    put32(b, 0);
    if (type != nullptr) putTag(b, type);
    return sizeAt;
}
void closeList(std::string& b, size_t sizeAt) {
    const std::string size = le32(b.size() - sizeAt - 4);
    b.replace(sizeAt, 4, size);
}

uint32_t get32(const unsigned char* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

bool tagIs(const unsigned char* p, const char* tag) {
    return std::memcmp(p, tag, 4) == 0;
}

// The stream's rate as the integer fraction the headers hold.
constexpr uint32_t rateScale = 1000;
uint32_t rateTimesScale(double fps) {
    return uint32_t(std::lround(fps * rateScale));
}

std::string systemError() {
    return std::strerror(errno != 0 ? errno : ENOSPC);
}

} // namespace

MjpegAviWriter::MjpegAviWriter(uint64_t riffLimit) : riffLimit(riffLimit) {}

MjpegAviWriter::~MjpegAviWriter() {
    finish();
}

bool MjpegAviWriter::open(const std::string& filePath, double framesPerSecond, cv::Size size) {
    finish();
    failure.clear();
    pieces.clear();
    largestFrame = 0;
    path = filePath;
    fps = framesPerSecond;
    frameSize = size;
    fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) {
        fail(systemError());
        return false;
    }
    if (!startPiece()) {
        ::close(fd);
        fd = -1;
        unlink(path.c_str());
        return false;
    }
    return true;
}

bool MjpegAviWriter::append(const std::vector<uchar>& jpeg) {
    if (fd < 0 || !failure.empty()) return false;
    const uint32_t size = uint32_t(jpeg.size());
    const uint64_t chunk = chunkHeader + size + (size & 1);
    Piece* piece = &pieces.back();
    const bool first = pieces.size() == 1;
    const uint64_t frames = piece->frames.size() + 1;
    const uint64_t indexes = chunkHeader + 24 + 8 * frames + (first ? chunkHeader + 16 * frames : 0);
    if (!piece->frames.empty() && piece->end + chunk + indexes - piece->start > riffLimit) {
        if (!closePiece(*piece) || !startPiece()) return false;
        piece = &pieces.back();
    }
    std::string bytes;
    bytes.reserve(chunk);
    putTag(bytes, "00dc");
    put32(bytes, size);
    bytes.append(reinterpret_cast<const char*>(jpeg.data()), jpeg.size());
    if (size & 1) bytes.push_back('\0');
    if (!writeAt(piece->end, bytes)) {
        // Nothing of a frame that is not whole stays in the file.
        if (ftruncate(fd, off_t(piece->end)) != 0) fail(systemError());
        return false;
    }
    piece->frames.push_back({piece->end, size});
    piece->end += chunk;
    largestFrame = std::max(largestFrame, size);
    return true;
}

long long MjpegAviWriter::finish() {
    if (fd < 0) return 0;
    long long frames = finishPieces();
    if (frames > 0 && fdatasync(fd) != 0) fail(systemError());
    struct stat status {};
    const bool deleted = fstat(fd, &status) == 0 && status.st_nlink == 0;
    ::close(fd);
    fd = -1;
    if (deleted) {
        failure = "it was deleted while it was written";
        return 0;
    }
    if (frames == 0) unlink(path.c_str());
    return frames;
}

// A new piece at the end of the file; the first holds the headers, which
// finish() writes again with the counts.
bool MjpegAviWriter::startPiece() {
    if (pieces.size() == superIndexEntries) {
        fail("the clip is too long for one file");
        return false;
    }
    const bool first = pieces.empty();
    Piece piece;
    piece.start = first ? 0 : pieces.back().closedEnd;
    std::string bytes;
    openList(bytes, "RIFF", first ? "AVI " : "AVIX");
    if (first) bytes += headerList();
    piece.movi = piece.start + bytes.size();
    openList(bytes, "LIST", "movi");
    piece.end = piece.start + bytes.size();
    if (!writeAt(piece.start, bytes)) {
        if (ftruncate(fd, off_t(piece.start)) != 0) fail(systemError());
        return false;
    }
    pieces.push_back(piece);
    return true;
}

std::string MjpegAviWriter::headerList() const {
    const uint32_t width = uint32_t(frameSize.width);
    const uint32_t height = uint32_t(frameSize.height);
    uint32_t total = 0;
    for (const Piece& piece : pieces) total += uint32_t(piece.frames.size());
    const uint32_t firstFrames = pieces.empty() ? 0 : uint32_t(pieces[0].frames.size());
    const uint32_t bufferSize = largestFrame + chunkHeader;

    std::string b;
    const size_t hdrl = openList(b, "LIST", "hdrl");
    const size_t avih = openList(b, "avih", nullptr);
    put32(b, uint32_t(std::lround(1e6 / fps)));
    put32(b, 0); // bytes per second
    put32(b, 0); // padding
    put32(b, hasIndexFlag);
    put32(b, firstFrames); // the first piece's, as old readers count
    put32(b, 0);           // initial frames
    put32(b, 1);           // streams
    put32(b, bufferSize);
    put32(b, width);
    put32(b, height);
    for (int i = 0; i < 4; ++i) put32(b, 0);
    closeList(b, avih);

    const size_t strl = openList(b, "LIST", "strl");
    const size_t strh = openList(b, "strh", nullptr);
    putTag(b, "vids");
    putTag(b, "MJPG");
    put32(b, 0); // flags
    put16(b, 0); // priority
    put16(b, 0); // language
    put32(b, 0); // initial frames
    put32(b, rateScale);
    put32(b, rateTimesScale(fps));
    put32(b, 0); // start
    put32(b, total);
    put32(b, bufferSize);
    put32(b, 0xffffffff); // default quality
    put32(b, 0);          // sample size: varies
    put16(b, 0);
    put16(b, 0);
    put16(b, width);
    put16(b, height);
    closeList(b, strh);
    const size_t strf = openList(b, "strf", nullptr);
    put32(b, 40);
    put32(b, width);
    put32(b, height);
    put16(b, 1);  // planes
    put16(b, 24); // bits per pixel once decoded
    putTag(b, "MJPG");
    put32(b, width * height * 3);
    for (int i = 0; i < 4; ++i) put32(b, 0);
    closeList(b, strf);
    // The super index: where each piece's standard index is.
    const size_t indx = openList(b, "indx", nullptr);
    uint32_t closed = 0;
    for (const Piece& piece : pieces) closed += piece.indexSize > 0;
    put16(b, 4);
    b.push_back(0);
    b.push_back(char(indexOfIndexes));
    put32(b, closed);
    putTag(b, "00dc");
    for (int i = 0; i < 3; ++i) put32(b, 0);
    for (uint32_t i = 0; i < superIndexEntries; ++i) {
        const bool used = i < closed;
        put64(b, used ? pieces[i].index : 0);
        put32(b, used ? pieces[i].indexSize : 0);
        put32(b, used ? uint32_t(pieces[i].frames.size()) : 0);
    }
    closeList(b, indx);
    closeList(b, strl);

    const size_t odml = openList(b, "LIST", "odml");
    const size_t dmlh = openList(b, "dmlh", nullptr);
    put32(b, total);
    b.append(244, '\0');
    closeList(b, dmlh);
    closeList(b, odml);
    closeList(b, hdrl);
    return b;
}

bool MjpegAviWriter::writeHeader() {
    return writeAt(listHeader, headerList());
}

// Writes the piece's standard index after its frames (and, for the first,
// the old index after its list of frames) and the sizes that cover them.
bool MjpegAviWriter::closePiece(Piece& piece) {
    const uint32_t frames = uint32_t(piece.frames.size());
    std::string tail;
    putTag(tail, "ix00");
    put32(tail, 24 + 8 * frames);
    put16(tail, 2);
    tail.push_back(0);
    tail.push_back(char(indexOfChunks));
    put32(tail, frames);
    putTag(tail, "00dc");
    put64(tail, piece.start);
    put32(tail, 0);
    for (const Frame& frame : piece.frames) {
        put32(tail, uint32_t(frame.chunk + chunkHeader - piece.start));
        put32(tail, frame.size);
    }
    const uint32_t indexSize = uint32_t(tail.size());
    if (&piece == &pieces.front()) {
        putTag(tail, "idx1");
        put32(tail, 16 * frames);
        for (const Frame& frame : piece.frames) {
            putTag(tail, "00dc");
            put32(tail, keyFrameFlag);
            put32(tail, uint32_t(frame.chunk - (piece.movi + chunkHeader)));
            put32(tail, frame.size);
        }
    }
    const uint64_t closedEnd = piece.end + tail.size();
    if (!writeAt(piece.end, tail) || !writeAt(piece.start + 4, le32(closedEnd - piece.start - chunkHeader)) ||
        !writeAt(piece.movi + 4, le32(piece.end + indexSize - piece.movi - chunkHeader)))
        return false;
    piece.index = piece.end;
    piece.indexSize = indexSize;
    piece.closedEnd = closedEnd;
    return true;
}

long long MjpegAviWriter::finishPieces() {
    for (;;) {
        Piece& piece = pieces.back();
        if (piece.frames.empty()) {
            if (pieces.size() == 1) return 0;
            pieces.pop_back(); // cut off below; the one before was closed when it began
            continue;
        }
        if (closePiece(piece)) break;
        // No room for the indexes: give up the last frame and try again.
        piece.end = piece.frames.back().chunk;
        piece.frames.pop_back();
        piece.indexSize = 0;
        if (ftruncate(fd, off_t(piece.end)) != 0) return 0;
    }
    if (ftruncate(fd, off_t(pieces.back().closedEnd)) != 0 || !writeHeader()) {
        fail(systemError());
        return 0;
    }
    long long frames = 0;
    for (const Piece& piece : pieces) frames += (long long)piece.frames.size();
    return frames;
}

bool MjpegAviWriter::writeAt(uint64_t offset, const std::string& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        errno = 0;
        const ssize_t n = pwrite(fd, bytes.data() + done, bytes.size() - done, off_t(offset + done));
        if (n > 0) {
            done += size_t(n);
        } else if (!(n < 0 && errno == EINTR)) {
            fail(systemError());
            return false;
        }
    }
    return true;
}

void MjpegAviWriter::fail(const std::string& why) {
    if (failure.empty()) failure = why;
}

namespace {

// Reads an AVI file from its descriptor.
class AviReader {
public:
    explicit AviReader(int fd) : fd(fd) {
        struct stat status {};
        size = fstat(fd, &status) == 0 ? uint64_t(status.st_size) : 0;
    }

    uint64_t fileSize() const { return size; }

    bool read(uint64_t at, void* into, size_t n) const {
        return at + n <= size && pread(fd, into, n, off_t(at)) == ssize_t(n);
    }

    // The rate and size from the headers, and where the frames begin.
    bool readLayout(double& fps, cv::Size& frameSize, uint64_t& frames) const {
        unsigned char riff[12];
        if (!read(0, riff, 12) || !tagIs(riff, "RIFF") || !tagIs(riff + 8, "AVI ")) return false;
        uint64_t headers = 0, headersEnd = 0;
        for (uint64_t at = listHeader; read(at, riff, 12);) {
            const uint32_t bytes = get32(riff + 4);
            if (tagIs(riff, "LIST") && tagIs(riff + 8, "movi")) {
                frames = at + listHeader;
                return readHeaders(headers, headersEnd, fps, frameSize);
            }
            if (tagIs(riff, "LIST") && tagIs(riff + 8, "hdrl")) {
                headers = at + listHeader;
                headersEnd = at + chunkHeader + bytes;
            }
            at += chunkHeader + bytes + (bytes & 1);
        }
        return false;
    }

    // The next whole JPEG frame from `at` on, stepping into lists and over
    // other chunks; false at the end or at the first chunk cut short,
    // missing or not a whole JPEG.
    bool nextFrame(uint64_t& at, uint64_t& frame, uint32_t& frameBytes) const {
        unsigned char chunk[8];
        while (read(at, chunk, 8)) {
            const uint32_t bytes = get32(chunk + 4);
            if (tagIs(chunk, "RIFF") || tagIs(chunk, "LIST")) {
                at += listHeader;
                continue;
            }
            if (!isTag(chunk) || at + chunkHeader + bytes > size) return false;
            const uint64_t data = at + chunkHeader;
            at = data + bytes + (bytes & 1);
            if (tagIs(chunk, "00dc") || tagIs(chunk, "00db")) {
                unsigned char start[2], end[2];
                if (bytes < 4 || !read(data, start, 2) || !read(data + bytes - 2, end, 2)) return false;
                if (start[0] != 0xff || start[1] != 0xd8 || end[0] != 0xff || end[1] != 0xd9) return false;
                frame = data;
                frameBytes = bytes;
                return true;
            }
        }
        return false;
    }

private:
    static bool isTag(const unsigned char* p) {
        for (int i = 0; i < 4; ++i)
            if (p[i] < ' ' || p[i] > '~') return false;
        return true;
    }

    bool readHeaders(uint64_t from, uint64_t to, double& fps, cv::Size& frameSize) const {
        unsigned char chunk[64];
        uint32_t microseconds = 0, rate = 0, scale = 0;
        for (uint64_t at = from; at < to && read(at, chunk, 8);) {
            const uint32_t bytes = get32(chunk + 4);
            if (tagIs(chunk, "LIST")) {
                at += listHeader; // into the stream's list
                continue;
            }
            if (tagIs(chunk, "avih") && bytes >= 40 && read(at + 8, chunk + 8, 40)) {
                microseconds = get32(chunk + 8);
                frameSize = cv::Size(int(get32(chunk + 40)), int(get32(chunk + 44)));
            } else if (tagIs(chunk, "strh") && bytes >= 32 && read(at + 8, chunk + 8, 32) && tagIs(chunk + 8, "vids")) {
                scale = get32(chunk + 28);
                rate = get32(chunk + 32);
            }
            at += chunkHeader + bytes + (bytes & 1);
        }
        fps = rate > 0 && scale > 0 ? double(rate) / scale : microseconds > 0 ? 1e6 / microseconds : 0.0;
        return fps > 0.0 && frameSize.width > 0 && frameSize.height > 0;
    }

    const int fd;
    uint64_t size = 0;
};

// Copies every whole frame the reader finds into a new file at temporary.
long long copyFrames(const AviReader& reader, const std::string& temporary, std::string& error) {
    double fps = 0.0;
    cv::Size frameSize;
    uint64_t at = 0;
    if (!reader.readLayout(fps, frameSize, at)) {
        error = "it is not a Motion-JPEG AVI file";
        return -1;
    }
    MjpegAviWriter writer;
    if (!writer.open(temporary, fps, frameSize)) {
        error = writer.error();
        return -1;
    }
    std::vector<uchar> jpeg;
    uint64_t frame = 0;
    uint32_t bytes = 0;
    while (reader.nextFrame(at, frame, bytes)) {
        jpeg.resize(bytes);
        if (!reader.read(frame, jpeg.data(), bytes) || !writer.append(jpeg)) break;
    }
    const long long frames = writer.finish();
    if (!writer.error().empty()) {
        error = writer.error();
        unlink(temporary.c_str());
        return -1;
    }
    return frames;
}

} // namespace

long long repairMjpegAvi(const std::string& path, std::string& error) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        error = systemError();
        return -1;
    }
    const AviReader reader(fd);
    // Cut off before its headers were written: nothing to play.
    const long long frames = reader.fileSize() < listHeader ? 0 : copyFrames(reader, path + ".repair", error);
    ::close(fd);
    if (frames == 0) {
        unlink(path.c_str());
    } else if (frames > 0 && rename((path + ".repair").c_str(), path.c_str()) != 0) {
        error = systemError();
        unlink((path + ".repair").c_str());
        return -1;
    }
    return frames;
}
