// SPDX-License-Identifier: MIT
#pragma once

#include "serviceadvertiser.h"

#include <optional>

// Records what would be on the network; answers at once, as a DNS-SD daemon would.
class FakeServiceAdvertiser final : public ServiceAdvertiser
{
    Q_OBJECT

public:
    void advertise(const Service &service) override
    {
        current = service;
        emit advertised(service.name);
    }
    void withdraw() override { current.reset(); }

    std::optional<Service> current; // what is on the network now
};
