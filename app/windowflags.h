#pragma once

// One flag per window that may be open only once. Each such window names its flag as
// `static constexpr bool WindowOpenFlags::*openFlag`, which is all the window registry
// needs to open it or bring it to the front.
struct WindowOpenFlags {
    bool aboutWindowOpen = false;
    bool comWindowOpen = false;
    bool commandWindowOpen = false;
    bool debugWindowOpen = false;
    bool portWindowOpen = false;
    bool moduleWindowOpen = false;
    bool stringWindowOpen = false;
    bool productionWindowOpen = false;
    bool recordsWindowOpen = false;
    bool linkTestWindowOpen = false;
};
