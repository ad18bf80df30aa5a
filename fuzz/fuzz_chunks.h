// The input layout the chunk-fed fuzz targets share: one byte of flags, then
// chunks, each a 16-bit little-endian length and that many bytes (the last
// one cut to what is left). Each chunk is handed over in a buffer of exactly
// its size, so that a read past it is caught.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

template <typename F> void forEachChunk(const std::uint8_t* data, std::size_t size, F&& onChunk) {
    std::size_t pos = 1; // after the flags
    while (pos < size) {
        std::size_t length = data[pos];
        if (pos + 1 < size) {
            length |= std::size_t{data[pos + 1]} << 8;
        }
        pos += 2;
        if (pos > size) {
            break;
        }
        if (length > size - pos) {
            length = size - pos;
        }
        const std::vector<std::uint8_t> chunk(data + pos, data + pos + length);
        pos += length;
        onChunk(chunk);
    }
}
