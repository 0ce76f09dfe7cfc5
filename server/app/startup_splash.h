// The splash window shown while the main window is created: a picture of its
// own size, centred, for 15 seconds or until the user presses a key or
// clicks anywhere in the program (that press is used up).
#pragma once

#include <QBasicTimer>
#include <QPixmap>
#include <QWidget>

class CStartupSplash : public QWidget {
    Q_OBJECT
public:
    static constexpr int kShowMs = 15000;

    static void EnableSplash(bool enable);
    static bool Enabled();
    // Creates the splash over parent, unless disabled or one exists.
    static void ShowSplash(QWidget* parent);
    // The current splash window, if any.
    static CStartupSplash* Current();
    static void HideSplash();

    // The picture (bitmap 132), drawn by the program itself.
    static QPixmap Picture();

protected:
    void paintEvent(QPaintEvent* event) override;
    void timerEvent(QTimerEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    explicit CStartupSplash(QWidget* parent);
    ~CStartupSplash() override;

    QPixmap picture_;
    QBasicTimer timer_;
    QWidget* owner_;
};
