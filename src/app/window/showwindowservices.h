// SPDX-License-Identifier: MIT
#pragma once

class DaemonLauncher;
class LiveLinkSender;
class SongManager;
class SongPositionModel;

// What the show window works with. All of them must outlive the window.
struct ShowWindowServices
{
    SongManager &songManager;
    LiveLinkSender &sender;         // the socket client
    DaemonLauncher &daemonLauncher; // the application delegate
    // Where Live plays inside the song; without it the window shows no song progress.
    SongPositionModel *position = nullptr;
};
