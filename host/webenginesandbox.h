#pragma once

// Chromium's sandbox cannot run as root: started as root, the program turns it off itself
// unless the user has already decided (QTWEBENGINE_DISABLE_SANDBOX set, or --no-sandbox given).
// Call first thing in main, before any application object exists.
class WebEngineSandbox
{
public:
    // True when it turned the sandbox off; says so once in the log.
    static bool disableForRoot(int argc, char** argv);
};
