#pragma once

#include <QString>
#include <QStringList>

#include <optional>

namespace slimreel {

// Finds a helper tool (ffmpeg, ffprobe) among a fixed list of candidate paths.
// The environment's search path is deliberately not used, so what runs does not
// depend on how the program was started. Nothing is cached: every call looks again.
class ToolLocator {
public:
    // Candidates next to the executable first, then the package-manager locations.
    static ToolLocator forTool(const QString &name);
    explicit ToolLocator(QStringList candidates);

    std::optional<QString> locate() const;
    const QStringList &candidates() const { return m_candidates; }

    static QStringList defaultCandidates(const QString &name);

private:
    QStringList m_candidates;
};

} // namespace slimreel
