// The part of a file a Range header asks for, so that browsers can seek in
// clips. One range is served (as 206 with Content-Range); a list of ranges
// gets the whole file, which the standard allows, and a header that is not
// a byte range is ignored the same way.
#pragma once

#include <string>

struct ByteRange {
    enum Kind { Whole, Part, Unsatisfiable } kind = Whole;
    size_t first = 0; // Part: the bytes first..last, both included
    size_t last = 0;
};

// header: the Range header's value ("" when absent); size: the file's.
ByteRange byteRangeOf(const std::string& header, size_t size);
