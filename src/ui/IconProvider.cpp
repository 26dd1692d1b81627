#include "ui/IconProvider.h"

#include <QColor>
#include <QIcon>
#include <QPainter>
#include <QUrlQuery>

#include <array>
#include <string_view>

namespace slimreel {

namespace {

struct ThemeName {
    std::string_view key;
    std::string_view themeName; // freedesktop name; symbolic variants are monochrome like ours
};

// Only where the freedesktop icon naming standard has a true equivalent; the rest are ours alone.
constexpr std::array themeNames{
    ThemeName{"plus", "list-add-symbolic"},
    ThemeName{"swap", "view-refresh-symbolic"},
    ThemeName{"trash", "user-trash-symbolic"},
    ThemeName{"expand", "view-fullscreen-symbolic"},
    ThemeName{"play-fill", "media-playback-start-symbolic"},
    ThemeName{"pause-fill", "media-playback-pause-symbolic"},
    ThemeName{"exclamation-circle-fill", "dialog-error-symbolic"},
};

QIcon iconFor(const QString &key)
{
    for (const auto &entry : themeNames) {
        if (QLatin1StringView(entry.key.data(), qsizetype(entry.key.size())) == key) {
            const auto name = QString::fromLatin1(entry.themeName.data(), qsizetype(entry.themeName.size()));
            if (QIcon::hasThemeIcon(name)) {
                return QIcon::fromTheme(name);
            }
        }
    }
    return QIcon(IconProvider::fallbackPath(key));
}

} // namespace

IconProvider::IconProvider() : QQuickImageProvider(QQuickImageProvider::Pixmap) {}

QString IconProvider::fallbackPath(const QString &key)
{
    return QStringLiteral(":/slimreel/icons/%1.svg").arg(key);
}

QPixmap IconProvider::requestPixmap(const QString &id, QSize *size, const QSize &requestedSize)
{
    const auto separator = id.indexOf(u'?');
    const QString key = separator < 0 ? id : id.left(separator);
    const QUrlQuery query(separator < 0 ? QString() : id.mid(separator + 1));
    // The colour comes without its "#": in a URL that would start the fragment.
    const auto colorText = query.queryItemValue(QStringLiteral("color"), QUrl::FullyDecoded);
    const QColor tint = colorText.isEmpty() ? QColor() : QColor(u'#' + colorText);

    const QSize wanted(requestedSize.width() > 0 ? requestedSize.width() : 24,
                       requestedSize.height() > 0 ? requestedSize.height() : 24);
    const QIcon icon = iconFor(key);
    // Theme icons come at their nearest size; drawing into the wanted size keeps layouts exact.
    QPixmap pixmap(wanted);
    pixmap.fill(Qt::transparent);
    {
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        icon.paint(&painter, QRect(QPoint(0, 0), wanted));
        if (tint.isValid()) {
            painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
            painter.fillRect(pixmap.rect(), tint);
        }
    }
    if (size != nullptr) {
        *size = wanted;
    }
    return pixmap;
}

} // namespace slimreel
