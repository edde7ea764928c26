#pragma once

#include <memory>
#include <mutex>
#include <vector>

#include "logging/LGLogger.h"

// Chains formatters: each gets a copy of the record with the text the one before produced; a
// formatter that drops the record ends the chain. Changes apply in order with formatting.
class LGMultiFormatter : public LGLogFormatter {
public:
    [[nodiscard]] std::vector<std::shared_ptr<LGLogFormatter>> formatters() const;
    void addFormatter(std::shared_ptr<LGLogFormatter> formatter);
    void removeFormatter(const std::shared_ptr<LGLogFormatter>& formatter);
    void removeAllFormatters();
    [[nodiscard]] bool isFormattingWithFormatter(
        const std::shared_ptr<LGLogFormatter>& formatter) const;
    std::optional<std::string> formatLogMessage(const LGLogMessage& message) override;

private:
    mutable std::mutex mutex_;
    std::vector<std::shared_ptr<LGLogFormatter>> formatters_;
};
