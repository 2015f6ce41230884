#pragma once

#include <sys/resource.h>

#include <csignal>

// A full disk for as long as it lives: files this process writes may grow to `bytes` at most, and writes
// beyond fail with EFBIG (SIGXFSZ is ignored meanwhile).
class FileSizeLimit
{
public:
    explicit FileSizeLimit(rlim_t bytes);
    ~FileSizeLimit();
    FileSizeLimit(const FileSizeLimit &) = delete;
    FileSizeLimit &operator=(const FileSizeLimit &) = delete;

    bool isSet() const { return m_set; }

private:
    rlimit m_previous {};
    void (*m_previousHandler)(int) = nullptr;
    bool m_set = false;
};
