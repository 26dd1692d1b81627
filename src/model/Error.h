#pragma once

#include <QString>

#include <expected>

namespace slimreel {

// A failure as a value. Typed cases (probe and compression errors) keep their
// case number in `code`; platform errors carry their own message. The text the
// user sees is always `description()`.
struct Error {
    enum class Domain { probe, compression, platform, taskCancelled };

    Domain domain = Domain::platform;
    int code = 0;
    QString text;

    QString description() const { return text; }

    static Error platform(QString message) { return {Domain::platform, 0, std::move(message)}; }
    // The awaiting task was cancelled (the caller asked to stop, not the back end).
    static Error taskCancelled() { return {Domain::taskCancelled, 0, QStringLiteral("任务已取消")}; }

    bool isTaskCancellation() const { return domain == Domain::taskCancelled; }

    friend bool operator==(const Error &, const Error &) = default;
};

template <typename T>
using Result = std::expected<T, Error>;

} // namespace slimreel
