#pragma once

#include <QDate>
#include <QString>
#include <QVariant>
#include <optional>

// Conversions between the registry's values and what is bound to or read from
// a statement. A null QString would be stored as NULL; the empty text must
// stay a text.
namespace SqlValues {

inline QVariant text(const QString& value) {
    return value.isNull() ? QVariant(QString(QLatin1String(""))) : QVariant(value);
}

inline QVariant optionalText(const std::optional<QString>& value) {
    return value ? text(*value) : QVariant(QMetaType(QMetaType::QString));
}

inline QVariant optionalInt(const std::optional<int>& value) {
    return value ? QVariant(*value) : QVariant(QMetaType(QMetaType::Int));
}

inline QVariant optionalDate(const std::optional<QDate>& value) {
    return value && value->isValid() ? QVariant(value->toString(Qt::ISODate)) : QVariant(QMetaType(QMetaType::QString));
}

inline std::optional<QString> readOptionalText(const QVariant& v) {
    if (v.isNull())
        return std::nullopt;
    return v.toString();
}

inline std::optional<int> readOptionalInt(const QVariant& v) {
    if (v.isNull())
        return std::nullopt;
    return v.toInt();
}

inline std::optional<QDate> readOptionalDate(const QVariant& v) {
    if (v.isNull())
        return std::nullopt;
    const QDate d = QDate::fromString(v.toString(), Qt::ISODate);
    return d.isValid() ? std::optional<QDate>(d) : std::nullopt;
}

} // namespace SqlValues
