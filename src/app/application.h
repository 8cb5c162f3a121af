#pragma once

#include <memory>

namespace plumora {

class MainWindow;

// Creates every window of the program, all hidden, main window first, in
// the order the program has always created them; the main window owns the
// others. The built-in photograph comes from the resources.
std::unique_ptr<MainWindow> createWindows();

}  // namespace plumora
