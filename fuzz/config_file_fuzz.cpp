// Fuzz target over the .fcd reader: any bytes, read as a configuration file,
// must be refused with a message or give a block and 650 rows (only a file
// that ends with a line end can); rows that are read must save again, or be
// refused naming a row; a saved file must read back to the same rows, and
// the same file cut short anywhere behind its section header is refused as
// incomplete.
#include "files/config_file.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

int fuzzConfigFile(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    config_file::DecodeError error;
    const auto decoded = config_file::decode(bytes, &error);
    if (!decoded) {
        if (error.reason.empty()) {
            std::abort(); // a refusal always says why
        }
        return 0;
    }
    if (decoded->rows.size() != 650 || !bytes.ends_with('\n') ||
        std::string_view(reinterpret_cast<const char*>(decoded->block.data()), 68) !=
            bytes.substr(0, 68)) {
        std::abort();
    }
    MemoryNumberGrid grid;
    config_file::fillGrid(*decoded, grid);
    const auto saved = config_file::encode(decoded->block, grid);
    if (!saved.ok()) {
        if (saved.error->find("Строка ") != 0) {
            std::abort();
        }
        return 0;
    }
    const auto again = config_file::decode(saved.bytes, &error);
    if (!again || again->block != decoded->block) {
        std::abort();
    }
    const std::size_t head = config_file::kHeadSize + config_file::kSectionHeader.size();
    const std::string_view cut =
        std::string_view(saved.bytes).substr(0, head + size % (saved.bytes.size() - head));
    if (config_file::decode(cut, &error) ||
        error.kind != config_file::DecodeError::Kind::Incomplete) {
        std::abort();
    }
    // Texts with outer blanks or quotes lose them on the way; the rest come back.
    for (std::size_t i = 0; i < 650; ++i) {
        for (int col = 0; col < 2; ++col) {
            const std::string& was = decoded->rows[i][static_cast<std::size_t>(col)];
            const std::string& is = again->rows[i][static_cast<std::size_t>(col)];
            const bool plain =
                was.empty() || (was.front() != ' ' && was.back() != ' ' && was.front() != '\t' &&
                                was.back() != '\t' && was.front() != '"' && was.front() != '\'' &&
                                was.back() != '\v' && was.back() != '\f' && was.front() != '\v' &&
                                was.front() != '\f');
            if (plain && was.size() <= 2047 && was != is) {
                std::abort();
            }
        }
    }
    return 0;
}

#ifdef VXRT7_FUZZ_MAIN
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    return fuzzConfigFile(data, size);
}
#endif
