#pragma once

#include <string>

namespace pelmora {

// The window that shows the change mask during a detailed run.
inline constexpr const char* kMaskWindowName = "diff";

// A named display window of the imaging library. The library knows its windows by name
// alone; this object only creates one, and closes it again when it goes away.
class DisplayWindow {
public:
    explicit DisplayWindow(std::string name);
    ~DisplayWindow();
    DisplayWindow(const DisplayWindow&) = delete;
    DisplayWindow& operator=(const DisplayWindow&) = delete;

    const std::string& getName() const { return name; }

private:
    std::string name;
};

// The key wait of a detailed run: lets the display windows handle their events for a
// millisecond and tells whether Escape was typed into one of them.
bool escapeTypedInDisplay();

}  // namespace pelmora
