#pragma once
// How a program tells its user something, the one way for the whole program: a box on a
// desktop, which does not hold the program up (every station's audio runs through the same
// thread), and a line on standard error (the journal of a service) where there is no screen,
// since a box there would wait for a click that never comes.

#include <functional>
#include <string>

class QWidget;

namespace Notifier {

// Shows the text; never waits.
void Say(const std::string& text, QWidget* parent = nullptr);
// True when a box can be seen: a desktop platform with a screen.
bool HasScreen();
// Tests take the messages here instead; empty for the real behaviour.
std::function<void(const std::string&)>& Hook();

}  // namespace Notifier
