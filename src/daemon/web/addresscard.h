// SPDX-License-Identifier: MIT
#pragma once

#include "webaddress.h"

#include <QString>

// The web remote's addresses and a QR code of the numeric one (phones resolve
// it without DNS-SD), as printed by `MarquellDaemon --print-qr`.
QString addressCard(const webaddress::Addresses &addresses);
