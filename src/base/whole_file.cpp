#include "base/whole_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace vornex {
namespace {

Error io_error(int err) { return runtime_error(std::string("IO error: ") + std::strerror(err)); }

// The system reads a path up to its first NUL byte; a path holding one
// would name another file than the caller's, so it is refused instead.
bool valid_path(const std::string& path) { return path.find('\0') == std::string::npos; }

// Closes a descriptor on every path out of a function.
class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    ~FileDescriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    int get() const { return fd_; }
    // Closes now and reports the close's own failure (a deferred write error).
    int close() {
        const int result = ::close(fd_);
        fd_ = -1;
        return result;
    }

private:
    int fd_;
};

// Removes the temporary file unless it was renamed into place.
class TemporaryName {
public:
    explicit TemporaryName(std::string path) : path_(std::move(path)) {}
    TemporaryName(const TemporaryName&) = delete;
    TemporaryName& operator=(const TemporaryName&) = delete;
    ~TemporaryName() {
        if (!path_.empty()) ::unlink(path_.c_str());
    }
    const std::string& path() const { return path_; }
    void keep() { path_.clear(); }

private:
    std::string path_;
};

// The file a write to `path` should replace: the target of a symbolic
// link (as writing through the link did), otherwise `path` itself.
std::string destination(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;
    std::unique_ptr<char, void (*)(void*)> resolved(::realpath(path.c_str(), nullptr), &std::free);
    return resolved ? std::string(resolved.get()) : path;
}

// A fresh file in the folder of `target`, created exclusively with the
// default mode (the process umask applies, as for any new file). The name is
// short so that it fits wherever the target's own name fits.
Result<int> create_temporary(const std::string& target, std::string& name) {
    static std::atomic<uint64_t> counter{0};
    const size_t slash = target.rfind('/');
    const std::string folder = slash == std::string::npos ? std::string() : target.substr(0, slash + 1);
    const uint64_t pid = static_cast<uint64_t>(::getpid());
    for (int attempt = 0; attempt < 64; ++attempt) {
        const uint64_t stamp = static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
        name = folder + ".vornex-" + std::to_string(pid) + "-" + std::to_string(counter.fetch_add(1)) + "-" +
               std::to_string(stamp % 1000000007) + ".tmp";
        const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) return fd;
        if (errno != EEXIST) return io_error(errno);
    }
    return io_error(EEXIST);
}

Status write_all(int fd, std::span<const std::byte> bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            return io_error(errno);
        }
        bytes = bytes.subspan(static_cast<size_t>(n));
    }
    return ok_status();
}

// A device, pipe or socket at the target is written through as before:
// renaming a file over it would replace the special file itself (saving to
// /dev/null would leave a regular file in its place).
Status write_through(const std::string& target, std::span<const std::byte> bytes) {
    FileDescriptor fd(::open(target.c_str(), O_WRONLY | O_CLOEXEC));
    if (fd.get() < 0) return io_error(errno);
    if (Status s = write_all(fd.get(), bytes); !s) return s;
    if (fd.close() != 0) return io_error(errno);
    return ok_status();
}

bool is_special_file(const std::string& target) {
    struct stat st {};
    return ::stat(target.c_str(), &st) == 0 && !S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode);
}

}  // namespace

Result<std::vector<std::byte>> read_whole_file(const std::string& path) {
    if (!valid_path(path)) return io_error(EINVAL);
    FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.get() < 0) return io_error(errno);
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0) return io_error(errno);
    if (S_ISDIR(st.st_mode)) return io_error(EISDIR);
    // Only a regular file has a size to read; anything else reads as empty.
    const size_t size = S_ISREG(st.st_mode) ? static_cast<size_t>(st.st_size) : 0;
    std::vector<std::byte> bytes(size);
    size_t filled = 0;
    while (filled < size) {
        const ssize_t n = ::read(fd.get(), bytes.data() + filled, size - filled);
        if (n < 0) {
            if (errno == EINTR) continue;
            return io_error(errno);
        }
        if (n == 0) break;  // truncated while we read: the short image is refused by the parser
        filled += static_cast<size_t>(n);
    }
    bytes.resize(filled);
    return bytes;
}

Status replace_file(const std::string& path, std::span<const std::byte> bytes) {
    if (!valid_path(path)) return io_error(EINVAL);
    const std::string target = destination(path);
    if (is_special_file(target)) return write_through(target, bytes);
    std::string name;
    auto created = create_temporary(target, name);
    if (!created) return created.error();
    TemporaryName temporary(name);
    FileDescriptor fd(created.value());

    struct stat old {};
    if (::stat(target.c_str(), &old) == 0 && S_ISREG(old.st_mode)) (void)::fchmod(fd.get(), old.st_mode & 07777);
    if (Status s = write_all(fd.get(), bytes); !s) return s;
    // The data must be on disk before the name points at it, or a crash
    // right after the rename could leave an empty file in place of the old one.
    if (::fsync(fd.get()) != 0) return io_error(errno);
    if (fd.close() != 0) return io_error(errno);
    if (::rename(temporary.path().c_str(), target.c_str()) != 0) return io_error(errno);
    temporary.keep();
    return ok_status();
}

}  // namespace vornex
