#pragma once

#include "model/VideoInfo.h"

#include <QString>
#include <QUrl>
#include <QUuid>

#include <optional>

namespace slimreel {

// Where one queue item is in the batch run.
struct BatchItemState {
    enum class Case { pending, compressing, completed, failed };

    Case kind = Case::pending;
    QString message; // only meaningful for `failed`

    static BatchItemState pending() { return {Case::pending, {}}; }
    static BatchItemState compressing() { return {Case::compressing, {}}; }
    static BatchItemState completed() { return {Case::completed, {}}; }
    static BatchItemState failed(QString message) { return {Case::failed, std::move(message)}; }

    friend bool operator==(const BatchItemState &a, const BatchItemState &b)
    {
        return a.kind == b.kind && (a.kind != Case::failed || a.message == b.message);
    }
};

// One entry of the batch queue, identified by `id`.
struct BatchVideoItem {
    QUuid id;
    VideoInfo info;
    BatchItemState state;
    double progress = 0;
    std::optional<QUrl> outputURL;

    friend bool operator==(const BatchVideoItem &, const BatchVideoItem &) = default;
};

} // namespace slimreel
