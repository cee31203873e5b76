// SPDX-License-Identifier: MIT
#pragma once

#include <QPushButton>

// A transport button that fires the moment it is pressed, once per press: on stage a
// release that drifts off the button must not cancel the command, and holding it
// must not repeat it. The press shows as a short highlight.
class PressButton final : public QPushButton
{
    Q_OBJECT

public:
    explicit PressButton(QWidget *parent = nullptr);

    static constexpr int highlightMs = 100;

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
};
