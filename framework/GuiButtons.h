// Buttons on interface pins. A button is a bool pin; the modules use it in one of two ways:
// acting at every notification that finds it true (a plain test of the pin), or acting on
// release, when it goes from true to false, which needs the previous state kept here.
#pragma once

class ReleaseButton {
public:
    // [GUI thread] Takes the pin's value at a notification; true once per press, at its release.
    // A press, a repeated true or a repeated false does nothing.
    bool released(bool pressed)
    {
        const bool act = wasPressed_ && !pressed;
        wasPressed_ = pressed;
        return act;
    }

private:
    bool wasPressed_ = false; // the value at the previous notification
};
