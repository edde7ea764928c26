#pragma once

#include <filesystem>
#include <map>
#include <mutex>
#include <set>
#include <string>

#include "platform/foundation/Result.h"

namespace platform {

// Named marks on files, in the "user." namespace (the name is given without it).
class ExtendedAttributes {
public:
    // Error codes: the attribute is absent, or the file system keeps no attributes.
    static constexpr long kAbsent = 1;
    static constexpr long kUnsupported = 2;

    virtual ~ExtendedAttributes() = default;
    // Whether the file has the attribute; an error (never kAbsent) when it cannot be asked.
    [[nodiscard]] virtual Result<bool> has(const std::filesystem::path& file,
                                           const std::string& name) = 0;
    // Sets the attribute with an empty value.
    virtual Result<void> add(const std::filesystem::path& file, const std::string& name) = 0;
    // kAbsent when there was none.
    virtual Result<void> remove(const std::filesystem::path& file, const std::string& name) = 0;
};

// The kernel's extended attributes (getxattr, setxattr, removexattr).
class HostExtendedAttributes final : public ExtendedAttributes {
public:
    Result<bool> has(const std::filesystem::path& file, const std::string& name) override;
    Result<void> add(const std::filesystem::path& file, const std::string& name) override;
    Result<void> remove(const std::filesystem::path& file, const std::string& name) override;
};

// Attributes kept in memory by path, or refused as a file system without them refuses:
// the test double.
class MemoryExtendedAttributes final : public ExtendedAttributes {
public:
    explicit MemoryExtendedAttributes(bool supported = true) : supported_(supported) {}
    Result<bool> has(const std::filesystem::path& file, const std::string& name) override;
    Result<void> add(const std::filesystem::path& file, const std::string& name) override;
    Result<void> remove(const std::filesystem::path& file, const std::string& name) override;

private:
    const bool supported_;
    std::mutex mutex_;
    std::set<std::pair<std::string, std::string>> marks_;
};

}  // namespace platform
