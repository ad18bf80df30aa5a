#include "app/log_stamps.h"

#include <QPlainTextEdit>
#include <QTextBlock>
#include <QTextDocument>

namespace {

struct Stamp : QTextBlockUserData {
    explicit Stamp(std::chrono::system_clock::time_point t) : time(t) {}
    std::chrono::system_clock::time_point time;
};

} // namespace

LogStamps::LogStamps(QPlainTextEdit* box) : QObject(box), box_(box) {
    connect(box->document(), &QTextDocument::contentsChanged, this, [this] { stampNewLines(); });
}

void LogStamps::stampNewLines() {
    // Lines are only appended: the new ones are the unstamped blocks at the end.
    const auto now = std::chrono::system_clock::now();
    for (QTextBlock block = box_->document()->lastBlock(); block.isValid();
         block = block.previous()) {
        if (block.userData() != nullptr) {
            break;
        }
        if (block.length() <= 1 && block.blockNumber() == 0 &&
            block == box_->document()->lastBlock()) {
            break; // the empty box
        }
        block.setUserData(new Stamp(now));
    }
}

std::vector<log_file::Line> LogStamps::lines() const {
    std::vector<log_file::Line> out;
    const auto now = std::chrono::system_clock::now();
    for (QTextBlock block = box_->document()->firstBlock(); block.isValid(); block = block.next()) {
        const auto* stamp = static_cast<const Stamp*>(block.userData());
        if (stamp == nullptr && block.length() <= 1 && block == box_->document()->lastBlock() &&
            block.blockNumber() == 0) {
            continue; // the empty box
        }
        out.push_back({stamp != nullptr ? stamp->time : now, block.text().toStdString()});
    }
    return out;
}
