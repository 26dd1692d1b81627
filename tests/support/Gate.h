#pragma once

#include <QObject>

#include <QCoroTask>

namespace slimreel::test {

// Something a fake call waits for until the test opens it.
class Gate : public QObject {
    Q_OBJECT
public:
    void open();
    bool isOpen() const { return m_open; }
    QCoro::Task<> wait();

Q_SIGNALS:
    void opened();

private:
    bool m_open = false;
};

} // namespace slimreel::test
