#include "probe/TextNumbers.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <cstdlib>
#include <limits>

using namespace slimreel;

namespace {

constexpr double inf = std::numeric_limits<double>::infinity();

struct DecimalCase {
    const char *text;
    std::optional<double> value;
};

const DecimalCase decimalCases[] = {
    {"12.5", 12.5},
    {"0.000000", 0.0},
    {"4", 4.0},
    {"-3", -3.0},
    {"+3", 3.0},
    {".5", 0.5},
    {"5.", 5.0},
    {"1e3", 1000.0},
    {"1E-2", 0.01},
    {"2.5e+1", 25.0},
    {"0x1p4", 16.0},
    {"0X1.8P1", 3.0},
    {"inf", inf},
    {"-Infinity", -inf},
    {"1e999", inf},
    {"", std::nullopt},
    {"N/A", std::nullopt},
    {" 1", std::nullopt},
    {"\t1", std::nullopt},
    {"1 ", std::nullopt},
    {"1\n", std::nullopt},
    {"1,5", std::nullopt},
    {"12abc", std::nullopt},
    {"30000/1001", std::nullopt},
    {"+", std::nullopt},
    {"e5", std::nullopt},
    {"0x", std::nullopt},
    {"١٢", std::nullopt}, // Arabic-Indic digits are not C-locale digits
};

struct IntegerCase {
    const char *text;
    std::optional<std::int64_t> value;
};

const IntegerCase integerCases[] = {
    {"0", 0},
    {"1106117", 1106117},
    {"+42", 42},
    {"-42", -42},
    {"007", 7},
    {"9223372036854775807", std::numeric_limits<std::int64_t>::max()},
    {"-9223372036854775808", std::numeric_limits<std::int64_t>::min()},
    {"9223372036854775808", std::nullopt},
    {"-9223372036854775809", std::nullopt},
    {"99999999999999999999999", std::nullopt},
    {"", std::nullopt},
    {"+", std::nullopt},
    {"-", std::nullopt},
    {"+-1", std::nullopt},
    {"--1", std::nullopt},
    {" 1", std::nullopt},
    {"1 ", std::nullopt},
    {"1.0", std::nullopt},
    {"1e3", std::nullopt},
    {"0x10", std::nullopt},
    {"N/A", std::nullopt},
    {"١٢", std::nullopt},
};

void expectDecimalCases()
{
    for (const auto &c : decimalCases) {
        const auto value = TextNumbers::decimal(QString::fromUtf8(c.text));
        EXPECT_EQ(value, c.value) << '"' << c.text << '"';
    }
}

// A German numeric locale (decimal comma), the system's if installed, else
// compiled into a temporary folder from the system's locale sources.
class GermanNumericLocale {
public:
    GermanNumericLocale()
    {
        m_previous = std::setlocale(LC_NUMERIC, nullptr);
        if (activate()) {
            return;
        }
        if (!m_dir.isValid()) {
            return;
        }
        const int status = QProcess::execute(QStringLiteral("localedef"),
                                             {QStringLiteral("-i"), QStringLiteral("de_DE"), QStringLiteral("-f"),
                                              QStringLiteral("UTF-8"), m_dir.filePath(QStringLiteral("de_DE.UTF-8"))});
        if (status == 0) {
            qputenv("LOCPATH", QFile::encodeName(m_dir.path()));
            m_usesLocPath = true;
            activate();
        }
    }
    ~GermanNumericLocale()
    {
        std::setlocale(LC_NUMERIC, m_previous.c_str());
        if (m_usesLocPath) {
            qunsetenv("LOCPATH");
        }
    }
    bool active() const { return m_active; }

private:
    bool activate()
    {
        m_active = std::setlocale(LC_NUMERIC, "de_DE.UTF-8") != nullptr;
        return m_active;
    }

    std::string m_previous;
    QTemporaryDir m_dir;
    bool m_usesLocPath = false;
    bool m_active = false;
};

} // namespace

TEST(TextNumbers, DecimalAcceptsExactlyOneCNumber)
{
    expectDecimalCases();
}

TEST(TextNumbers, DecimalNotANumberForms)
{
    for (const char *text : {"nan", "NAN", "-nan", "nan(123)"}) {
        const auto value = TextNumbers::decimal(QString::fromLatin1(text));
        ASSERT_TRUE(value.has_value()) << text;
        EXPECT_TRUE(std::isnan(*value)) << text;
    }
}

TEST(TextNumbers, DecimalRejectsEmbeddedNul)
{
    const QString text = QStringLiteral("12") + QChar(u'\0') + QStringLiteral("5");
    EXPECT_EQ(TextNumbers::decimal(text), std::nullopt);
    EXPECT_EQ(TextNumbers::integer(text), std::nullopt);
}

TEST(TextNumbers, AbsentTextGivesNoValue)
{
    EXPECT_EQ(TextNumbers::decimal(std::optional<QString>()), std::nullopt);
    EXPECT_EQ(TextNumbers::integer(std::optional<QString>()), std::nullopt);
    EXPECT_EQ(TextNumbers::decimal(std::optional<QString>(QStringLiteral("2.5"))), 2.5);
    EXPECT_EQ(TextNumbers::integer(std::optional<QString>(QStringLiteral("25"))), 25);
}

TEST(TextNumbers, IntegerAcceptsSignAndDigitsWithinInt64)
{
    for (const auto &c : integerCases) {
        EXPECT_EQ(TextNumbers::integer(QString::fromUtf8(c.text)), c.value) << '"' << c.text << '"';
    }
}

TEST(TextNumbers, DecimalIgnoresTheUsersNumericLocale)
{
    const GermanNumericLocale german;
    if (!german.active()) {
        GTEST_SKIP() << "no German locale available";
    }
    // The process really reads commas now, so the test would catch plain strtod.
    ASSERT_EQ(std::strtod("1,5", nullptr), 1.5);
    expectDecimalCases();
}
