// Opening a sound file by name exactly once, and refusing anything but a plain file.
#pragma once

#include <sys/stat.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace koma::sound {

// Tells one version of a file from the next: one written, replaced or renamed over since has
// another stamp.
struct FileStamp {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    std::int64_t size = 0;
    std::int64_t modified_ns = 0;
    std::int64_t changed_ns = 0;

    bool operator==(const FileStamp&) const = default;
};

// A file descriptor, closed with this object.
class PlainFile {
  public:
    enum class Problem { kNone, kMissing, kFolder, kNotPlain, kUnreadable };

    // Opens without waiting (a pipe would wait for a writer, a device may never end) and then
    // looks at what was opened, so the name is never looked up twice.
    explicit PlainFile(const std::string& path);
    // Takes over `descriptor`, already opened (-1: it could not be, errno says why), and looks
    // at what it is.
    explicit PlainFile(int descriptor);
    PlainFile(const PlainFile&) = delete;
    PlainFile& operator=(const PlainFile&) = delete;
    ~PlainFile();

    Problem problem() const { return problem_; }
    std::size_t size() const { return size_; }
    int descriptor() const { return fd_; }
    // What fstat said of the opened file; zeros when it could not be opened.
    const struct stat& status() const { return status_; }
    FileStamp stamp() const;
    // Gives the descriptor up: it is no longer closed with this object.
    int Release();

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
