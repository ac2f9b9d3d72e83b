// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <QFrame>
#include <QString>

/// A status bar panel that keeps its whole text and, when the text does not fit,
/// shows it shortened in the middle (the whole text is then its tooltip).
class StatusPanel : public QFrame {
    Q_OBJECT
public:
    explicit StatusPanel(QWidget* parent = nullptr);

    void setText(const QString& text);
    [[nodiscard]] const QString& text() const { return m_text; }
    /// What the panel shows at its current width.
    [[nodiscard]] QString displayedText() const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString m_text;
};
