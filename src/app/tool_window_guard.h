#pragma once

class QWidget;

namespace plumora {

// A tool window of the main window (an effect window, Image size, About)
// has a close box only, but some window managers (openbox) offer a
// minimise button on every window whatever it asks for, and minimise the
// main window along with it, leaving no way back without a panel. A
// minimise the user gives the tool window itself is undone at once: both
// windows come back as they were. Minimising the main window, which takes
// its tool windows along, is left as it is.
void keepFromMinimising(QWidget* toolWindow, QWidget* mainWindow);

}  // namespace plumora
