#include "sound/checks/plain_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

namespace koma::sound {

PlainFile::PlainFile(const std::string& path)
    : PlainFile(open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY)) {}

PlainFile::PlainFile(int descriptor) : fd_(descriptor) {
    if (fd_ < 0) {
        problem_ = errno == ENOENT || errno == ENOTDIR || errno == ELOOP ? Problem::kMissing
                   : errno == EISDIR                                     ? Problem::kFolder
                                                                         : Problem::kUnreadable;
        return;
    }
    if (fstat(fd_, &status_) != 0) {
        problem_ = Problem::kUnreadable;
    } else if (S_ISDIR(status_.st_mode)) {
        problem_ = Problem::kFolder;
    } else if (!S_ISREG(status_.st_mode)) {
        problem_ = Problem::kNotPlain;
    } else {
        size_ = static_cast<std::size_t>(status_.st_size);
    }
}

PlainFile::~PlainFile() {
    if (fd_ >= 0) {
        close(fd_);
    }
}

int PlainFile::Release() {
    return std::exchange(fd_, -1);
}

FileStamp PlainFile::stamp() const {
    const auto nanoseconds = [](const timespec& time) {
        return std::int64_t{time.tv_sec} * 1'000'000'000 + time.tv_nsec;
    };
    return {status_.st_dev, status_.st_ino, status_.st_size, nanoseconds(status_.st_mtim),
            nanoseconds(status_.st_ctim)};
}

bool PlainFile::ReadAll(std::vector<char>& bytes) const {
    bytes = ReadStart(size_);
    return problem_ == Problem::kNone && bytes.size() == size_;
}

std::vector<char> PlainFile::ReadStart(std::size_t count) const {
    std::vector<char> bytes(problem_ == Problem::kNone ? count : 0);
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t got =
            pread(fd_, bytes.data() + done, bytes.size() - done, static_cast<off_t>(done));
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            break;
        }
        done += static_cast<std::size_t>(got);
    }
    bytes.resize(done);
    return bytes;
}

}  // namespace koma::sound
