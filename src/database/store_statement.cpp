#include "database/store_statement.h"

void StoreStatement::bindOptionalText(int index, const std::optional<QString>& value) {
    if (value)
        bindText(index, *value);
    else
        bindNull(index);
}

void StoreStatement::bindOptionalInteger(int index, const std::optional<int>& value) {
    if (value)
        bindInteger(index, *value);
    else
        bindNull(index);
}

void StoreStatement::bindOptionalDate(int index, const std::optional<QDate>& value) {
    if (value && value->isValid())
        bindText(index, value->toString(Qt::ISODate));
    else
        bindNull(index);
}

std::optional<QString> StoreStatement::optionalText(int column) const {
    if (isNull(column))
        return std::nullopt;
    return text(column);
}

std::optional<int> StoreStatement::optionalInteger(int column) const {
    if (isNull(column))
        return std::nullopt;
    return int(integer(column));
}

std::optional<QDate> StoreStatement::optionalDate(int column) const {
    if (isNull(column))
        return std::nullopt;
    const QDate d = QDate::fromString(text(column), Qt::ISODate);
    return d.isValid() ? std::optional<QDate>(d) : std::nullopt;
}
