// Firmware images (.bin) and the block frames they are sent in.
//
// An image is the four letters "VXRT", one version byte and a body of 0 to
// 15 360 bytes (at most 120 blocks of 128). Nothing else in the file is
// examined; the body carries no checksum of its own.
//
// The bootloader takes the body in numbered 128-byte blocks, each in a
// 131-byte frame: the block number high byte first, the 128 data bytes and
// their sum modulo 256. Two bytes 0xFF 0xFF (block number 0xFFFF, no data)
// end the programming.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace firmware {

inline constexpr std::string_view kSignature = "VXRT";
inline constexpr std::size_t kHeaderSize = 5; // signature and version byte
inline constexpr std::size_t kBlockSize = 128;
inline constexpr std::size_t kMaxBlocks = 120;
inline constexpr std::size_t kMaxBodySize = kMaxBlocks * kBlockSize;     // 15 360
inline constexpr std::size_t kMaxImageSize = kHeaderSize + kMaxBodySize; // 15 365
inline constexpr std::size_t kFrameSize = 2 + kBlockSize + 1;            // 131
// The data bytes of a last block that the body does not fill: the value of
// erased flash, so that the padding programs nothing.
inline constexpr std::uint8_t kPadByte = 0xFF;

// A checked image, held whole in memory from the check until programming
// ends: what is programmed can never change under the exchange, whatever
// happens to the file.
struct Image {
    std::uint8_t version = 0;
    std::vector<std::uint8_t> body;
    // The size of the file, header included (the progress is counted
    // against it).
    std::uint32_t fileSize() const { return static_cast<std::uint32_t>(kHeaderSize + body.size()); }
    std::size_t blockCount() const { return (body.size() + kBlockSize - 1) / kBlockSize; }
};

// The image in `bytes` (the whole file), or nothing when the file is not an
// image: shorter than 5 bytes, longer than 15 365 or without the signature.
std::optional<Image> checkImage(const std::uint8_t* bytes, std::size_t count);

// Reading an image file.
struct ImageFile {
    enum class Status {
        Ok,
        CannotOpen, // missing, unreadable, not a regular file, or a read that failed
        Invalid     // not an image (see checkImage)
    };
    Status status = Status::CannotOpen;
    Image image; // when Ok
};
// Reads the file at `path` (in the file system's encoding) with the one read
// of a whole file (files/file_io): a folder, a device or a pipe is refused
// rather than read or waited on, and a file longer than an image is Invalid
// without being read all.
ImageFile readImageFile(const std::string& path);

using BlockFrame = std::array<std::uint8_t, kFrameSize>;

// The frame of block `number`: data bytes number * 128 ... number * 128 + 127
// of `body`; where the body ends first, the rest of the data bytes are
// kPadByte. The checksum covers all 128 data bytes as sent.
BlockFrame blockFrame(const std::vector<std::uint8_t>& body, std::uint16_t number);

// The end marker after the last block.
inline constexpr std::array<std::uint8_t, 2> kEndMarker = {0xFF, 0xFF};

// The progress bar's position after `blocksSent` blocks of an image file of `fileSize` bytes, in
// thousandths: blocksSent * 128000 / fileSize, at most 1000.
int progress(std::uint32_t blocksSent, std::uint32_t fileSize);

} // namespace firmware
