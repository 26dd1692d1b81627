#pragma once

#include <QQuickImageProvider>

namespace slimreel {

// Icons for the views as "image://icon/<key>" or "image://icon/<key>?color=<rrggbb or aarrggbb>":
// the desktop's icon theme by its freedesktop name when it has one, otherwise our
// own drawing, so every desktop shows an icon. With a colour the icon is tinted
// like a symbol: its shape in that colour, its own transparency kept.
class IconProvider final : public QQuickImageProvider {
public:
    IconProvider();
    QPixmap requestPixmap(const QString &id, QSize *size, const QSize &requestedSize) override;

    // The bundled drawing of a key (":/slimreel/icons/<key>.svg").
    static QString fallbackPath(const QString &key);
};

} // namespace slimreel
