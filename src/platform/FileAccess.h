#pragma once

#include <QUrl>

namespace slimreel {

// Access to a user-chosen file that a sandbox may require. Linux desktops have
// no such sandbox, so the system implementation grants nothing and records
// nothing; tests substitute a recording fake to check that every start is stopped.
class FileAccess {
public:
    virtual ~FileAccess() = default;
    virtual bool start(const QUrl &url) = 0;
    virtual void stop(const QUrl &url) = 0;
};

class SystemFileAccess final : public FileAccess {
public:
    bool start(const QUrl &) override { return false; }
    void stop(const QUrl &) override {}
};

} // namespace slimreel
