#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QDateTime>
#include <QJsonArray>
#include <QJsonValue>
#include <QString>
#include <QStringList>
#include <QUuid>

#include <cmath>
#include <limits>
#include <optional>

// Reading and writing the stored JSON records one field at a time: every reader answers none for a
// missing or wrong-typed value, so each record decides for itself what a bad field means.
namespace JsonFields {

inline std::optional<QString> string(const QJsonValue &value)
{
    if (!value.isString())
        return std::nullopt;
    return value.toString();
}

inline std::optional<bool> boolean(const QJsonValue &value)
{
    if (!value.isBool())
        return std::nullopt;
    return value.toBool();
}

// Whole numbers that fit an int; fractions, infinities and huge values are refused.
inline std::optional<int> integer(const QJsonValue &value)
{
    if (!value.isDouble())
        return std::nullopt;
    const double number = value.toDouble();
    if (!std::isfinite(number) || number != std::trunc(number) || number < std::numeric_limits<int>::min()
        || number > std::numeric_limits<int>::max())
        return std::nullopt;
    return int(number);
}

inline std::optional<QUuid> uuid(const QJsonValue &value)
{
    if (!value.isString())
        return std::nullopt;
    const QUuid id = QUuid::fromString(value.toString());
    if (id.isNull())
        return std::nullopt;
    return id;
}

inline QString uuidText(const QUuid &id)
{
    return id.toString(QUuid::WithoutBraces);
}

// Standard base64 with padding. Qt's decoder is an order of magnitude slower, which shows on
// screenshots of several megabytes.
QByteArray encodeBase64(const QByteArray &data);
// Appends the base64 text of data to out without an intermediate copy.
void appendBase64(QByteArray &out, const QByteArray &data);
// None for anything but canonical-length standard base64 (no whitespace, padding only at the end).
std::optional<QByteArray> decodeBase64(QByteArrayView text);

inline std::optional<QByteArray> base64(const QJsonValue &value)
{
    if (!value.isString())
        return std::nullopt;
    return decodeBase64(value.toString().toLatin1());
}

// Instants as ISO 8601 in UTC with milliseconds, which is all the precision QDateTime keeps.
inline QString dateText(const QDateTime &date)
{
    return date.toUTC().toString(Qt::ISODateWithMs);
}

inline std::optional<QDateTime> date(const QJsonValue &value)
{
    if (!value.isString())
        return std::nullopt;
    const QDateTime parsed = QDateTime::fromString(value.toString(), Qt::ISODateWithMs);
    if (!parsed.isValid())
        return std::nullopt;
    return parsed;
}

inline std::optional<QStringList> strings(const QJsonValue &value)
{
    if (!value.isArray())
        return std::nullopt;
    QStringList list;
    for (const QJsonValue &item : value.toArray()) {
        if (!item.isString())
            return std::nullopt;
        list.append(item.toString());
    }
    return list;
}

inline QJsonArray stringArray(const QStringList &list)
{
    return QJsonArray::fromStringList(list);
}

inline QJsonValue optionalString(const std::optional<QString> &value)
{
    return value ? QJsonValue(*value) : QJsonValue(QJsonValue::Null);
}

// An optional string field: absent or null is none; any other non-string is a bad field.
inline std::optional<std::optional<QString>> optionalStringField(const QJsonValue &value)
{
    if (value.isUndefined() || value.isNull())
        return std::optional<QString>();
    if (!value.isString())
        return std::nullopt;
    return std::optional<QString>(value.toString());
}

} // namespace JsonFields
