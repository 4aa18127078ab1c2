// The run's output file: created once, appended line by line, every line flushed as it is written so
// that a crash loses nothing already reported.
#pragma once

#include <cstdio>
#include <streambuf>
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
  // Opens the file for appending, creating it when missing: what an earlier run wrote stays.
  bool Append(const std::string& path);
  // Appends one line. False (with lastError set) when the file is not open or the write failed.
  bool WriteLine(const std::string& line) override;
  void Close();
  bool isOpen() const { return file_ != nullptr; }
  const std::string& path() const { return path_; }
  const std::string& lastError() const { return lastError_; }
  // A line was lost since the file was opened (a write failed, or the file would not close cleanly).
  bool writeFailed() const { return writeFailed_; }

 private:
  std::FILE* file_ = nullptr;
  std::string path_;
  std::string lastError_;
  bool writeFailed_ = false;

  bool Open(const std::string& path, const char* mode);
};

// A stream buffer that reaches the disk whole lines at a time, each as soon as it ends, like the output
// file: a run killed at any moment leaves every line it wrote and no half line. Owns the file.
class LineFlushingBuffer : public std::streambuf {
 public:
  explicit LineFlushingBuffer(std::FILE* file) : file_(file) {}
  ~LineFlushingBuffer() override;
  LineFlushingBuffer(const LineFlushingBuffer&) = delete;
  LineFlushingBuffer& operator=(const LineFlushingBuffer&) = delete;
  // A line could not be written.
  bool failed() const { return failed_; }

 protected:
  int overflow(int c) override;
  int sync() override;

 private:
  bool Flush();
  std::FILE* file_;
  std::string line_;
  bool failed_ = false;
};

}  // namespace orv
