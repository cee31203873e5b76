// SPDX-License-Identifier: MIT
// A fresh process that reads the thru selection from a settings file as the daemon does
// at start, and prints the IDs in order: what a restart reads back.
//   thruselection FILE
#include "fakemidibackend.h"
#include "midithru.h"

#include <QCoreApplication>

#include <algorithm>
#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    if (argc != 2) {
        std::fputs("usage: thruselection FILE\n", stderr);
        return 64;
    }
    QSettings settings(QString::fromLocal8Bit(argv[1]), QSettings::IniFormat);
    FakeMidiBackend backend;
    MIDIEmitter emitter(backend);
    QList<qint32> ids = MIDIThru(backend, emitter, settings).selectedSourceIDs().values();
    std::sort(ids.begin(), ids.end());
    for (const qint32 id : std::as_const(ids))
        std::printf("%d\n", id);
    return 0;
}
