// SPDX-License-Identifier: MIT
#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QVariantList>

// One OSC message as the listener hands it on, after liblo has parsed it (inside a
// bundle or alone): arguments as Qt values — i and h as integers, f and d as doubles,
// s and S as strings, T and F as booleans; any other type tag as an invalid QVariant.
struct OscMessage
{
    QByteArray path; // the registered address it matched (a pattern is expanded)
    QByteArray types;
    QVariantList args;
    QHostAddress sender;
    quint16 senderPort = 0;
};
