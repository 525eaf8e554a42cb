#pragma once

#include <QTimer>
#include <QWidget>

// A small spinning wheel for "please wait": twelve spokes, the brightest
// going round. Hidden while stopped, like the wheels of other desktops.
class BusySpinner final : public QWidget {
    Q_OBJECT

public:
    explicit BusySpinner(QWidget* parent = nullptr);

    void start();
    void stop();
    bool isAnimating() const { return timer_.isActive(); }

    QSize sizeHint() const override { return {16, 16}; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QTimer timer_;
    int step_ = 0;
};
