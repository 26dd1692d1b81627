#pragma once

#include <QStringList>

#include <QCoroTask>

namespace slimreel::cli {

// `slimreel-cli estimate [--mode M] [--plan P] [--target-mb N] [--json] [--verbose] FILE`
// Prints the expected output size and saving the window would show: in quality
// mode from a preview sample made and removed again, in target-size mode from
// the settings alone. Exit codes as for compress.
QCoro::Task<int> estimateCommand(QStringList arguments);

} // namespace slimreel::cli
