// How long a configuration file with a full list of 650 rows takes to save
// and to load, and a CSV import of 10 000 lines, each at 1x, 4x and 16x its
// input, so that growth beyond linear shows.
//
// - save: the file built from the block and the grid, then written through a
//   temporary file that is flushed to disk (fsync) and renamed; "build" is
//   the part before the disk;
// - load: the file read whole, parsed and put into the grid;
// - CSV import: the file read whole and imported into an empty list (650
//   rows written, the other lines only counted); 4x and 16x have 40 000 and
//   160 000 lines.
// At 4x and 16x the .fcd cells hold 4 and 16 times as many characters. The
// grid is the core's in-memory grid, not the window's table.
//
// Run: build/bin/config_files [runs]   (default 41; about 10 s)
#include "config/config_block.h"
#include "files/config_file.h"
#include "files/csv_numbers.h"
#include "files/file_io.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double medianMs(int runs, const std::function<void()>& work) {
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        const auto start = Clock::now();
        work();
        times.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

void fillGrid(MemoryNumberGrid& grid, int scale) {
    for (int row = 1; row <= 650; ++row) {
        std::string number;
        std::string apartment;
        for (int k = 0; k < scale; ++k) {
            number += std::to_string(9000000000LL + row * 7919LL + k);
            apartment += std::to_string(1000 + row % 9000);
        }
        grid.setCell(1, row, number);
        grid.setCell(2, row, apartment.substr(0, std::string::size_type(3 * scale)));
    }
}

std::string csvText(int lines) {
    std::string text;
    for (int i = 0; i < lines; ++i) {
        text += std::to_string(i % 500) + ";" + std::to_string(8000000000LL + i) + "\r\n";
    }
    return text;
}

void die(const char* what) {
    std::fprintf(stderr, "config_files: %s\n", what);
    std::exit(1);
}

} // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 41;
    char templ[] = "/tmp/vxrt7-bench-XXXXXX";
    if (::mkdtemp(templ) == nullptr) {
        die("no temporary folder");
    }
    const std::string dir = templ;
    ConfigBlock block;
    block.password = 1234;
    block.pulseMs = 5000;
    const auto blockBytes = block.encode();

    std::printf("median of %d runs, milliseconds; folder %s\n\n", runs, dir.c_str());
    std::printf("%-6s %10s %10s %10s %10s %12s %12s\n", "input", "fcd bytes", "build", "save",
                "load", "csv lines", "csv import");
    for (const int scale : {1, 4, 16}) {
        MemoryNumberGrid grid;
        fillGrid(grid, scale);
        const std::string path = dir + "/config.fcd";
        std::size_t size = 0;
        const double build = medianMs(runs, [&] {
            const auto file = config_file::encode(blockBytes, grid);
            size = file.bytes.size();
        });
        const double save = medianMs(runs, [&] {
            const auto file = config_file::encode(blockBytes, grid);
            file_io::FileError error;
            if (!file.ok() || !file_io::writeFileAtomically(path, file.bytes, &error)) {
                die("save failed");
            }
        });
        const double load = medianMs(runs, [&] {
            file_io::FileError error;
            const auto bytes = file_io::readWholeFile(path, config_file::kMaxFileSize, &error);
            config_file::DecodeError why;
            const auto decoded = bytes ? config_file::decode(*bytes, &why) : std::nullopt;
            if (!decoded) {
                die("load failed");
            }
            MemoryNumberGrid into;
            config_file::fillGrid(*decoded, into);
        });

        const int lines = 10000 * scale;
        const std::string csvPath = dir + "/numbers.csv";
        {
            file_io::FileError error;
            if (!file_io::writeFileAtomically(csvPath, csvText(lines), &error)) {
                die("cannot write the CSV file");
            }
        }
        const double import = medianMs(std::max(1, runs / 2), [&] {
            file_io::FileError error;
            const auto bytes = file_io::readWholeFile(csvPath, csv_numbers::kMaxFileSize, &error);
            MemoryNumberGrid into;
            const auto result = csv_numbers::importCsv(bytes.value_or(""), into);
            if (result.imported != 650 || result.notFitting != lines - 650) {
                die("import gave other counts");
            }
        });
        std::printf("%-6s %10zu %10.3f %10.3f %10.3f %12d %12.3f\n",
                    (std::to_string(scale) + "x").c_str(), size, build, save, load, lines, import);
    }
    std::filesystem::remove_all(dir);
    std::printf("\ntargets: save and load of the 1x file <= 2 ms, CSV import of 10 000 lines "
                "<= 20 ms\n");
    return 0;
}
