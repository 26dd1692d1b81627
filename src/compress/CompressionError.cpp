#include "compress/CompressionError.h"

namespace slimreel {

QString CompressionError::errorDescription() const
{
    switch (kind) {
    case Case::failed:
        return message;
    case Case::cancelled:
        return QStringLiteral("任务已取消");
    case Case::ffmpegUnavailable:
        return QStringLiteral("未找到 FFmpeg。可通过系统的软件包管理器安装，或将可执行文件放入程序目录。");
    case Case::unsupportedByNative:
        return QStringLiteral("系统原生后端不支持这个文件，请改用 FFmpeg。");
    case Case::outputNotSmaller:
        return QStringLiteral("压缩结果没有变小，已移除无效输出。建议选择“极速”方案，或降低目标体积。");
    case Case::sourceWouldBeOverwritten:
        break;
    }
    return QStringLiteral("不能覆盖原视频，请选择另一个输出位置。");
}

} // namespace slimreel
