// SPDX-License-Identifier: MIT
#pragma once

#include "mappingdata.h"

#include <QObject>

#include <optional>

class LiveLinkSender;

// The mappings of the four transport controls as Live last reported them (or as the
// user applied them). Main thread only.
class TransportMappings final : public QObject
{
    Q_OBJECT

public:
    explicit TransportMappings(QObject *parent = nullptr);

    std::optional<MappingData> playMapping;
    std::optional<MappingData> stopMapping;
    std::optional<MappingData> prevMapping;
    std::optional<MappingData> nextMapping;

    // Tags 1 play, 2 stop, 3 previous, 4 next; any other tag gives none.
    std::optional<MappingData> mapping(int tag) const;
    void setMapping(int tag, const std::optional<MappingData> &mapping);

    // Sends all four to Live, tags 1 to 4 in order: a set-mapping message for a tag
    // with a mapping, a clear-mapping message for one without.
    void sendAll(LiveLinkSender &sender) const;

signals:
    void midiMappingDidUpdate();
};
