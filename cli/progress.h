// A progress bar on the terminal: "Запись номеров [#####-----] 325 из 650".
// It draws only when its descriptor (stderr) is a terminal, so scripts and
// logs that capture stderr get none of it, and it never touches stdout,
// which may carry the --json document.
#pragma once

#include <string>

class ProgressBar {
  public:
    ProgressBar(std::string label, int total, int fd = 2);
    ~ProgressBar(); // ends the line when something was drawn
    ProgressBar(const ProgressBar&) = delete;
    ProgressBar& operator=(const ProgressBar&) = delete;

    // Redraws the line for `done` of the total (only when the shown figure changes).
    void update(int done);
    bool active() const { return active_; }

  private:
    std::string label_;
    int total_;
    int fd_;
    bool active_;
    int shown_ = -1;
};
