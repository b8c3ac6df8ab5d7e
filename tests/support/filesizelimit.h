// A lowered file-size limit for the life of the object: writes past it fail with EFBIG, as
// writes fail on a full disk, and SIGXFSZ is ignored meanwhile.
//
//     FileSizeLimit limit(8192);
//     if (!limit.isLowered())
//         QSKIP("the file-size limit cannot be lowered here");
#pragma once

#include <csignal>
#include <sys/resource.h>

namespace ridelog::test {

class FileSizeLimit
{
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        ::getrlimit(RLIMIT_FSIZE, &saved_);
        previous_ = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit = saved_;
        limit.rlim_cur = bytes;
        lowered_ = ::setrlimit(RLIMIT_FSIZE, &limit) == 0;
    }
    ~FileSizeLimit()
    {
        ::setrlimit(RLIMIT_FSIZE, &saved_);
        std::signal(SIGXFSZ, previous_);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

    bool isLowered() const { return lowered_; }

private:
    rlimit saved_{};
    void (*previous_)(int) = nullptr;
    bool lowered_ = false;
};

} // namespace ridelog::test
