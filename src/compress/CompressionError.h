#pragma once

#include "model/Error.h"

namespace slimreel {

// The typed failures of a compression, with the texts the user sees.
struct CompressionError {
    enum class Case { failed, cancelled, ffmpegUnavailable, unsupportedByNative, outputNotSmaller, sourceWouldBeOverwritten };

    Case kind = Case::failed;
    QString message; // only for `failed`

    static CompressionError failed(QString message) { return {Case::failed, std::move(message)}; }
    static CompressionError cancelled() { return {Case::cancelled, {}}; }
    static CompressionError ffmpegUnavailable() { return {Case::ffmpegUnavailable, {}}; }
    static CompressionError unsupportedByNative() { return {Case::unsupportedByNative, {}}; }
    static CompressionError outputNotSmaller() { return {Case::outputNotSmaller, {}}; }
    static CompressionError sourceWouldBeOverwritten() { return {Case::sourceWouldBeOverwritten, {}}; }

    QString errorDescription() const;

    // As a general failure value; `isError` recognises it again.
    Error toError() const { return {Error::Domain::compression, static_cast<int>(kind), errorDescription()}; }
    operator Error() const { return toError(); } // NOLINT: a compression error is an Error

    friend bool operator==(const CompressionError &, const CompressionError &) = default;
};

inline bool isError(const Error &error, CompressionError::Case kind)
{
    return error.domain == Error::Domain::compression && error.code == static_cast<int>(kind);
}

// A cancellation of either kind: the task was told to stop, or the back end stopped.
inline bool isCancellation(const Error &error)
{
    return error.isTaskCancellation() || isError(error, CompressionError::Case::cancelled);
}

} // namespace slimreel
