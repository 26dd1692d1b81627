#pragma once

#include <QObject>
#include <QString>
#include <QtQml/qqmlregistration.h>

namespace slimreel {

// Fixed-point number texts for the views, rounded exactly like C's printf
// ("%.0f" of 12.5 is 12), which the script engine's toFixed does not do.
class NumberText : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_SINGLETON

public:
    using QObject::QObject;

    // `value` with `decimals` digits after the point, no grouping, C locale.
    Q_INVOKABLE static QString fixed(double value, int decimals);
};

} // namespace slimreel
