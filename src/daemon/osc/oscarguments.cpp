// SPDX-License-Identifier: MIT
#include "oscarguments.h"

#include <cmath>

namespace oscarguments {

std::optional<double> number(const QVariant &arg)
{
    switch (arg.typeId()) {
    case QMetaType::Bool:
        return arg.toBool() ? 1.0 : 0.0;
    case QMetaType::Int:
    case QMetaType::LongLong:
        return double(arg.toLongLong());
    case QMetaType::Double: {
        const double value = arg.toDouble();
        return std::isfinite(value) ? std::optional(value) : std::nullopt;
    }
    case QMetaType::QString: {
        bool ok = false;
        const double value = arg.toString().trimmed().toDouble(&ok);
        return ok && std::isfinite(value) ? std::optional(value) : std::nullopt;
    }
    default:
        return std::nullopt;
    }
}

std::optional<qint64> wholeNumber(const QVariant &arg)
{
    if (arg.typeId() == QMetaType::LongLong || arg.typeId() == QMetaType::Int)
        return arg.toLongLong();
    const std::optional<double> value = number(arg);
    if (!value || *value != std::floor(*value) || std::abs(*value) > 9.0e15)
        return std::nullopt;
    return qint64(*value);
}

std::optional<quint64> songId(const QVariant &arg)
{
    if (arg.typeId() == QMetaType::QString) {
        bool ok = false;
        const quint64 id = arg.toString().trimmed().toULongLong(&ok);
        return ok ? std::optional(id) : std::nullopt;
    }
    if (arg.typeId() == QMetaType::Double)
        return std::nullopt;
    const std::optional<qint64> id = wholeNumber(arg);
    return id && *id >= 0 ? std::optional(quint64(*id)) : std::nullopt;
}

bool isRelease(const OscMessage &message)
{
    if (message.args.size() != 1)
        return false;
    const std::optional<double> value = number(message.args.first());
    return value && *value == 0.0;
}

} // namespace oscarguments
