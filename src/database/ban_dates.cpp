#include "database/ban_dates.h"

#include <QLocale>
#include <QRegularExpression>

namespace {

const QString kSeparator = QStringLiteral(" - ");

// Two-digit years belong to this century, whatever the locale's parser thinks.
QDate intoThisCentury(const QDate& d, bool twoDigitYear) {
    if (twoDigitYear && d.isValid() && d.year() >= 1900 && d.year() < 2000)
        return d.addYears(100);
    return d;
}

} // namespace

namespace BanDates {

QString display(const std::optional<QDate>& date) {
    if (!date || !date->isValid())
        return QString();
    return QLocale::system().toString(*date, QLocale::ShortFormat);
}

std::optional<QDate> parse(const QString& input) {
    const QString text = input.trimmed();
    if (text.isEmpty())
        return std::nullopt;

    static const QRegularExpression mdy(QStringLiteral("^(\\d{1,2})/(\\d{1,2})/(\\d{2}|\\d{4})$"));
    const QRegularExpressionMatch m = mdy.match(text);

    const QLocale locale = QLocale::system();
    const QString format = locale.dateFormat(QLocale::ShortFormat);
    const QDate local = locale.toDate(text, format);
    if (local.isValid()) {
        // The locale's parser reads yy as 19yy; a typed two-digit year is 20yy.
        const bool twoDigits = !format.contains(QLatin1String("yyyy"));
        return intoThisCentury(local, twoDigits);
    }
    if (m.hasMatch()) {
        const int month = m.captured(1).toInt();
        const int day = m.captured(2).toInt();
        int year = m.captured(3).toInt();
        if (m.captured(3).size() == 2)
            year += 2000;
        const QDate d(year, month, day);
        if (d.isValid())
            return d;
    }
    return std::nullopt;
}

QString listLine(const BanRecord& ban) { return ban.IP + kSeparator + display(ban.UnbanDate); }

std::optional<QString> addressOfListLine(const QString& line) {
    const qsizetype at = line.indexOf(kSeparator);
    if (at < 0)
        return std::nullopt;
    return line.left(at);
}

} // namespace BanDates
