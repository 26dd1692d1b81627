#include "platform/ToolLocator.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

namespace slimreel {

ToolLocator ToolLocator::forTool(const QString &name)
{
    return ToolLocator(defaultCandidates(name));
}

ToolLocator::ToolLocator(QStringList candidates)
    : m_candidates(std::move(candidates))
{
}

QStringList ToolLocator::defaultCandidates(const QString &name)
{
    QStringList list;
    // applicationDirPath needs an application object; without one (a library
    // user) only the system locations are searched.
    if (QCoreApplication::instance() != nullptr) {
        const QDir appDir(QCoreApplication::applicationDirPath());
        list << QDir::cleanPath(appDir.filePath(QStringLiteral("helpers/") + name))
             << QDir::cleanPath(appDir.filePath(QStringLiteral("../libexec/slimreel/") + name));
    }
    list << QStringLiteral("/usr/bin/") + name << QStringLiteral("/usr/local/bin/") + name;
    return list;
}

std::optional<QString> ToolLocator::locate() const
{
    for (const QString &candidate : m_candidates) {
        const QFileInfo file(candidate);
        if (file.isFile() && file.isExecutable()) {
            return candidate;
        }
    }
    return std::nullopt;
}

} // namespace slimreel
