#pragma once

#include <QString>
#include <QUrl>

namespace slimreel {

// The controller's overall run state.
struct CompressionState {
    enum class Case { idle, preparing, compressing, completed, failed };

    Case kind = Case::idle;
    QUrl folder;     // only for `completed`
    QString message; // only for `failed`

    static CompressionState idle() { return {Case::idle, {}, {}}; }
    static CompressionState preparing() { return {Case::preparing, {}, {}}; }
    static CompressionState compressing() { return {Case::compressing, {}, {}}; }
    static CompressionState completed(QUrl folder) { return {Case::completed, std::move(folder), {}}; }
    static CompressionState failed(QString message) { return {Case::failed, {}, std::move(message)}; }

    bool is(Case c) const { return kind == c; }

    friend bool operator==(const CompressionState &a, const CompressionState &b)
    {
        if (a.kind != b.kind) {
            return false;
        }
        if (a.kind == Case::completed) {
            return a.folder == b.folder;
        }
        if (a.kind == Case::failed) {
            return a.message == b.message;
        }
        return true;
    }
};

} // namespace slimreel
