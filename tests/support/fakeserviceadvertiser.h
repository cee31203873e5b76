// SPDX-License-Identifier: MIT
#pragma once

#include "serviceadvertiser.h"

#include <QList>

#include <optional>

// Records what would be on the network; answers at once, as a DNS-SD daemon would
// (or reports none when told it is missing).
class FakeServiceAdvertiser final : public ServiceAdvertiser
{
    Q_OBJECT

public:
    void advertise(const Service &service) override
    {
        history.append(service);
        current = service;
        if (missing)
            emit unavailable(QStringLiteral("no DNS-SD daemon"));
        else
            emit advertised(service.name);
    }
    void withdraw() override { current.reset(); }

    bool missing = false;
    QList<Service> history;         // every advertise call
    std::optional<Service> current; // what is on the network now
};
