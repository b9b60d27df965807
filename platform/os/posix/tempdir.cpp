#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/os/tempdir.h"

namespace platform {

std::string tempPath() {
    const char* dir = std::getenv("TMPDIR");
    if (dir && *dir) return dir;
    return "/tmp/";
}

char pathSeparator() { return '/'; }

NewFile createNewFile(const std::string& path, std::string& reason) {
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0) {
        if (errno == EEXIST) return NewFile::Exists;
        reason = std::strerror(errno);
        return NewFile::Failed;
    }
    ::close(fd);
    return NewFile::Created;
}

}  // namespace platform
