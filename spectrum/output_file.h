// The run's output file: created once, appended line by line, every line flushed as it is written so
// that a crash loses nothing already reported.
#pragma once

#include <cstdio>
#include <string>

#include "core/port.h"

namespace orv {

class OutputFile : public LineSink {
 public:
  OutputFile() = default;
  ~OutputFile() override { Close(); }
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  // Creates the file anew (an existing one is replaced). False when it cannot be created.
  bool Create(const std::string& path);
  // Appends one line. False (with lastError set) when the file is not open or the write failed.
  bool WriteLine(const std::string& line) override;
  void Close();
  bool isOpen() const { return file_ != nullptr; }
  const std::string& path() const { return path_; }
  const std::string& lastError() const { return lastError_; }

 private:
  std::FILE* file_ = nullptr;
  std::string path_;
  std::string lastError_;
};

}  // namespace orv
