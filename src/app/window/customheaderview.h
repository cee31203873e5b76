// SPDX-License-Identifier: MIT
#pragma once

#include <QHeaderView>

// The spaced-out white-on-black title above each table.
class CustomHeaderView final : public QHeaderView
{
    Q_OBJECT

public:
    explicit CustomHeaderView(QWidget *parent = nullptr);

    bool isSetList() const { return m_isSetList; }
    void setIsSetList(bool isSetList);

    QString title() const;
    // The title font, or the system font at the same size when it is not installed.
    static QFont titleFont();

    static constexpr int titlePointSize = 14;

protected:
    void paintEvent(QPaintEvent *event) override;
    QSize sizeHint() const override;

private:
    bool m_isSetList = false;
};
