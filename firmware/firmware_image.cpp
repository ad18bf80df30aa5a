#include "firmware/firmware_image.h"

#include <algorithm>
#include <filesystem>
#include <fstream>

namespace firmware {

std::optional<Image> checkImage(const std::uint8_t* bytes, std::size_t count) {
    if (count < kHeaderSize || count > kMaxImageSize || bytes == nullptr ||
        !std::equal(kSignature.begin(), kSignature.end(), bytes)) {
        return std::nullopt;
    }
    Image image;
    image.version = bytes[4];
    image.body.assign(bytes + kHeaderSize, bytes + count);
    return image;
}

ImageFile readImageFile(const std::string& path) {
    ImageFile result;
    // The path is UTF-8 (on Windows too, where a plain string would be taken
    // in the ANSI code page). A folder, and a pipe or device that could keep
    // the read waiting, are no image.
    const std::filesystem::path file(std::u8string(path.begin(), path.end()));
    std::error_code ec;
    if (!std::filesystem::is_regular_file(file, ec)) {
        return result;
    }
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        return result;
    }
    // One byte more than an image may have tells a file that is too long,
    // whatever the file system says of its size.
    std::vector<std::uint8_t> bytes(kMaxImageSize + 1);
    in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    const std::size_t got = static_cast<std::size_t>(in.gcount());
    if (in.bad()) {
        return result;
    }
    if (auto image = checkImage(bytes.data(), got)) {
        result.status = ImageFile::Status::Ok;
        result.image = std::move(*image);
    } else {
        result.status = ImageFile::Status::Invalid;
    }
    return result;
}

BlockFrame blockFrame(const std::vector<std::uint8_t>& body, std::uint16_t number) {
    BlockFrame frame;
    frame[0] = static_cast<std::uint8_t>(number >> 8);
    frame[1] = static_cast<std::uint8_t>(number & 0xFF);
    const std::size_t start = std::size_t{number} * kBlockSize;
    const std::size_t take = start < body.size() ? std::min(kBlockSize, body.size() - start) : 0;
    std::fill(frame.begin() + 2, frame.begin() + 2 + kBlockSize, kPadByte);
    if (take > 0) {
        std::copy_n(body.begin() + static_cast<std::ptrdiff_t>(start), take, frame.begin() + 2);
    }
    unsigned sum = 0;
    for (std::size_t i = 2; i < 2 + kBlockSize; ++i) {
        sum += frame[i];
    }
    frame[kFrameSize - 1] = static_cast<std::uint8_t>(sum & 0xFF);
    return frame;
}

int progress(std::uint32_t blocksSent, std::uint32_t fileSize) {
    if (fileSize == 0) {
        return 0;
    }
    const std::uint64_t share = std::uint64_t{blocksSent} * 128000u / fileSize;
    return static_cast<int>(std::min<std::uint64_t>(share, 1000));
}

} // namespace firmware
