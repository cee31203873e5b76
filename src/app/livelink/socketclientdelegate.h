// SPDX-License-Identifier: MIT
#pragma once

// Receives what Live reports for the show window. Called on the main thread, queued
// after the message that caused it has been handled.
class SocketClientDelegate
{
public:
    virtual ~SocketClientDelegate() = default;
    virtual void selectSetlistRow(int index) = 0; // type 5
    virtual void showCueMode(int mode) = 0;       // type 7; 0 selects nothing
    virtual void showBPM(float bpm) = 0;          // type 8
};
