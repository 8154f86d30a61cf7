#include "sound/game/module_file.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <grp.h>
#include <link.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstring>
#include <deque>
#include <optional>
#include <utility>
#include <vector>

#include "sound/music_device.h"

// The game's own ELF header, where the linker puts the start of its image: a module of another
// class, byte order or machine cannot be the game's.
extern "C" const ElfW(Ehdr) __ehdr_start;  // NOLINT(bugprone-reserved-identifier)

namespace koma::sound {
namespace {

using Header = ElfW(Ehdr);
using Segment = ElfW(Phdr);

// Far more program headers than any linker writes; a table past this is not read.
constexpr std::uint64_t kMaxHeaderBytes = std::uint64_t{64} << 10;
// As many links as the kernel follows in one name.
constexpr int kMaxLinks = 40;
constexpr std::size_t kUserRoom = std::size_t{16} << 10;
// A user database longer than this is not read through at a sound on: who else has a group
// is then not known.
constexpr int kMostUsers = 100'000;

// The access ACL as the kernel keeps it in an extended attribute: a version, then entries of a
// tag, permission bits and an id, all little-endian.
constexpr char kAclAttribute[] = "system.posix_acl_access";
constexpr std::uint32_t kAclVersion = 2;
constexpr std::size_t kAclHeaderBytes = 4;
constexpr std::size_t kAclEntryBytes = 8;
enum AclTag : std::uint16_t {
    kOwnerEntry = 0x01,
    kUserEntry = 0x02,
    kOwningGroupEntry = 0x04,
    kGroupEntry = 0x08,
    kMaskEntry = 0x10,
    kOtherEntry = 0x20,
};
constexpr std::uint32_t kAclWrite = 0x02;

std::string Quoted(const std::string& name) {
    return "「" + name + "」";
}

// A descriptor, closed with this object.
class Descriptor {
  public:
    explicit Descriptor(int descriptor = -1) : fd_(descriptor) {}
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    Descriptor(Descriptor&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    Descriptor& operator=(Descriptor&& other) noexcept {
        std::swap(fd_, other.fd_);
        return *this;
    }
    ~Descriptor() {
        if (fd_ >= 0) {
            close(fd_);
        }
    }
    int get() const { return fd_; }

  private:
    int fd_;
};

// The name under which the kernel opens again what `descriptor` has open, whatever its own
// name holds by then.
std::string OpenName(int descriptor) {
    return "/proc/self/fd/" + std::to_string(descriptor);
}

std::uint32_t Little(const unsigned char* bytes, int count) {
    std::uint32_t value = 0;
    for (int i = count - 1; i >= 0; --i) {
        value = value << 8 | bytes[i];
    }
    return value;
}

// Who besides its owner may write a file or a folder.
struct Writers {
    bool others = false;        // anyone, or a user named in an ACL
    std::vector<gid_t> groups;  // the members of these groups
};

// Who may write, read from an ACL's bytes as the kernel reads them; nothing when they are not
// an ACL of a kind known here.
std::optional<Writers> AclWriters(const std::vector<unsigned char>& acl,
                                  const struct stat& status) {
    if (acl.size() < kAclHeaderBytes || (acl.size() - kAclHeaderBytes) % kAclEntryBytes != 0 ||
        Little(acl.data(), 4) != kAclVersion) {
        return std::nullopt;
    }
    // The mask bounds the named entries and the owning group's; without one they stand as they
    // are.
    std::uint32_t mask = kAclWrite;
    for (std::size_t at = kAclHeaderBytes; at < acl.size(); at += kAclEntryBytes) {
        if (Little(&acl[at], 2) == kMaskEntry) {
            mask = Little(&acl[at + 2], 2);
        }
    }
    Writers writers;
    for (std::size_t at = kAclHeaderBytes; at < acl.size(); at += kAclEntryBytes) {
        const std::uint32_t write = Little(&acl[at + 2], 2) & kAclWrite;
        const std::uint32_t id = Little(&acl[at + 4], 4);
        switch (Little(&acl[at], 2)) {
            case kOwnerEntry:
            case kMaskEntry:
                break;
            case kUserEntry:  // an entry naming the owner is never used: the owner's comes first
                writers.others = writers.others || ((write & mask) != 0 && id != status.st_uid);
                break;
            case kOwningGroupEntry:
                if ((write & mask) != 0) {
                    writers.groups.push_back(status.st_gid);
                }
                break;
            case kGroupEntry:
                if ((write & mask) != 0) {
                    writers.groups.push_back(id);
                }
                break;
            case kOtherEntry:
                writers.others = writers.others || write != 0;
                break;
            default:
                return std::nullopt;
        }
    }
    return writers;
}

// Who may write what `descriptor` has open, as the kernel decides it: by its access ACL when it
// has one, else by its mode bits; nothing when that cannot be told.
std::optional<Writers> WritersOf(int descriptor, const struct stat& status) {
    const std::string name = OpenName(descriptor);  // an O_PATH descriptor has no attributes
    const ssize_t size = getxattr(name.c_str(), kAclAttribute, nullptr, 0);
    if (size < 0 && (errno == ENODATA || errno == ENOTSUP)) {
        Writers writers;
        writers.others = (status.st_mode & S_IWOTH) != 0;
        if ((status.st_mode & S_IWGRP) != 0) {
            writers.groups.push_back(status.st_gid);
        }
        return writers;
    }
    std::vector<unsigned char> acl(size > 0 ? static_cast<std::size_t>(size) : 0);
    if (size <= 0 || getxattr(name.c_str(), kAclAttribute, acl.data(), acl.size()) != size) {
        return std::nullopt;
    }
    return AclWriters(acl, status);
}

// Whether no user but `owner` has `group` as primary group, as far as the user database tells
// when read through.
bool NoOneElsesPrimaryGroup(gid_t group, uid_t owner) {
    std::vector<char> text(kUserRoom);
    passwd user{};
    passwd* found = nullptr;
    bool alone = true;
    int users = 0;
    int error = 0;
    setpwent();
    while (alone && (error = getpwent_r(&user, text.data(), text.size(), &found)) == 0 &&
           found != nullptr) {
        alone = ++users <= kMostUsers && (user.pw_gid != group || user.pw_uid == owner);
    }
    endpwent();
    return alone && error == ENOENT;
}

// Whether `group` is the owner's own: its primary group, named after it, with no member listed
// and no other user's primary group. Where such groups are the rule, umask 002 makes every
// file group-writable. A user the database does not list when read through (some network
// directories) is not seen.
bool IsOwnersGroup(gid_t group, uid_t owner) {
    std::vector<char> user_text(kUserRoom);
    std::vector<char> group_text(kUserRoom);
    passwd user{};
    passwd* user_found = nullptr;
    struct group entry {};
    struct group* group_found = nullptr;
    return getpwuid_r(owner, &user, user_text.data(), kUserRoom, &user_found) == 0 &&
           user_found != nullptr && user.pw_gid == group &&
           getgrgid_r(group, &entry, group_text.data(), kUserRoom, &group_found) == 0 &&
           group_found != nullptr && std::strcmp(entry.gr_name, user.pw_name) == 0 &&
           (entry.gr_mem == nullptr || *entry.gr_mem == nullptr) &&
           NoOneElsesPrimaryGroup(group, owner);
}

bool IsRootsOrPlayers(const struct stat& status) {
    return status.st_uid == 0 || status.st_uid == geteuid();
}

// Whether nobody but its owner, root or the player, may change what `descriptor` has open. In
// a folder with the sticky bit (/tmp) others may add names, but not replace one of ours.
bool OnlyOwnerWrites(int descriptor, const struct stat& status) {
    if (!IsRootsOrPlayers(status)) {
        return false;
    }
    if (S_ISDIR(status.st_mode) && (status.st_mode & S_ISVTX) != 0) {
        return true;
    }
    const std::optional<Writers> writers = WritersOf(descriptor, status);
    return writers && !writers->others &&
           std::all_of(writers->groups.begin(), writers->groups.end(),
                       [&status](gid_t group) { return IsOwnersGroup(group, status.st_uid); });
}

std::deque<std::string> Names(const std::string& path) {
    std::deque<std::string> names;
    for (std::size_t start = 0; start < path.size();) {
        const std::size_t end = std::min(path.find('/', start), path.size());
        if (end > start) {
            names.emplace_back(path, start, end - start);
        }
        start = end + 1;
    }
    return names;
}

// Follows a name from the root one step at a time, as the kernel would, looking at every
// step: each folder passed and each link followed must be out of others' reach.
class Walk {
  public:
    // The file at `path`, opened for reading, or nullptr with problem() saying why not.
    std::unique_ptr<PlainFile> Open(const std::string& path);
    const std::string& problem() const { return problem_; }

  private:
    bool FromRoot();
    bool Enter(Descriptor& entry, const struct stat& status);
    bool Follow(const Descriptor& link, const struct stat& status, const std::string& name,
                std::deque<std::string>& names);
    // The folder reached, or `name` in it, for the player.
    std::string Here(const std::string& name = {}) const;

    Descriptor folder_;
    std::vector<std::string> at_;  // the folder's names from the root
    int links_ = 0;
    std::string problem_;
};

std::unique_ptr<PlainFile> Walk::Open(const std::string& path) {
    // A relative name would be looked up in the folder the game was started in: the player's.
    if (path.empty() || path.front() != '/') {
        problem_ = Quoted(path) + "がありません";
        return nullptr;
    }
    std::deque<std::string> names = Names(path);
    if (!FromRoot()) {
        return nullptr;
    }
    while (!names.empty()) {
        const std::string name = std::move(names.front());
        names.pop_front();
        if (name == ".") {
            continue;
        }
        Descriptor entry(openat(folder_.get(), name.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
        struct stat status {};
        if (entry.get() < 0 || fstat(entry.get(), &status) != 0) {
            problem_ = Quoted(path) + (errno == EACCES ? "を読めません" : "がありません");
            return nullptr;
        }
        if (S_ISLNK(status.st_mode)) {
            if (!Follow(entry, status, name, names)) {
                return nullptr;
            }
        } else if (names.empty()) {
            // Opened again from what is open, not by its name: the very file looked at.
            return std::make_unique<PlainFile>(
                open(OpenName(entry.get()).c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
        } else if (!S_ISDIR(status.st_mode)) {
            problem_ = Quoted(path) + "がありません";
            return nullptr;
        } else {
            if (name == "..") {
                at_.resize(at_.empty() ? 0 : at_.size() - 1);
            } else {
                at_.push_back(name);
            }
            if (!Enter(entry, status)) {
                return nullptr;
            }
        }
    }
    problem_ = Quoted(path) + "はふつうのファイルではありません";  // it names a folder
    return nullptr;
}

bool Walk::FromRoot() {
    at_.clear();
    Descriptor root(open("/", O_PATH | O_DIRECTORY | O_CLOEXEC));
    struct stat status {};
    if (root.get() < 0 || fstat(root.get(), &status) != 0) {
        problem_ = Quoted("/") + "を読めません";
        return false;
    }
    return Enter(root, status);
}

bool Walk::Enter(Descriptor& entry, const struct stat& status) {
    if (!OnlyOwnerWrites(entry.get(), status)) {
        problem_ = Quoted(Here()) + "はほかのユーザーも書き換えられます";
        return false;
    }
    folder_ = std::move(entry);
    return true;
}

bool Walk::Follow(const Descriptor& link, const struct stat& status, const std::string& name,
                  std::deque<std::string>& names) {
    if (!IsRootsOrPlayers(status)) {
        problem_ = Quoted(Here(name)) + "はほかのユーザーが作ったリンクです";
        return false;
    }
    std::string target(PATH_MAX, '\0');
    const ssize_t size = readlinkat(link.get(), "", target.data(), target.size());
    if (++links_ > kMaxLinks || size <= 0 || static_cast<std::size_t>(size) >= target.size()) {
        problem_ = Quoted(Here(name)) + "を読めません";
        return false;
    }
    target.resize(static_cast<std::size_t>(size));
    const std::deque<std::string> more = Names(target);
    names.insert(names.begin(), more.begin(), more.end());
    return target.front() != '/' || FromRoot();
}

std::string Walk::Here(const std::string& name) const {
    std::string here;
    for (const std::string& folder : at_) {
        here += "/" + folder;
    }
    if (!name.empty()) {
        here += "/" + name;
    }
    return here.empty() ? "/" : here;
}

// Whether `file` is a shared object of the game's own kind with every segment inside the file:
// the loader maps segments past the end, and the first touch of one kills the game (SIGBUS).
bool IsWholeSharedObject(const PlainFile& file) {
    Header header{};
    const std::vector<char> start = file.ReadStart(sizeof header);
    if (start.size() < sizeof header) {
        return false;
    }
    std::memcpy(&header, start.data(), sizeof header);
    const Header& game = __ehdr_start;
    // The magic number, the class, the byte order and the ELF version.
    if (std::memcmp(header.e_ident, game.e_ident, EI_OSABI) != 0 || header.e_type != ET_DYN ||
        header.e_machine != game.e_machine || header.e_phentsize != sizeof(Segment) ||
        header.e_phnum == 0 || header.e_phoff > file.size()) {
        return false;
    }
    const std::uint64_t table_end =
        header.e_phoff + std::uint64_t{header.e_phnum} * sizeof(Segment);
    if (table_end > file.size() || table_end > kMaxHeaderBytes) {
        return false;
    }
    const std::vector<char> table = file.ReadStart(table_end);
    if (table.size() < table_end) {
        return false;
    }
    for (std::uint64_t at = header.e_phoff; at < table_end; at += sizeof(Segment)) {
        Segment segment{};
        std::memcpy(&segment, table.data() + at, sizeof segment);
        if (segment.p_offset > file.size() || segment.p_filesz > file.size() - segment.p_offset) {
            return false;
        }
    }
    return true;
}

}  // namespace

ModuleFile::ModuleFile(std::string path) : path_(std::move(path)) {
    Walk walk;
    file_ = walk.Open(path_);
    problem_ = walk.problem();
    if (file_ == nullptr) {
        return;
    }
    switch (file_->problem()) {
        case PlainFile::Problem::kMissing:
            problem_ = Quoted(path_) + "がありません";
            break;
        case PlainFile::Problem::kFolder:
        case PlainFile::Problem::kNotPlain:
            problem_ = Quoted(path_) + "はふつうのファイルではありません";
            break;
        case PlainFile::Problem::kUnreadable:
            problem_ = Quoted(path_) + "を読めません";
            break;
        case PlainFile::Problem::kNone:
            if (!OnlyOwnerWrites(file_->descriptor(), file_->status())) {
                problem_ = Quoted(path_) + "はほかのユーザーも書き換えられます";
            } else if (!IsWholeSharedObject(*file_)) {
                problem_ = Quoted(path_) + "は壊れているか、このコンピューター用ではありません";
            }
            break;
    }
    if (!problem_.empty()) {
        file_.reset();
    }
}

void* ModuleFile::Load(int flags, std::string& error) {
    if (file_ == nullptr) {
        error = problem_;
        return nullptr;
    }
    const std::string name = OpenName(file_->descriptor());
    void* const handle = dlopen(name.c_str(), flags);
    if (handle == nullptr) {
        const char* const said = dlerror();
        error = said != nullptr ? said : kUnknownError;
        // The player knows the module by its own name.
        for (std::size_t at = error.find(name); at != std::string::npos;
             at = error.find(name, at + path_.size())) {
            error.replace(at, name.size(), path_);
        }
        return nullptr;
    }
    // The loader knows the object by this name from now on, and hands it out again for the
    // name without looking at what the name holds then: the descriptor stays open for good, so
    // that the name goes on naming this file. The game loads its module once.
    file_->Release();
    return handle;
}

}  // namespace koma::sound
