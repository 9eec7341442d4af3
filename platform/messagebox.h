// Where the core reports what a person must see (a database that will not
// open, a file error). The Qt layer shows a box; headless programs print the
// text to standard error and exit non-zero.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

namespace platform {

class MessageSink {
 public:
  virtual ~MessageSink() = default;
  virtual void show(std::string_view caption, std::string_view text) = 0;
};

// Prints "caption: text" (UTF-8) to standard error.
class StderrMessageSink : public MessageSink {
 public:
  void show(std::string_view caption, std::string_view text) override {
    std::fprintf(stderr, "%.*s: %.*s\n", static_cast<int>(caption.size()), caption.data(),
                 static_cast<int>(text.size()), text.data());
    std::fflush(stderr);
    shown_ = true;
  }
  bool shown() const { return shown_; }

 private:
  bool shown_ = false;
};

}  // namespace platform
