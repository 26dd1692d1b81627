#include "support/Gate.h"

#include <QCoroSignal>

namespace slimreel::test {

void Gate::open()
{
    if (!m_open) {
        m_open = true;
        Q_EMIT opened();
    }
}

QCoro::Task<> Gate::wait()
{
    // `opened` fires once, so the signal awaiter cannot be resumed twice.
    if (!m_open) {
        co_await qCoro(this, &Gate::opened);
    }
}

} // namespace slimreel::test
