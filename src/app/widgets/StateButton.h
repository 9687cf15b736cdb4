#pragma once
// A push button with a state of on, off or mixed, like a toggle button of
// the original interface: a click moves on to the other state before the
// button's action runs, so the action reads the state the click gave it.
// The button keeps its ordinary look in every state; its title tells what
// the next click does.

#include <QPushButton>

class StateButton : public QPushButton {
    Q_OBJECT
public:
    static constexpr int kMixedState = -1;
    static constexpr int kOffState = 0;
    static constexpr int kOnState = 1;

    explicit StateButton(QWidget* parent = nullptr);

    int state() const { return state_; }
    void setState(int state);

protected:
    void nextCheckState() override;

private:
    int state_ = kOffState;
};
