#include "web/ByteRange.h"

#include <cstdlib>

namespace {

// Digits only (no sign, no space), not too many to fit.
bool parseNumber(const std::string& text, size_t& value) {
    if (text.empty() || text.size() > 18 || text.find_first_not_of("0123456789") != std::string::npos) return false;
    value = std::strtoull(text.c_str(), nullptr, 10);
    return true;
}

} // namespace

ByteRange byteRangeOf(const std::string& header, size_t size) {
    const std::string unit = "bytes=";
    if (header.compare(0, unit.size(), unit) != 0 || header.find(',') != std::string::npos) return {};
    const std::string bounds = header.substr(unit.size());
    const size_t dash = bounds.find('-');
    if (dash == std::string::npos) return {};
    const std::string from = bounds.substr(0, dash);
    const std::string to = bounds.substr(dash + 1);
    size_t first = 0;
    size_t last = 0;
    if (from.empty()) { // the last `to` bytes
        if (!parseNumber(to, last)) return {};
        if (last == 0 || size == 0) return {ByteRange::Unsatisfiable};
        return {ByteRange::Part, size - std::min(last, size), size - 1};
    }
    if (!parseNumber(from, first) || (!to.empty() && !parseNumber(to, last))) return {};
    if (!to.empty() && last < first) return {};
    if (first >= size) return {ByteRange::Unsatisfiable};
    return {ByteRange::Part, first, to.empty() ? size - 1 : std::min(last, size - 1)};
}
