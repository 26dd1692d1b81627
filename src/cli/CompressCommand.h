#pragma once

#include <QStringList>

#include <QCoroTask>

namespace slimreel::cli {

// `slimreel-cli compress [--mode M] [--plan P] [--target-mb N] --output DIR [--verbose] FILE...`
// `arguments` are the words after "compress". Resolves to the exit code: 0 when
// every video was compressed, 1 when any failed (import included), 2 on a usage
// error, 130 when interrupted.
QCoro::Task<int> compressCommand(QStringList arguments);

} // namespace slimreel::cli
