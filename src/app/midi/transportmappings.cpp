// SPDX-License-Identifier: MIT
#include "transportmappings.h"

#include "livelinksender.h"
#include "log.h"

TransportMappings::TransportMappings(QObject *parent) : QObject(parent) {}

std::optional<MappingData> TransportMappings::mapping(int tag) const
{
    switch (tag) {
    case 1:
        return playMapping;
    case 2:
        return stopMapping;
    case 3:
        return prevMapping;
    case 4:
        return nextMapping;
    default:
        return std::nullopt;
    }
}

void TransportMappings::setMapping(int tag, const std::optional<MappingData> &mapping)
{
    switch (tag) {
    case 1:
        playMapping = mapping;
        break;
    case 2:
        stopMapping = mapping;
        break;
    case 3:
        prevMapping = mapping;
        break;
    case 4:
        nextMapping = mapping;
        break;
    default:
        mlog::out(QStringLiteral("Unknown tag: %1. No mapping applied.").arg(tag));
        break;
    }
}

void TransportMappings::sendAll(LiveLinkSender &sender) const
{
    for (int tag = 1; tag <= 4; ++tag) {
        const std::optional<MappingData> m = mapping(tag);
        mlog::out(QStringLiteral("Tag %1: Mapping is %2").arg(tag).arg(m ? "set" : "nil"));
        if (m) {
            // Held mappings are always within byte range: learning produces them so and
            // the socket client skips out-of-range records from Live.
            sender.sendMapping(static_cast<quint8>(m->channel), static_cast<quint8>(m->msgType),
                               static_cast<quint16>(m->identifier), static_cast<quint8>(tag));
        } else {
            sender.sendClearMapping(tag);
        }
    }
}
