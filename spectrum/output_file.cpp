#include "spectrum/output_file.h"

#include <cerrno>
#include <cstring>

namespace orv {

bool OutputFile::Create(const std::string& path) {
  Close();
  file_ = std::fopen(path.c_str(), "w");
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
  if (!ok) lastError_ = "I/O error " + std::to_string(errno) + ": " + std::strerror(errno);
  return ok;
}

void OutputFile::Close() {
  if (file_) std::fclose(file_);
  file_ = nullptr;
}

}  // namespace orv
