// The main window of the configurator.
#pragma once

#include <QMainWindow>
#include <optional>

class TForm1 : public QMainWindow {
    Q_OBJECT
  public:
    struct Options {
        // A port named on the command line; it replaces the stored "Port" for this run.
        std::optional<QString> portOverride;
        bool handleSignals = false;
    };
    explicit TForm1(const Options& options, QWidget* parent = nullptr);
    ~TForm1() override;

  private:
    Options options_;
};
