// SPDX-License-Identifier: MIT
#include "addresscard.h"

#include "qrcode.h"

QString addressCard(const webaddress::Addresses &addresses)
{
    QString card =
        QStringLiteral("Web remote: %1\n            %2\n").arg(addresses.named, addresses.numeric);
    if (const std::optional<QrCode> code = QrCode::encode(addresses.numeric.toUtf8()))
        card += code->toTerminalText();
    return card;
}
