pragma Singleton
import QtQuick

// Fonts and colours of the window in one place. Sizes are logical pixels; the
// text styles sit a little above their desktop-publishing sizes because Chinese
// at 10 px is hard to read on an ordinary Linux screen.
QtObject {
    id: style

    readonly property SystemPalette palette: SystemPalette { colorGroup: SystemPalette.Active }
    readonly property bool dark: palette.window.hslLightness < 0.5

    readonly property color accent: palette.highlight
    readonly property color windowBackground: palette.window
    readonly property color primary: palette.windowText
    readonly property color secondary: alpha(primary, dark ? 0.58 : 0.55)
    readonly property color tertiary: alpha(primary, dark ? 0.32 : 0.3)
    readonly property color quaternary: alpha(primary, 0.1)
    readonly property color green: dark ? "#3fd266" : "#23a046"
    readonly property color red: dark ? "#ff5a4f" : "#e0352b"
    // Translucent fills standing in for the platform's materials.
    readonly property color regularMaterial: dark ? Qt.rgba(0.16, 0.16, 0.18, 0.72) : Qt.rgba(1, 1, 1, 0.68)
    readonly property color ultraThinMaterial: dark ? Qt.rgba(0.1, 0.1, 0.12, 0.55) : Qt.rgba(1, 1, 1, 0.62)

    readonly property int caption: 11
    readonly property int caption2: 10
    readonly property int subheadline: 12
    readonly property int body: 13
    readonly property int headline: 14
    readonly property int title3: 16
    readonly property int title2: 20
    readonly property int title: 24

    function alpha(color, opacity) {
        return Qt.rgba(color.r, color.g, color.b, opacity)
    }

    // An icon by key (see IconProvider); with a colour it is tinted like a symbol.
    function iconUrl(key, color) {
        if (color === undefined)
            return "image://icon/" + key
        return "image://icon/" + key + "?color=" + String(color).substring(1)
    }

    // The whole percent, truncated: 0.999 shows 99%.
    function percent(fraction) {
        const value = Math.trunc(fraction * 100)
        return (isFinite(value) ? value : 0) + "%"
    }
}
