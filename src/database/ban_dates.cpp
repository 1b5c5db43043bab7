#include "database/ban_dates.h"

#include <QRegularExpression>

namespace {

const QString kSeparator = QStringLiteral(" - ");

// Where day, month and year stand in a numeric date.
struct FieldOrder {
    int day;
    int month;
    int year;
};

constexpr FieldOrder kMonthDayYear{1, 0, 2};

// The order of the fields of a short date format made only of numbers
// ("M/d/yy", "dd.MM.yy", "yyyy-MM-dd"); nothing for one that names the month
// or lacks a field ("d MMM yyyy").
std::optional<FieldOrder> numericOrder(const QString& format) {
    QString letters;
    int monthLetters = 0;
    for (QChar c : format) {
        if (c == QLatin1Char('M'))
            ++monthLetters;
        if (c != QLatin1Char('d') && c != QLatin1Char('M') && c != QLatin1Char('y'))
            continue;
        if (letters.isEmpty() || letters.back() != c)
            letters += c;
    }
    if (monthLetters > 2 || letters.size() != 3 || !letters.contains(QLatin1Char('d')) ||
        !letters.contains(QLatin1Char('M')) || !letters.contains(QLatin1Char('y')))
        return std::nullopt;
    // A weekday ("ddd") makes the format wordy as well.
    if (format.contains(QLatin1String("ddd")))
        return std::nullopt;
    return FieldOrder{int(letters.indexOf(QLatin1Char('d'))), int(letters.indexOf(QLatin1Char('M'))),
                      int(letters.indexOf(QLatin1Char('y')))};
}

FieldOrder orderOf(const QLocale& locale) {
    return numericOrder(locale.dateFormat(QLocale::ShortFormat)).value_or(kMonthDayYear);
}

} // namespace

namespace BanDates {

QString display(const std::optional<QDate>& date, const QLocale& locale) {
    if (!date || !date->isValid())
        return QString();
    QString format = locale.dateFormat(QLocale::ShortFormat);
    if (!numericOrder(format))
        format = QStringLiteral("MM/dd/yyyy");
    // A two-digit year is read as 20yy: any other century is written out.
    if (!format.contains(QLatin1String("yyyy")) && (date->year() < 2000 || date->year() > 2099))
        format.replace(QLatin1String("yy"), QLatin1String("yyyy"));
    return locale.toString(*date, format);
}

std::optional<QDate> parse(const QString& input, const QLocale& locale) {
    // Spaces may follow a separator and a dot may end the date, as in some
    // locales' own short format ("2026. 12. 08.").
    static const QRegularExpression numeric(
        QStringLiteral("^([0-9]{1,4})\\s*[/.-]\\s*([0-9]{1,4})\\s*[/.-]\\s*([0-9]{1,4})\\.?$"));
    const QRegularExpressionMatch m = numeric.match(input.trimmed());
    if (!m.hasMatch())
        return std::nullopt;
    const FieldOrder order = orderOf(locale);
    const QString dayText = m.captured(order.day + 1);
    const QString monthText = m.captured(order.month + 1);
    const QString yearText = m.captured(order.year + 1);
    if (dayText.size() > 2 || monthText.size() > 2 || (yearText.size() != 2 && yearText.size() != 4))
        return std::nullopt;
    int year = yearText.toInt();
    if (yearText.size() == 2)
        year += 2000;
    const QDate date(year, monthText.toInt(), dayText.toInt());
    if (!date.isValid())
        return std::nullopt;
    return date;
}

QString listLine(const BanRecord& ban, const QLocale& locale) {
    return ban.IP + kSeparator + display(ban.UnbanDate, locale);
}

std::optional<QString> addressOfListLine(const QString& line) {
    const qsizetype at = line.indexOf(kSeparator);
    if (at < 0)
        return std::nullopt;
    return line.left(at);
}

} // namespace BanDates
