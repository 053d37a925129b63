#pragma once

#include <filesystem>
#include <optional>

namespace sonoprog::sim {

inline constexpr const char* kWriterLockFileName = "writer.lock";

// One process's claim on the virtual Writer kept in a folder, as a real
// Writer belongs to the one program that opened it: an advisory lock on
// writer.lock in the folder, which the system drops when the process ends,
// however it ends. The lock file names the holder's process.
class FolderLock {
public:
    explicit FolderLock(std::filesystem::path folder);
    ~FolderLock();
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;

    // True when this object holds the claim (taken now or before); false when
    // another holds it or the lock file cannot be made.
    bool acquire();
    void release();
    bool held() const { return fd_ >= 0; }

    // The process named by the lock file, when it names one.
    std::optional<long> holder() const;
    const std::filesystem::path& folder() const { return folder_; }

private:
    std::filesystem::path folder_;
    int fd_ = -1;
};

}  // namespace sonoprog::sim
