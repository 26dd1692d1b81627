#include "probe/TextNumbers.h"

#include <charconv>
#include <cstdlib>
#include <locale.h>

namespace slimreel::TextNumbers {

namespace {

// strtod follows LC_NUMERIC, which a desktop session may set to a comma
// locale; reading through a private C locale object keeps "12.5" meaning 12.5.
locale_t cLocale()
{
    static const locale_t locale = newlocale(LC_ALL_MASK, "C", locale_t(nullptr));
    return locale;
}

bool isAsciiSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

} // namespace

std::optional<double> decimal(QStringView text)
{
    // strtod itself skips leading white space, which must not count here.
    const QByteArray bytes = text.toUtf8();
    if (bytes.isEmpty() || isAsciiSpace(bytes.front())) {
        return std::nullopt;
    }
    const char *begin = bytes.constData();
    char *end = nullptr;
    const double value = strtod_l(begin, &end, cLocale());
    // An embedded NUL stops strtod early and so also counts as leftover text.
    if (end != begin + bytes.size()) {
        return std::nullopt;
    }
    return value;
}

std::optional<double> decimal(const QString &text)
{
    return decimal(QStringView(text));
}

std::optional<double> decimal(const std::optional<QString> &text)
{
    return text ? decimal(QStringView(*text)) : std::nullopt;
}

std::optional<std::int64_t> integer(QStringView text)
{
    QStringView digits = text;
    if (digits.startsWith(u'+') || digits.startsWith(u'-')) {
        digits = digits.sliced(1);
    }
    if (digits.isEmpty()) {
        return std::nullopt;
    }
    for (const QChar c : digits) {
        if (c < u'0' || c > u'9') {
            return std::nullopt;
        }
    }
    // Only ASCII is left, so Latin-1 is exact; from_chars takes the minus sign
    // but not the plus, hence the plus is dropped here.
    const QByteArray bytes = (text.startsWith(u'+') ? digits : text).toLatin1();
    std::int64_t value = 0;
    const auto [end, error] = std::from_chars(bytes.constData(), bytes.constData() + bytes.size(), value);
    if (error != std::errc() || end != bytes.constData() + bytes.size()) {
        return std::nullopt;
    }
    return value;
}

std::optional<std::int64_t> integer(const QString &text)
{
    return integer(QStringView(text));
}

std::optional<std::int64_t> integer(const std::optional<QString> &text)
{
    return text ? integer(QStringView(*text)) : std::nullopt;
}

} // namespace slimreel::TextNumbers
