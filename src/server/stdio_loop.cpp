#include "server/stdio_loop.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <unistd.h>
#include <vector>

#include "code/utf8.h"
#include "server/mcp_server.h"

namespace vornex {
namespace {

std::string io_error(int err) { return std::string("IO error: ") + std::strerror(err); }

Status write_all(int fd, const std::string& text) {
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            return runtime_error(io_error(errno));
        }
        done += static_cast<size_t>(n);
    }
    return ok_status();
}

Status answer_to(int out_fd, std::string_view line) {
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (!is_valid_utf8(line)) return runtime_error("IO error: stream did not contain valid UTF-8");
    auto answer = answer_line(line);
    if (!answer) return ok_status();
    answer->push_back('\n');
    return write_all(out_fd, *answer);
}

}  // namespace

Status serve_lines(int in_fd, int out_fd, const std::function<bool()>& interrupted) {
    // Anything the process buffered in C stdio goes out before the answers.
    std::fflush(stdout);
    std::string pending;
    std::vector<char> chunk(1 << 16);
    for (;;) {
        const ssize_t n = ::read(in_fd, chunk.data(), chunk.size());
        if (n < 0) {
            if (errno != EINTR) return runtime_error(io_error(errno));
            if (interrupted && interrupted()) return runtime_error("interrupted");
            continue;
        }
        if (n == 0) break;
        const size_t scan_from = pending.size();
        pending.append(chunk.data(), static_cast<size_t>(n));
        size_t start = 0;
        for (size_t nl = pending.find('\n', scan_from); nl != std::string::npos; nl = pending.find('\n', start)) {
            if (auto st = answer_to(out_fd, std::string_view(pending).substr(start, nl - start)); !st) return st;
            start = nl + 1;
        }
        pending.erase(0, start);
    }
    if (!pending.empty()) return answer_to(out_fd, pending);
    return ok_status();
}

}  // namespace vornex
