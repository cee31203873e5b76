// SPDX-License-Identifier: MIT
#pragma once

#include "showwindowservices.h"
#include "stagerunmainwindow.h"

#include <memory>

// Builds the show window from its layout and loads both panes in item order, so the
// song pool pane loads last and is the one delegatePane() returns. Restores the
// remembered geometry and pool-pane state. The services must outlive the window.
std::unique_ptr<StageRunMainWindow> createShowWindow(ShowWindowServices &services);

// The dark stage look of the window.
QString showWindowStyleSheet();
