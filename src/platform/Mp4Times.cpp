#include "platform/Mp4Times.h"

#include <QFile>
#include <QtEndian>

namespace slimreel::Mp4Times {

namespace {

// The movie box is small (an index), so it is read and patched whole.
constexpr qint64 largestMovieBox = 256LL * 1024 * 1024;

struct MovieBox {
    qint64 offset = -1;
    QByteArray bytes; // the whole box, header included
};

MovieBox findMovieBox(QFile &file)
{
    qint64 offset = 0;
    const qint64 end = file.size();
    while (offset + 8 <= end) {
        if (!file.seek(offset)) {
            break;
        }
        const QByteArray header = file.read(16);
        if (header.size() < 8) {
            break;
        }
        quint64 size = qFromBigEndian<quint32>(header.constData());
        qint64 headerSize = 8;
        if (size == 1 && header.size() == 16) {
            size = qFromBigEndian<quint64>(header.constData() + 8);
            headerSize = 16;
        } else if (size == 0) {
            size = static_cast<quint64>(end - offset);
        }
        if (size < static_cast<quint64>(headerSize) || size > static_cast<quint64>(end - offset)) {
            break;
        }
        if (header.mid(4, 4) == "moov") {
            if (size > static_cast<quint64>(largestMovieBox) || !file.seek(offset)) {
                break;
            }
            return {offset, file.read(static_cast<qint64>(size))};
        }
        offset += static_cast<qint64>(size);
    }
    return {};
}

// Calls `visit(position of the version byte)` for every header box inside
// [begin, end) that carries times: mvhd, tkhd and mdhd, through trak and mdia.
template <typename Visit>
void forEachTimedHeader(const QByteArray &bytes, qsizetype begin, qsizetype end, const Visit &visit)
{
    qsizetype at = begin;
    while (at + 8 <= end) {
        const quint32 size = qFromBigEndian<quint32>(bytes.constData() + at);
        if (size < 8 || at + size > end) {
            return;
        }
        const QByteArray type = bytes.mid(at + 4, 4);
        if (type == "mvhd" || type == "tkhd" || type == "mdhd") {
            visit(at + 8);
        } else if (type == "trak" || type == "mdia") {
            forEachTimedHeader(bytes, at + 8, at + size, visit);
        }
        at += size;
    }
}

} // namespace

std::optional<std::uint64_t> creationTime(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return std::nullopt;
    }
    const MovieBox movie = findMovieBox(file);
    std::optional<std::uint64_t> found;
    forEachTimedHeader(movie.bytes, 8, movie.bytes.size(), [&](qsizetype at) {
        if (found || movie.bytes.mid(at - 4, 4) != "mvhd" || at + 12 > movie.bytes.size()) {
            return;
        }
        const char *field = movie.bytes.constData() + at + 4;
        const std::uint64_t seconds = movie.bytes.at(at) == 1 ? qFromBigEndian<quint64>(field)
                                                              : qFromBigEndian<quint32>(field);
        if (seconds != 0) {
            found = seconds;
        }
    });
    return found;
}

bool setCreationTime(const QString &path, std::uint64_t seconds)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadWrite)) {
        return false;
    }
    MovieBox movie = findMovieBox(file);
    bool wrote = false;
    forEachTimedHeader(movie.bytes, 8, movie.bytes.size(), [&](qsizetype at) {
        char *field = movie.bytes.data() + at + 4;
        if (movie.bytes.at(at) == 1 && at + 20 <= movie.bytes.size()) {
            qToBigEndian<quint64>(seconds, field);
            qToBigEndian<quint64>(seconds, field + 8);
            wrote = true;
        } else if (movie.bytes.at(at) == 0 && at + 12 <= movie.bytes.size()) {
            // Version 0 counts in 32 bits, which last until 2040.
            const auto narrow = static_cast<quint32>(std::min<std::uint64_t>(seconds, 0xFFFFFFFFU));
            qToBigEndian<quint32>(narrow, field);
            qToBigEndian<quint32>(narrow, field + 4);
            wrote = true;
        }
    });
    return wrote && file.seek(movie.offset) && file.write(movie.bytes) == movie.bytes.size();
}

} // namespace slimreel::Mp4Times
