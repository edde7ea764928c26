#pragma once

#include <mutex>
#include <span>
#include <string>
#include <string_view>

namespace platform {

// The process's standard error as a console: what it is attached to, and gathered writes.
class Console {
public:
    virtual ~Console() = default;
    [[nodiscard]] virtual bool isTerminal() const = 0;
    // The terminal's type ($TERM), empty when unknown.
    [[nodiscard]] virtual std::string terminalType() const = 0;
    // Writes the pieces in one call, so that lines stay whole beside other writers.
    virtual void write(std::span<const std::string_view> pieces) = 0;
};

class StandardErrorConsole final : public Console {
public:
    [[nodiscard]] bool isTerminal() const override;
    [[nodiscard]] std::string terminalType() const override;
    void write(std::span<const std::string_view> pieces) override;
};

// A console of fixed traits that keeps what is written: the test double.
class RecordingConsole final : public Console {
public:
    RecordingConsole(bool terminal, std::string type)
        : terminal_(terminal), type_(std::move(type)) {}
    [[nodiscard]] bool isTerminal() const override { return terminal_; }
    [[nodiscard]] std::string terminalType() const override { return type_; }
    void write(std::span<const std::string_view> pieces) override;
    [[nodiscard]] std::string written() const;

private:
    const bool terminal_;
    const std::string type_;
    mutable std::mutex mutex_;
    std::string written_;
};

}  // namespace platform
