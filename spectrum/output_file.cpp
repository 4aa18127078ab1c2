#include "spectrum/output_file.h"

#include <cerrno>
#include <cstring>

namespace orv {

bool OutputFile::Create(const std::string& path) {
  return Open(path, "w");
}

bool OutputFile::Append(const std::string& path) {
  return Open(path, "a");
}

bool OutputFile::Open(const std::string& path, const char* mode) {
  Close();
  writeFailed_ = false;
  file_ = std::fopen(path.c_str(), mode);
  if (!file_) {
    lastError_ = "I/O error " + std::to_string(errno) + ": " + std::strerror(errno);
    return false;
  }
  path_ = path;
  lastError_.clear();
  return true;
}

bool OutputFile::WriteLine(const std::string& line) {
  if (!file_) {
    lastError_ = "Output file is not open";
    return false;
  }
  errno = 0;
  bool ok = std::fwrite(line.data(), 1, line.size(), file_) == line.size() &&
            std::fputc('\n', file_) != EOF && std::fflush(file_) == 0;
  if (!ok) {
    lastError_ = "I/O error " + std::to_string(errno) + ": " + std::strerror(errno);
    writeFailed_ = true;
  }
  return ok;
}

void OutputFile::Close() {
  if (file_ && std::fclose(file_) != 0) {
    lastError_ = "I/O error " + std::to_string(errno) + ": " + std::strerror(errno);
    writeFailed_ = true;
  }
  file_ = nullptr;
}

LineFlushingBuffer::~LineFlushingBuffer() {
  Flush();
  if (file_) std::fclose(file_);
}

int LineFlushingBuffer::overflow(int c) {
  if (c == traits_type::eof()) return 0;
  line_.push_back(static_cast<char>(c));
  if (c == '\n' && !Flush()) return traits_type::eof();
  return c;
}

int LineFlushingBuffer::sync() {
  return Flush() ? 0 : -1;
}

bool LineFlushingBuffer::Flush() {
  if (line_.empty()) return !failed_;
  const bool ok =
      file_ && std::fwrite(line_.data(), 1, line_.size(), file_) == line_.size() && std::fflush(file_) == 0;
  failed_ |= !ok;
  line_.clear();
  return ok;
}

}  // namespace orv
