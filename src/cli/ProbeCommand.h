#pragma once

#include <QStringList>

#include <QCoroTask>

namespace slimreel::cli {

// `slimreel-cli probe [--json] [--backend auto|native|ffprobe] FILE...`
// `arguments` are the words after "probe". Resolves to the exit code: 0 when
// every file was inspected, 1 when any failed, 2 on a usage error.
QCoro::Task<int> probeCommand(QStringList arguments);

} // namespace slimreel::cli
