// Opening a sound file by name exactly once, and refusing anything but a plain file.
#pragma once

#include <sys/stat.h>

#include <cstddef>
#include <string>
#include <vector>

namespace koma::sound {

// A file descriptor, closed with this object.
class PlainFile {
  public:
    enum class Problem { kNone, kMissing, kFolder, kNotPlain, kUnreadable };

    // Opens without waiting (a pipe would wait for a writer, a device may never end) and then
    // looks at what was opened, so the name is never looked up twice.
    explicit PlainFile(const std::string& path);
    PlainFile(const PlainFile&) = delete;
    PlainFile& operator=(const PlainFile&) = delete;
    ~PlainFile();

    Problem problem() const { return problem_; }
    std::size_t size() const { return size_; }
    int descriptor() const { return fd_; }
    // What fstat said of the opened file; zeros when it could not be opened.
    const struct stat& status() const { return status_; }

    // Reads the whole file; false on a read error or when it is not `size()` long any more.
    bool ReadAll(std::vector<char>& bytes) const;
    // Reads up to `count` bytes from the start.
    std::vector<char> ReadStart(std::size_t count) const;

  private:
    int fd_ = -1;
    Problem problem_ = Problem::kNone;
    std::size_t size_ = 0;
    struct stat status_ {};
};

}  // namespace koma::sound
