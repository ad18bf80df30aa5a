#include "files/config_diff.h"

#include <algorithm>
#include <map>

namespace config_diff {

namespace {

using Rows = std::vector<std::array<std::string, 2>>;

// The entries of a list by number, each number's rows in ascending order.
std::map<std::string, std::vector<Entry>> entriesByNumber(const Rows& rows) {
    std::map<std::string, std::vector<Entry>> byNumber;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        if (!rows[i][0].empty()) {
            byNumber[rows[i][0]].push_back({rows[i][0], static_cast<int>(i + 1), rows[i][1]});
        }
    }
    return byNumber;
}

bool byRow(const Entry& a, const Entry& b) {
    return a.row < b.row;
}

} // namespace

Result compare(const config_file::Decoded& first, const config_file::Decoded& second) {
    Result result;
    result.settings = config_fields::differences(first.block, second.block);

    auto inFirst = entriesByNumber(first.rows);
    auto inSecond = entriesByNumber(second.rows);
    for (auto& [number, olds] : inFirst) {
        auto found = inSecond.find(number);
        std::vector<Entry> news;
        if (found != inSecond.end()) {
            news = std::move(found->second);
            inSecond.erase(found);
        }
        // Rows that hold the number in both lists pair up first.
        std::vector<Entry> oldLeft;
        for (const Entry& old : olds) {
            const auto same = std::find_if(news.begin(), news.end(),
                                           [&](const Entry& e) { return e.row == old.row; });
            if (same == news.end()) {
                oldLeft.push_back(old);
                continue;
            }
            if (same->apartment != old.apartment) {
                result.moved.push_back({number, old, *same});
            }
            news.erase(same);
        }
        const std::size_t paired = std::min(oldLeft.size(), news.size());
        for (std::size_t i = 0; i < paired; ++i) {
            result.moved.push_back({number, oldLeft[i], news[i]});
        }
        result.removed.insert(result.removed.end(), oldLeft.begin() + paired, oldLeft.end());
        result.added.insert(result.added.end(), news.begin() + paired, news.end());
    }
    for (auto& [number, news] : inSecond) {
        result.added.insert(result.added.end(), news.begin(), news.end());
    }
    std::sort(result.added.begin(), result.added.end(), byRow);
    std::sort(result.removed.begin(), result.removed.end(), byRow);
    std::sort(result.moved.begin(), result.moved.end(),
              [](const Moved& a, const Moved& b) { return a.from.row < b.from.row; });
    return result;
}

} // namespace config_diff
