#include "app/widgets/StateButton.h"

StateButton::StateButton(QWidget* parent) : QPushButton(parent) {
    // Checkable only so that a click calls nextCheckState(); the checked
    // look itself is never used.
    setCheckable(true);
}

void StateButton::setState(int state) {
    state_ = (state == kOnState || state == kOffState) ? state : kMixedState;
}

void StateButton::nextCheckState() { state_ = state_ == kOnState ? kOffState : kOnState; }
