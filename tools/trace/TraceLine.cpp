#include "tools/trace/TraceLine.h"

#include <cmath>

namespace {

void printFloat(std::FILE* out, const char* key, float value) {
    if (std::isfinite(value))
        std::fprintf(out, ",\"%s\":%.9g", key, double(value));
    else
        std::fprintf(out, ",\"%s\":null", key);
}

void printObject(std::FILE* out, const DetectedObject& o) {
    std::fprintf(out, "{\"x0\":%d,\"y0\":%d,\"x1\":%d,\"y1\":%d,\"pixelCount\":%d,\"intensitySum\":%d,\"label\":%d",
                 o.x0, o.y0, o.x1, o.y1, o.pixelCount, o.intensitySum, o.label);
    printFloat(out, "centroidX", o.centroidX);
    printFloat(out, "centroidY", o.centroidY);
    printFloat(out, "reserved", o.reserved);
    std::fprintf(out, ",\"objectId\":%d", o.objectId);
    printFloat(out, "velocityX", o.velocityX);
    printFloat(out, "velocityY", o.velocityY);
    std::fputc('}', out);
}

} // namespace

void printTraceLine(std::FILE* out, long long index, bool accepted, long long motionPixels,
                    const std::vector<DetectedObject>& objects) {
    std::fprintf(out, "{\"frame\":%lld,\"accepted\":%s,\"motionPixels\":%lld,\"objects\":[", index,
                 accepted ? "true" : "false", motionPixels);
    for (size_t k = 0; k < objects.size(); ++k) {
        if (k > 0) std::fputc(',', out);
        printObject(out, objects[k]);
    }
    std::fputs("]}\n", out);
}
