#include "firmware/firmware_image.h"

#include "files/file_io.h"

#include <algorithm>
#include <cerrno>
#include <utility>

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
    file_io::FileError error;
    // A file longer than an image is refused without reading it all.
    const std::optional<std::string> bytes = file_io::readWholeFile(path, kMaxImageSize, &error);
    if (!bytes) {
        if (error.code == EFBIG) {
            result.status = ImageFile::Status::Invalid;
        }
        return result;
    }
    if (auto image =
            checkImage(reinterpret_cast<const std::uint8_t*>(bytes->data()), bytes->size())) {
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
