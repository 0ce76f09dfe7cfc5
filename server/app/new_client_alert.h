// The small always-on-top box that tells the user, while the main window is
// minimised, that a new client is being served: the client's address and a
// looping animation on magenta. Any click or key on it hides it.
#pragma once

#include <QBasicTimer>
#include <QDialog>

class QLineEdit;
class QPushButton;

// The alert's animation (clip IDR_AVI1): 20 frames of 260 x 40 pixels at 10
// frames a second, repeating: a data packet travelling from a server to a
// client along a dotted line.
class CAlertAnimation : public QWidget {
    Q_OBJECT
public:
    static constexpr int kFrames = 20;
    static constexpr int kWidth = 260;
    static constexpr int kHeight = 40;
    static constexpr int kFrameMs = 100;

    explicit CAlertAnimation(QWidget* parent = nullptr);

    // Starts playing from the first frame to the last, repeating.
    void Play();
    void Stop();
    bool Playing() const { return timer_.isActive(); }
    int Frame() const { return frame_; }

    // Draws one frame of the clip.
    static void DrawFrame(QPainter& painter, int frame);

    QSize sizeHint() const override { return QSize(kWidth, kHeight); }

protected:
    void paintEvent(QPaintEvent* event) override;
    void timerEvent(QTimerEvent* event) override;

private:
    QBasicTimer timer_;
    int frame_ = 0;
};

class CNewClientAlert : public QDialog {
    Q_OBJECT
public:
    static constexpr int IDOK_BUTTON = 1;
    static constexpr int IDC_CLIENT = 1006;
    static constexpr int IDC_ANIMATE = 1037;
    static constexpr char kTitle[] = "Vantrel          New Client being Served";

    // No parent: the alert belongs to the desktop, not to the main window
    // (which is minimised while it shows).
    CNewClientAlert();

    // Shows the alert normally with client in its box.
    void ShowClient(const QString& client);
    QString Client() const { return client_; }
    CAlertAnimation* Animation() const { return animation_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    bool event(QEvent* event) override;

private:
    bool HidesOn(const QEvent* event) const;

    QString client_;
    QLineEdit* edit_ = nullptr;
    QPushButton* ok_ = nullptr;
    CAlertAnimation* animation_ = nullptr;
};
