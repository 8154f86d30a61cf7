#include "sound/module_file.h"

#include <grp.h>
#include <link.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <vector>

#include "sound/plain_file.h"

// The game's own ELF header, where the linker puts the start of its image: a module of another
// class, byte order or machine cannot be the game's.
extern "C" const ElfW(Ehdr) __ehdr_start;  // NOLINT(bugprone-reserved-identifier)

namespace koma::sound {
namespace {

using Header = ElfW(Ehdr);
using Segment = ElfW(Phdr);

// Far more program headers than any linker writes; a table past this is not read.
constexpr std::uint64_t kMaxHeaderBytes = std::uint64_t{64} << 10;

std::string Quoted(const std::string& name) {
    return "「" + name + "」";
}

// Whether `group` is the owner's own: its primary group, named after it, with no other
// member. Where such groups are the rule, umask 002 makes every file group-writable.
bool IsOwnersGroup(gid_t group, uid_t owner) {
    constexpr std::size_t kRoom = std::size_t{16} << 10;
    std::vector<char> user_text(kRoom);
    std::vector<char> group_text(kRoom);
    passwd user{};
    passwd* user_found = nullptr;
    struct group entry {};
    struct group* group_found = nullptr;
    return getpwuid_r(owner, &user, user_text.data(), kRoom, &user_found) == 0 &&
           user_found != nullptr && user.pw_gid == group &&
           getgrgid_r(group, &entry, group_text.data(), kRoom, &group_found) == 0 &&
           group_found != nullptr && std::strcmp(entry.gr_name, user.pw_name) == 0 &&
           (entry.gr_mem == nullptr || *entry.gr_mem == nullptr);
}

// Whether nobody but its owner, root or the player, may change what `status` describes. In a
// folder with the sticky bit (/tmp) others may add names, but not replace one of ours.
bool OnlyOwnerWrites(const struct stat& status) {
    if (status.st_uid != 0 && status.st_uid != geteuid()) {
        return false;
    }
    if (S_ISDIR(status.st_mode) && (status.st_mode & S_ISVTX) != 0) {
        return true;
    }
    return (status.st_mode & S_IWOTH) == 0 &&
           ((status.st_mode & S_IWGRP) == 0 || IsOwnersGroup(status.st_gid, status.st_uid));
}

// The first folder above `path` that others may write (they could put another file in its
// place), or empty.
std::string FolderOthersWrite(const std::filesystem::path& path) {
    for (std::filesystem::path folder = path.parent_path();; folder = folder.parent_path()) {
        struct stat status {};
        if (stat(folder.c_str(), &status) != 0 || !OnlyOwnerWrites(status)) {
            return folder.string();
        }
        if (folder == folder.parent_path()) {
            return {};
        }
    }
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

std::string ModuleFileProblem(const std::string& path) {
    // A relative name would be looked up in the folder the game was started in: the player's.
    const std::filesystem::path place = path;
    const PlainFile file(place.is_absolute() ? path : std::string());
    switch (file.problem()) {
        case PlainFile::Problem::kMissing:
            return Quoted(path) + "がありません";
        case PlainFile::Problem::kFolder:
        case PlainFile::Problem::kNotPlain:
            return Quoted(path) + "はふつうのファイルではありません";
        case PlainFile::Problem::kUnreadable:
            return Quoted(path) + "を読めません";
        case PlainFile::Problem::kNone:
            break;
    }
    if (!OnlyOwnerWrites(file.status())) {
        return Quoted(path) + "はほかのユーザーも書き換えられます";
    }
    if (const std::string folder = FolderOthersWrite(place); !folder.empty()) {
        return Quoted(folder) + "はほかのユーザーも書き換えられます";
    }
    if (!IsWholeSharedObject(file)) {
        return Quoted(path) + "は壊れているか、このコンピューター用ではありません";
    }
    return {};
}

}  // namespace koma::sound
