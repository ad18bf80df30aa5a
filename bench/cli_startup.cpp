// vxrt7-cli from start to exit: `--version`, and two jobs on full number
// lists (diff of two configuration files with 650 numbers each, and an
// import of 650 CSV lines into an empty file). Each run's wall time from just
// before posix_spawn to wait4, and its peak memory (ru_maxrss); /bin/true
// started the same way shows the floor of both: a spawned child's ru_maxrss
// counts the pages of this program it was spawned from. The peak memory of
// the tool alone comes from /usr/bin/time (its "%M", as `time -v` shows it),
// which starts it from a small process. One warm-up run, then N runs of
// each; median and [min..max].
#include "bench/spawn_quiet.h"
#include "files/config_file.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

struct Sample {
    double ms;
    long maxRssKiB;
};

Sample runOnce(const std::vector<std::string>& args) {
    const SpawnedRun run = spawnQuiet(args);
    return {run.ms, run.maxRssKiB};
}

// The largest "%M" of /usr/bin/time over five runs, in KiB; -1 without it.
long timePeakKiB(const std::string& dir, const std::vector<std::string>& args) {
    if (::access("/usr/bin/time", X_OK) != 0) {
        return -1;
    }
    const std::string out = dir + "/time.out";
    std::vector<std::string> timed{"/usr/bin/time", "-f", "%M", "-o", out};
    timed.insert(timed.end(), args.begin(), args.end());
    long peak = -1;
    for (int i = 0; i < 5; ++i) {
        runOnce(timed);
        // The figure is the last word: a non-zero exit (diff's 1) adds a line before it.
        std::ifstream in(out);
        std::string word;
        long kib = -1;
        while (in >> word) {
            kib = std::atol(word.c_str());
        }
        peak = std::max(peak, kib);
    }
    ::unlink(out.c_str());
    return peak;
}

void report(const char* name, const std::vector<std::string>& args, int runs,
            const std::string& dir) {
    runOnce(args); // warm-up: the program's pages in the page cache
    std::vector<double> ms;
    std::vector<long> rss;
    for (int i = 0; i < runs; ++i) {
        const Sample s = runOnce(args);
        ms.push_back(s.ms);
        rss.push_back(s.maxRssKiB);
    }
    std::sort(ms.begin(), ms.end());
    std::sort(rss.begin(), rss.end());
    std::printf("%-34s %6.2f ms [%.2f..%.2f]  ru_maxrss %.2f MiB [%.2f..%.2f]  time %%M %.2f MiB\n",
                name, ms[ms.size() / 2], ms.front(), ms.back(), rss[rss.size() / 2] / 1024.0,
                rss.front() / 1024.0, rss.back() / 1024.0, timePeakKiB(dir, args) / 1024.0);
}

void write(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

} // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 50;
    char dirTemplate[] = "/tmp/vxrt7-cli-bench-XXXXXX";
    const std::string dir = ::mkdtemp(dirTemplate);

    MemoryNumberGrid grid;
    std::string csv;
    for (int row = 1; row <= NumberGrid::kRows; ++row) {
        const std::string number = "+7916" + std::to_string(1000000 + row);
        grid.setCell(NumberGrid::kNumberColumn, row, number);
        grid.setCell(NumberGrid::kApartmentColumn, row, std::to_string(row));
        csv += std::to_string(row) + ";" + number + "\r\n";
    }
    const ConfigBlock::Bytes block{};
    write(dir + "/a.fcd", config_file::encode(block, grid).bytes);
    grid.setCell(NumberGrid::kNumberColumn, 325, "+79160000000");
    write(dir + "/b.fcd", config_file::encode(block, grid).bytes);
    write(dir + "/empty.fcd", config_file::encode(block, MemoryNumberGrid{}).bytes);
    write(dir + "/list.csv", csv);

    double load[3] = {};
    ::getloadavg(load, 3);
    std::printf("load average %.2f %.2f %.2f, %d runs each\n", load[0], load[1], load[2], runs);
    const std::string cli = VXRT7_CLI_PATH;
    report("/bin/true", {"/bin/true"}, runs, dir);
    report("vxrt7-cli --version", {cli, "--version"}, runs, dir);
    report("vxrt7-cli diff (650 numbers each)", {cli, "diff", dir + "/a.fcd", dir + "/b.fcd"}, runs,
           dir);
    report(
        "vxrt7-cli numbers import (650)",
        {cli, "numbers", "import", dir + "/list.csv", dir + "/empty.fcd", "-o", dir + "/out.fcd"},
        runs, dir);
    ::getloadavg(load, 3);
    std::printf("load average %.2f %.2f %.2f\n", load[0], load[1], load[2]);
    for (const char* name : {"a.fcd", "b.fcd", "empty.fcd", "list.csv", "out.fcd"}) {
        ::unlink((dir + "/" + name).c_str());
    }
    ::rmdir(dir.c_str());
    return 0;
}
