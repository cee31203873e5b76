// SPDX-License-Identifier: MIT
#pragma once

class DaemonLauncher;
class LiveLinkSender;
class SongManager;

// What the show window works with. All three must outlive the window.
struct ShowWindowServices
{
    SongManager &songManager;
    LiveLinkSender &sender;         // the socket client
    DaemonLauncher &daemonLauncher; // the application delegate
};
