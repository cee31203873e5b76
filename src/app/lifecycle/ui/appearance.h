// SPDX-License-Identifier: MIT
#pragma once

class QMenuBar;
class AppDelegate;

// The whole application in the dark appearance: Fusion with a dark palette.
void applyDarkAppearance();

// The application menu with Save and Quit, both going through the delegate. On macOS
// a menu bar without a parent is the global one; elsewhere the show window adopts it.
QMenuBar *createApplicationMenu(AppDelegate &delegate);
