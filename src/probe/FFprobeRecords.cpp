#include "probe/FFprobeRecords.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QJsonValue>

namespace slimreel {

namespace {

Error decodingError(const QString &reason)
{
    return Error::platform(QStringLiteral("ffprobe 的输出无法解析：%1").arg(reason));
}

Error wrongType(const QString &path, const QString &expected)
{
    return decodingError(QStringLiteral("“%1”应为%2").arg(path, expected));
}

// Reads the members of one JSON object; the first failure sticks, so a decoder
// can read every member and check once at the end.
class ObjectReader {
public:
    ObjectReader(QJsonObject object, QString path)
        : m_object(std::move(object))
        , m_path(std::move(path))
    {
    }

    std::optional<QString> optionalText(const QString &key)
    {
        const QJsonValue value = m_object.value(key);
        if (isAbsent(value)) {
            return std::nullopt;
        }
        if (!value.isString()) {
            fail(wrongType(memberPath(key), QStringLiteral("文本")));
            return std::nullopt;
        }
        return value.toString();
    }

    std::optional<std::int64_t> optionalInteger(const QString &key)
    {
        const QJsonValue value = m_object.value(key);
        if (isAbsent(value)) {
            return std::nullopt;
        }
        // toInteger gives its fallback for fractions and for numbers beyond the
        // 64-bit range; two different fallbacks tell that apart from a real value.
        const qint64 a = value.toInteger(0);
        const qint64 b = value.toInteger(1);
        if (!value.isDouble() || a != b) {
            fail(wrongType(memberPath(key), QStringLiteral("64 位整数")));
            return std::nullopt;
        }
        return a;
    }

    QString requiredText(const QString &key)
    {
        requirePresent(key);
        return optionalText(key).value_or(QString());
    }

    std::int64_t requiredInteger(const QString &key)
    {
        requirePresent(key);
        return optionalInteger(key).value_or(0);
    }

    // Each element of a required array of objects, as a reader of its own.
    template <typename Decode>
    auto requiredObjects(const QString &key, Decode decodeElement)
    {
        using Element = decltype(decodeElement(std::declval<ObjectReader &>()));
        std::vector<Element> elements;
        requirePresent(key);
        const QJsonValue value = m_object.value(key);
        if (isAbsent(value)) {
            return elements;
        }
        if (!value.isArray()) {
            fail(wrongType(memberPath(key), QStringLiteral("数组")));
            return elements;
        }
        const QJsonArray array = value.toArray();
        elements.reserve(static_cast<std::size_t>(array.size()));
        for (qsizetype i = 0; i < array.size() && !m_error; ++i) {
            const QString path = QStringLiteral("%1[%2]").arg(memberPath(key)).arg(i);
            if (!array.at(i).isObject()) {
                fail(wrongType(path, QStringLiteral("对象")));
                break;
            }
            ObjectReader element(array.at(i).toObject(), path);
            elements.push_back(decodeElement(element));
            if (element.m_error) {
                fail(*element.m_error);
            }
        }
        return elements;
    }

    template <typename Decode>
    auto optionalObject(const QString &key, Decode decodeObject)
    {
        using Object = decltype(decodeObject(std::declval<ObjectReader &>()));
        const QJsonValue value = m_object.value(key);
        if (isAbsent(value)) {
            return std::optional<Object>();
        }
        if (!value.isObject()) {
            fail(wrongType(memberPath(key), QStringLiteral("对象")));
            return std::optional<Object>();
        }
        ObjectReader inner(value.toObject(), memberPath(key));
        Object object = decodeObject(inner);
        if (inner.m_error) {
            fail(*inner.m_error);
        }
        return std::optional<Object>(std::move(object));
    }

    const std::optional<Error> &error() const { return m_error; }

private:
    static bool isAbsent(const QJsonValue &value) { return value.isUndefined() || value.isNull(); }

    QString memberPath(const QString &key) const { return m_path.isEmpty() ? key : m_path + u'.' + key; }

    void requirePresent(const QString &key)
    {
        const QJsonValue value = m_object.value(key);
        if (value.isUndefined()) {
            fail(decodingError(QStringLiteral("缺少“%1”").arg(memberPath(key))));
        } else if (value.isNull()) {
            fail(decodingError(QStringLiteral("“%1”不能为 null").arg(memberPath(key))));
        }
    }

    void fail(Error error)
    {
        if (!m_error) {
            m_error = std::move(error);
        }
    }

    QJsonObject m_object;
    QString m_path;
    std::optional<Error> m_error;
};

Result<QJsonObject> topLevelObject(const QByteArray &json)
{
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(json, &parseError);
    if (parseError.error != QJsonParseError::NoError) {
        return std::unexpected(decodingError(
            QStringLiteral("不是有效的 JSON（%1，位置 %2）").arg(parseError.errorString()).arg(parseError.offset)));
    }
    if (!document.isObject()) {
        return std::unexpected(decodingError(QStringLiteral("顶层应为对象")));
    }
    return document.object();
}

template <typename Response, typename ReadMembers>
Result<Response> decodeTopLevel(const QByteArray &json, ReadMembers readMembers)
{
    auto object = topLevelObject(json);
    if (!object) {
        return std::unexpected(object.error());
    }
    ObjectReader in(*object, QString());
    Response response;
    readMembers(in, response);
    if (in.error()) {
        return std::unexpected(*in.error());
    }
    return response;
}

FFprobeStream decodeStream(ObjectReader &in)
{
    FFprobeStream stream;
    stream.codecName = in.optionalText(QStringLiteral("codec_name"));
    stream.codecType = in.optionalText(QStringLiteral("codec_type"));
    stream.width = in.optionalInteger(QStringLiteral("width"));
    stream.height = in.optionalInteger(QStringLiteral("height"));
    stream.averageFrameRate = in.optionalText(QStringLiteral("avg_frame_rate"));
    stream.bitRate = in.optionalText(QStringLiteral("bit_rate"));
    stream.duration = in.optionalText(QStringLiteral("duration"));
    return stream;
}

FFprobeFormat decodeFormat(ObjectReader &in)
{
    FFprobeFormat format;
    format.duration = in.optionalText(QStringLiteral("duration"));
    format.size = in.optionalText(QStringLiteral("size"));
    format.bitRate = in.optionalText(QStringLiteral("bit_rate"));
    return format;
}

FFprobePacket decodePacket(ObjectReader &in)
{
    FFprobePacket packet;
    packet.streamIndex = in.requiredInteger(QStringLiteral("stream_index"));
    packet.size = in.requiredText(QStringLiteral("size"));
    packet.flags = in.optionalText(QStringLiteral("flags"));
    packet.ptsTime = in.optionalText(QStringLiteral("pts_time"));
    return packet;
}

} // namespace

Result<FFprobeResponse> FFprobeResponse::decode(const QByteArray &json)
{
    return decodeTopLevel<FFprobeResponse>(json, [](ObjectReader &in, FFprobeResponse &response) {
        response.streams = in.requiredObjects(QStringLiteral("streams"), decodeStream);
        response.format = in.optionalObject(QStringLiteral("format"), decodeFormat);
    });
}

Result<FFprobePacketResponse> FFprobePacketResponse::decode(const QByteArray &json)
{
    return decodeTopLevel<FFprobePacketResponse>(json, [](ObjectReader &in, FFprobePacketResponse &response) {
        response.packets = in.requiredObjects(QStringLiteral("packets"), decodePacket);
    });
}

} // namespace slimreel
