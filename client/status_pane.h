// The status bar's message pane: a text too long for the pane is shown with
// its middle elided and whole in the tooltip; the pane never asks for more
// width than the bar gives it, so the clock beside it keeps its own.
#pragma once

#include <QLabel>

class CStatusPane : public QLabel {
public:
    explicit CStatusPane(const QString& text, QWidget* parent = nullptr);

    void SetText(const QString& text);
    // The text as drawn: the whole text, or its elided form.
    QString ShownText() const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void UpdateToolTip();
};
