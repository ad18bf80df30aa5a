// Firmware images and block frames: the image check on real files and the
// exact bytes of the frames, taken from the device's documented examples.
#include "firmware/firmware_image.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <numeric>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

using firmware::ImageFile;

struct TempDir {
    std::filesystem::path path;
    TempDir() {
        std::string pattern = (std::filesystem::temp_directory_path() / "fwimg-XXXXXX").string();
        path = ::mkdtemp(pattern.data());
    }
    ~TempDir() { std::filesystem::remove_all(path); }
    std::string write(const std::string& name, const std::string& bytes) const {
        const auto file = path / name;
        std::ofstream(file, std::ios::binary) << bytes;
        return file.string();
    }
};

std::string image(std::size_t bodySize, char version = 9) {
    std::string bytes = std::string("VXRT") + version;
    for (std::size_t i = 0; i < bodySize; ++i) {
        bytes.push_back(static_cast<char>(i * 7 + 3));
    }
    return bytes;
}

TEST(FirmwareImage, CheckOfFilesOnDisk) {
    TempDir dir;
    // The limits: 5 and 15 365 bytes pass.
    for (const std::size_t body : {std::size_t{0}, std::size_t{15360}}) {
        const ImageFile f = firmware::readImageFile(dir.write("ok.bin", image(body, '\xC8')));
        ASSERT_EQ(f.status, ImageFile::Status::Ok) << body;
        EXPECT_EQ(f.image.version, 200);
        EXPECT_EQ(f.image.body.size(), body);
        EXPECT_EQ(f.image.fileSize(), body + 5);
        if (body > 0) {
            EXPECT_EQ(f.image.body[15359], static_cast<std::uint8_t>(15359 * 7 + 3));
        }
    }
    // The three refusals: too short, too long, wrong signature.
    for (const std::string& bytes :
         {std::string("VXRT"), image(15361), "VXRt" + image(10).substr(4)}) {
        EXPECT_EQ(firmware::readImageFile(dir.write("bad.bin", bytes)).status,
                  ImageFile::Status::Invalid)
            << bytes.size();
    }
    // What cannot be read as a file at all.
    EXPECT_EQ(firmware::readImageFile((dir.path / "missing.bin").string()).status,
              ImageFile::Status::CannotOpen);
    EXPECT_EQ(firmware::readImageFile(dir.path.string()).status, ImageFile::Status::CannotOpen);
    // A pipe is no file, even with a whole image waiting in it.
    const std::string fifo = (dir.path / "image.fifo").string();
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const int writer = ::open(fifo.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(writer, 0);
    const std::string waiting = image(10);
    ASSERT_EQ(::write(writer, waiting.data(), waiting.size()),
              static_cast<ssize_t>(waiting.size()));
    EXPECT_EQ(firmware::readImageFile(fifo).status, ImageFile::Status::CannotOpen);
    ::close(writer);
}

TEST(FirmwareImage, FramesChecksumsAndProgress) {
    // 128 bytes 0x01 and 128 bytes 0xFF both sum to 0x80 modulo 256.
    for (const std::uint8_t fill : {0x01, 0xFF}) {
        const auto frame = firmware::blockFrame(std::vector<std::uint8_t>(128, fill), 0);
        EXPECT_EQ(frame[130], 0x80) << int(fill);
    }
    // The block number goes high byte first.
    std::vector<std::uint8_t> body(0x0102 * 128 + 1, 0);
    const auto far = firmware::blockFrame(body, 0x0102);
    EXPECT_EQ(far[0], 0x01);
    EXPECT_EQ(far[1], 0x02);

    // A 200-byte body: the second block carries bytes 128..199 in its first
    // 72 data bytes; the rest is 0xFF and counted in the checksum.
    body.resize(200);
    std::iota(body.begin(), body.end(), std::uint8_t{0});
    const auto second = firmware::blockFrame(body, 1);
    EXPECT_EQ(second[0], 0);
    EXPECT_EQ(second[1], 1);
    for (std::size_t i = 0; i < 128; ++i) {
        EXPECT_EQ(second[2 + i], i < 72 ? 128 + i : 0xFF) << i;
    }
    const unsigned sum = std::accumulate(body.begin() + 128, body.end(), 0u) + 56 * 0xFF;
    EXPECT_EQ(second[130], sum % 256);

    // FW_load in thousandths of the file: 499 after block 59 of the largest
    // image, never past 1000.
    EXPECT_EQ(firmware::progress(60, 15365), 499);
    EXPECT_EQ(firmware::progress(120, 15365), 999);
    EXPECT_EQ(firmware::progress(2, 205), 1000);
}

} // namespace
