// SPDX-License-Identifier: MIT
#pragma once

#include <QFrame>

// A dark translucent backdrop with a darker triangle above its rising diagonal,
// lit by a faint blue glow.
class BackgroundColorBox final : public QFrame
{
    Q_OBJECT
    Q_PROPERTY(double backgroundAlpha READ backgroundAlpha WRITE setBackgroundAlpha)
    Q_PROPERTY(double triangleAlpha READ triangleAlpha WRITE setTriangleAlpha)

public:
    explicit BackgroundColorBox(QWidget *parent = nullptr);

    double backgroundAlpha() const { return m_backgroundAlpha; }
    void setBackgroundAlpha(double alpha);
    double triangleAlpha() const { return m_triangleAlpha; }
    void setTriangleAlpha(double alpha);

    // The triangle in widget coordinates: top-left, top-right and bottom-left corners.
    QPolygonF triangle() const;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    double m_backgroundAlpha = 0.9;
    double m_triangleAlpha = 1.0;
};
