// SPDX-License-Identifier: MIT
#pragma once

#include <QLabel>

// A label that always takes one line: line breaks in its text read as spaces, and
// what does not fit ends in "…" instead of wrapping or widening the window.
class ElidingLabel final : public QLabel
{
    Q_OBJECT

public:
    using QLabel::QLabel;

    // The text as drawn at the current width.
    QString shownText() const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;
};
